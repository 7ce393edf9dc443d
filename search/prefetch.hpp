// Asking for a cache line before it is needed, to read it or to write it.
#pragma once

namespace tornquil::search {

inline void prefetch_for_read(const void* address) { __builtin_prefetch(address, 0); }

// Takes the line for this core alone, so that a later atomic add on it finds it here rather than
// waiting for another core to give it up. Compilers emit a mere read prefetch for
// __builtin_prefetch(address, 1) unless built for a processor known to have the write form;
// processors without it run the instruction as a no-op.
inline void prefetch_for_write(const void* address) {
#if defined(__x86_64__) || defined(__i386__)
  asm volatile("prefetchw %0" : : "m"(*static_cast<const char*>(address)));
#else
  __builtin_prefetch(address, 1);
#endif
}

}  // namespace tornquil::search
