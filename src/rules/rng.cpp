#include "rules/rng.hpp"

#include <cstring>
#include <exception>
#include <random>

#include "base/error.hpp"

namespace tornquil {
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
