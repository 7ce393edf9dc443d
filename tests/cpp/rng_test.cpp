#include "rules/rng.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

namespace tornquil {
namespace {

std::string hex_words(const std::array<std::uint32_t, 16>& words) {
  std::string out;
  for (const std::uint32_t word : words) {
    for (int byte = 0; byte < 4; ++byte) {
      char pair[3];
      std::snprintf(pair, sizeof pair, "%02x", (word >> (8 * byte)) & 0xff);
      out += pair;
    }
  }
  return out;
}

TEST(ChaCha, AllZeroKeyKeystreamsMatchPublishedVectors) {
  const ChaChaKey zero{};
  EXPECT_EQ(hex_words(chacha_block<20>(zero, 0, 0)),
            "76b8e0ada0f13d90405d6ae55386bd28bdd219b8a08ded1aa836efcc8b770dc7"
            "da41597c5157488d7724e03fb8d84a376a43b8f41518a11cc387b669b2ee6586");
  EXPECT_EQ(hex_words(chacha_block<12>(zero, 0, 0)),
            "9bf49a6a0755f953811fce125f2683d50429c3bb49e074147e0089a52eae155f"
            "0564f879d27ae3c02ce82834acfa8c793a629f2ca0de6919610be82f411326be");
  EXPECT_EQ(hex_words(chacha_block<12>(zero, 1, 0)),
            "0bd58841203e74fe86fc71338ce0173dc628ebb719bdcbcc151585214cc089b4"
            "42258dcda14cf111c602b8971b8cc843e91e46ca905151c02744a6b017e69316");
}

// The block function written out word by word, as the cipher is defined, for comparing the
// library's vectorised one with on keys, counters and streams that no published vector covers.
template <int Rounds>
std::array<std::uint32_t, 16> plain_chacha_block(const ChaChaKey& key, std::uint64_t counter,
                                                 std::uint64_t stream) {
  std::array<std::uint32_t, 16> input = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};
  for (std::size_t word = 0; word < 8; ++word) {
    for (std::size_t byte = 0; byte < 4; ++byte) {
      input[4 + word] |= std::uint32_t{key[4 * word + byte]} << (8 * byte);
    }
  }
  input[12] = static_cast<std::uint32_t>(counter);
  input[13] = static_cast<std::uint32_t>(counter >> 32);
  input[14] = static_cast<std::uint32_t>(stream);
  input[15] = static_cast<std::uint32_t>(stream >> 32);
  std::array<std::uint32_t, 16> x = input;
  const auto quarter = [&x](int a, int b, int c, int d) {
    x[a] += x[b], x[d] = std::rotl(x[d] ^ x[a], 16);
    x[c] += x[d], x[b] = std::rotl(x[b] ^ x[c], 12);
    x[a] += x[b], x[d] = std::rotl(x[d] ^ x[a], 8);
    x[c] += x[d], x[b] = std::rotl(x[b] ^ x[c], 7);
  };
  for (int round = 0; round < Rounds; round += 2) {
    quarter(0, 4, 8, 12), quarter(1, 5, 9, 13), quarter(2, 6, 10, 14), quarter(3, 7, 11, 15);
    quarter(0, 5, 10, 15), quarter(1, 6, 11, 12), quarter(2, 7, 8, 13), quarter(3, 4, 9, 14);
  }
  for (std::size_t word = 0; word < 16; ++word) x[word] += input[word];
  return x;
}

TEST(ChaCha, BlocksEqualTheWordByWordDefinitionForRandomKeysCountersAndStreams) {
  std::uint64_t random = 0x0123456789ABCDEFULL;
  const auto next = [&random] {
    random = random * 6364136223846793005ULL + 1442695040888963407ULL;
    return random ^ (random >> 29);
  };
  for (int trial = 0; trial < 2000; ++trial) {
    ChaChaKey key;
    for (std::uint8_t& byte : key) byte = static_cast<std::uint8_t>(next() >> 56);
    // Counters and streams whose high words are set too, and all-ones ones that carry nowhere.
    const std::uint64_t counter = trial % 7 == 0 ? ~std::uint64_t{0} : next();
    const std::uint64_t stream = trial % 5 == 0 ? ~std::uint64_t{0} : next();
    ASSERT_EQ(chacha_block<12>(key, counter, stream), plain_chacha_block<12>(key, counter, stream));
    ASSERT_EQ(chacha_block<20>(key, counter, stream), plain_chacha_block<20>(key, counter, stream));
    ASSERT_EQ(chacha_block<8>(key, counter, stream), plain_chacha_block<8>(key, counter, stream));
  }
}

TEST(StdRng, SeededDrawsMatchReferenceValues) {
  StdRng zero = StdRng::seed_from_u64(0);
  for (const std::uint32_t expected :
       {0xcd2c6f7fU, 0xbb2a3fb2U, 0x8e27697bU, 0xc6017c94U, 0xcf310a16U, 0x069dc102U}) {
    EXPECT_EQ(zero.next_u32(), expected);
  }
  EXPECT_EQ(zero.next_u64(), 0x958b761dabe5f6d0ULL);

  StdRng answer = StdRng::seed_from_u64(42);
  for (const std::uint32_t expected :
       {0x222724a2U, 0x86cc7763U, 0x3fad517dU, 0x8af00a13U, 0xde5134d1U, 0xa2ef6071U}) {
    EXPECT_EQ(answer.next_u32(), expected);
  }
  EXPECT_EQ(answer.next_u64(), 0x67e92d78fd7630b2ULL);
}

// Hands out the given 32-bit words in order and counts them; running out fails the test.
class ScriptedRng {
 public:
  explicit ScriptedRng(std::vector<std::uint32_t> words) : words_(std::move(words)) {}
  std::uint32_t next_u32() {
    if (used_ == words_.size()) {
      ADD_FAILURE() << "drew more words than scripted";
      return 0;
    }
    return words_[used_++];
  }
  [[nodiscard]] std::size_t used() const { return used_; }

