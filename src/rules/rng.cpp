#include "rules/rng.hpp"

#include <cstring>
#include <exception>
#include <random>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/error.hpp"

namespace tornquil {
namespace {

class Pcg32 {
 public:
  explicit Pcg32(std::uint64_t state) : state_(state) {}
  std::uint32_t next() {
    state_ = state_ * 6364136223846793005ULL + 11634580027462260723ULL;
    const auto xorshifted = static_cast<std::uint32_t>((state_ ^ (state_ >> 18)) >> 27);
    return std::rotr(xorshifted, static_cast<int>(state_ >> 59));
  }

 private:
  std::uint64_t state_;
};

// The per-thread generator behind unseeded games and players, seeded once from the OS.
class EntropySource {
 public:
  EntropySource() : rng_(os_key()) {}
  ChaChaKey key() {
    ChaChaKey key;
    for (std::size_t i = 0; i < key.size(); i += 4) {
      const std::uint32_t word = rng_.next_u32();
      std::memcpy(key.data() + i, &word, 4);
    }
    return key;
  }

 private:
  static ChaChaKey os_key() {
    std::array<std::uint32_t, 8> words;
    read_os_entropy(words);
    ChaChaKey key;
    std::memcpy(key.data(), words.data(), key.size());
    return key;
  }

  ChaChaRng<20> rng_;
};

}  // namespace

#if defined(__SSE2__)

namespace {

template <int Bits>
__m128i rotate_lanes(__m128i lanes) {
  if constexpr (Bits == 16) {
    // Swapping the 16-bit halves of every lane is one shuffle of each half of the register.
    return _mm_shufflehi_epi16(_mm_shufflelo_epi16(lanes, 0xB1), 0xB1);
  } else {
    return _mm_or_si128(_mm_slli_epi32(lanes, Bits), _mm_srli_epi32(lanes, 32 - Bits));
  }
}

// The four quarter rounds of a column (or, once rows b, c and d are turned, a diagonal) round at
// once, one lane per quarter round.
inline void quarter_rounds(__m128i& a, __m128i& b, __m128i& c, __m128i& d) {
  a = _mm_add_epi32(a, b);
  d = rotate_lanes<16>(_mm_xor_si128(d, a));
  c = _mm_add_epi32(c, d);
  b = rotate_lanes<12>(_mm_xor_si128(b, c));
  a = _mm_add_epi32(a, b);
  d = rotate_lanes<8>(_mm_xor_si128(d, a));
  c = _mm_add_epi32(c, d);
  b = rotate_lanes<7>(_mm_xor_si128(b, c));
}

}  // namespace

// The state's four rows sit in four registers, and a diagonal round is a column round after rows
// b, c and d are turned by one, two and three lanes: a Hearts play draws one or more blocks, and
// this takes about half the instructions of the word-by-word rounds below.
template <int Rounds>
std::array<std::uint32_t, 16> chacha_block(const ChaChaKey& key, std::uint64_t counter,
                                           std::uint64_t stream) {
  static_assert(std::endian::native == std::endian::little, "the key's words are loaded whole");
  const __m128i constants = _mm_set_epi32(0x6b206574, 0x79622d32, 0x3320646e, 0x61707865);
  const __m128i key_low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(key.data()));
  const __m128i key_high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(key.data() + 16));
  const __m128i position =
      _mm_set_epi64x(static_cast<long long>(stream), static_cast<long long>(counter));
  __m128i a = constants;
  __m128i b = key_low;
  __m128i c = key_high;
  __m128i d = position;
  for (int round = 0; round < Rounds; round += 2) {
    quarter_rounds(a, b, c, d);
    b = _mm_shuffle_epi32(b, _MM_SHUFFLE(0, 3, 2, 1));
    c = _mm_shuffle_epi32(c, _MM_SHUFFLE(1, 0, 3, 2));
    d = _mm_shuffle_epi32(d, _MM_SHUFFLE(2, 1, 0, 3));
    quarter_rounds(a, b, c, d);
    b = _mm_shuffle_epi32(b, _MM_SHUFFLE(2, 1, 0, 3));
    c = _mm_shuffle_epi32(c, _MM_SHUFFLE(1, 0, 3, 2));
    d = _mm_shuffle_epi32(d, _MM_SHUFFLE(0, 3, 2, 1));
  }
  std::array<std::uint32_t, 16> out;
  auto* words = reinterpret_cast<__m128i*>(out.data());
  _mm_storeu_si128(words, _mm_add_epi32(a, constants));
  _mm_storeu_si128(words + 1, _mm_add_epi32(b, key_low));
  _mm_storeu_si128(words + 2, _mm_add_epi32(c, key_high));
  _mm_storeu_si128(words + 3, _mm_add_epi32(d, position));
  return out;
}