 private:
  std::vector<std::uint32_t> words_;
  std::size_t used_ = 0;
};

TEST(UniformIndex, IsTheHighHalfOfTheProduct) {
  ScriptedRng rng({0x80000000U, 0x00000000U, 0x40000000U});
  EXPECT_EQ(uniform_index(rng, 10), 5u);
  EXPECT_EQ(uniform_index(rng, 1), 0u);
  EXPECT_EQ(uniform_index(rng, 10), 2u);
  EXPECT_EQ(rng.used(), 3u);
}

TEST(UniformIndex, ZoneOfAPowerOfTwoIsOnlyTheLowerHalf) {
  // n = 8: zone is (8 << 28) - 1 = 0x7FFFFFFF, so 0xFFFFFFFF * 8 (low half 0xFFFFFFF8) is
  // rejected although every product would be unbiased; the reference draws the same way.
  ScriptedRng rng({0xFFFFFFFFU, 0xEFFFFFFFU});
  EXPECT_EQ(uniform_index(rng, 8), 7u);
  EXPECT_EQ(rng.used(), 2u);
}

TEST(UniformIndex, RejectsLowProductsAboveTheZoneAndDrawsAgain) {
  // n = 3: zone is 0xBFFFFFFF. 0xFFFFFFFF * 3 leaves 0xFFFFFFFD below, which is rejected.
  ScriptedRng rng({0xFFFFFFFFU, 0xC0000000U});
  EXPECT_EQ(uniform_index(rng, 3), 2u);
  EXPECT_EQ(rng.used(), 2u);
}

TEST(UniformIndex, AcceptsALowProductEqualToTheZoneAndRejectsOneAbove) {
  // n = 3: 0x95555555 * 3 = 0x1BFFFFFFF, whose low half is exactly the zone 0xBFFFFFFF;
  // 0x95555556 * 3 leaves 0xC0000002 and is rejected.
  ScriptedRng exact({0x95555555U});
  EXPECT_EQ(uniform_index(exact, 3), 1u);
  EXPECT_EQ(exact.used(), 1u);
  ScriptedRng above({0x95555556U, 0x00000000U});
  EXPECT_EQ(uniform_index(above, 3), 0u);
  EXPECT_EQ(above.used(), 2u);
}

TEST(UniformIndex, StaysBelowTheBoundForSeededDraws) {
  StdRng rng = StdRng::seed_from_u64(3);
  for (const std::uint32_t n : {1U, 2U, 3U, 7U, 12U, 42U, 1000003U, 0xFFFFFFFFU}) {
    for (int draw = 0; draw < 200; ++draw) EXPECT_LT(uniform_index(rng, n), n);
  }
}

TEST(Shuffle, ListsOfNoneOrOneElementDrawNothing) {
  ScriptedRng rng({});
  std::vector<int> empty;
  shuffle(rng, empty);
  std::vector<int> single{4};
  shuffle(rng, single);
  EXPECT_EQ(single, std::vector<int>{4});
  EXPECT_EQ(rng.used(), 0u);
}

TEST(Shuffle, SwapsFromTheBackWithAnIndexUpToTheCurrentPosition) {
  // i = 3: j = high(0x80000000 * 4) = 2; i = 2: j = high(0 * 3) = 0;
  // i = 1: j = high(0xBFFFFFFF * 2) = 1.
  ScriptedRng rng({0x80000000U, 0x00000000U, 0xBFFFFFFFU});
  std::vector<int> items{0, 1, 2, 3};
  shuffle(rng, items);
  EXPECT_EQ(items, (std::vector<int>{3, 1, 0, 2}));
  EXPECT_EQ(rng.used(), 3u);
}

TEST(Shuffle, SeededShuffleIsAReproduciblePermutation) {
  std::vector<int> first(20);
  std::iota(first.begin(), first.end(), 0);
  std::vector<int> second = first;
  StdRng rng = StdRng::seed_from_u64(9);
  StdRng same = StdRng::seed_from_u64(9);
  shuffle(rng, first);
  shuffle(same, second);
  EXPECT_EQ(first, second);
  std::vector<int> sorted = first;
  std::sort(sorted.begin(), sorted.end());
  std::vector<int> identity(20);
  std::iota(identity.begin(), identity.end(), 0);
  EXPECT_EQ(sorted, identity);
  EXPECT_NE(first, identity);
}

TEST(StdRng, SixtyFourBitDrawTakesTheLowHalfFirst) {
  StdRng words = StdRng::seed_from_u64(0);
  StdRng wide = words;
  const std::uint64_t low = words.next_u32();
  const std::uint64_t high = words.next_u32();
  EXPECT_EQ(wide.next_u64(), (high << 32) | low);
}

TEST(StdRng, CrossesIntoTheNextBlockAfterSixteenWords) {
  StdRng rng(ChaChaKey{});
  const auto second_block = chacha_block<12>(ChaChaKey{}, 1, 0);
  for (int word = 0; word < 16; ++word) (void)rng.next_u32();
  EXPECT_EQ(rng.next_u32(), second_block[0]);
}

}  // namespace
}  // namespace tornquil