#else

namespace {

constexpr std::uint32_t load_le(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

constexpr void quarter_round(std::array<std::uint32_t, 16>& x, int a, int b, int c, int d) {
  x[a] += x[b];
  x[d] = std::rotl(x[d] ^ x[a], 16);
  x[c] += x[d];
  x[b] = std::rotl(x[b] ^ x[c], 12);
  x[a] += x[b];
  x[d] = std::rotl(x[d] ^ x[a], 8);
  x[c] += x[d];
  x[b] = std::rotl(x[b] ^ x[c], 7);
}

}  // namespace

template <int Rounds>
std::array<std::uint32_t, 16> chacha_block(const ChaChaKey& key, std::uint64_t counter,
                                           std::uint64_t stream) {
  std::array<std::uint32_t, 16> input = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};
  for (int i = 0; i < 8; ++i) input[4 + i] = load_le(key.data() + 4 * i);
  input[12] = static_cast<std::uint32_t>(counter);
  input[13] = static_cast<std::uint32_t>(counter >> 32);
  input[14] = static_cast<std::uint32_t>(stream);
  input[15] = static_cast<std::uint32_t>(stream >> 32);
  std::array<std::uint32_t, 16> x = input;
  for (int round = 0; round < Rounds; round += 2) {
    quarter_round(x, 0, 4, 8, 12);
    quarter_round(x, 1, 5, 9, 13);
    quarter_round(x, 2, 6, 10, 14);
    quarter_round(x, 3, 7, 11, 15);
    quarter_round(x, 0, 5, 10, 15);
    quarter_round(x, 1, 6, 11, 12);
    quarter_round(x, 2, 7, 8, 13);
    quarter_round(x, 3, 4, 9, 14);
  }
  for (int i = 0; i < 16; ++i) x[i] += input[i];
  return x;
}

#endif

template <int Rounds>
ChaChaRng<Rounds> ChaChaRng<Rounds>::seed_from_u64(std::uint64_t seed) {
  Pcg32 pcg(seed);
  ChaChaKey key;
  for (std::size_t i = 0; i < key.size(); i += 4) {
    const std::uint32_t word = pcg.next();
    for (std::size_t byte = 0; byte < 4; ++byte) {
      key[i + byte] = static_cast<std::uint8_t>(word >> (8 * byte));
    }
  }
  return ChaChaRng(key);
}

template <int Rounds>
ChaChaRng<Rounds> ChaChaRng<Rounds>::from_entropy() {
  return ChaChaRng(entropy_key());
}

void read_os_entropy(std::span<std::uint32_t> words) {
  try {
    std::random_device device;
    for (std::uint32_t& word : words) word = device();
  } catch (const std::exception& error) {
    fault(std::string("could not read operating-system entropy: ") + error.what());
  }
}

ChaChaKey entropy_key() {
  thread_local EntropySource source;
  return source.key();
}

template std::array<std::uint32_t, 16> chacha_block<8>(const ChaChaKey&, std::uint64_t,
                                                       std::uint64_t);
template std::array<std::uint32_t, 16> chacha_block<12>(const ChaChaKey&, std::uint64_t,
                                                        std::uint64_t);
template std::array<std::uint32_t, 16> chacha_block<20>(const ChaChaKey&, std::uint64_t,
                                                        std::uint64_t);
template class ChaChaRng<12>;
template class ChaChaRng<20>;

}  // namespace tornquil
