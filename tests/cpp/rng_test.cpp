#include "game/rng.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

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

TEST(StdRng, SeededDrawsMatchReferenceValues) {
  StdRng zero = StdRng::seed_from_u64(0);
  for (const std::uint32_t expected : {0xcd2c6f7fU, 0xbb2a3fb2U, 0x8e27697bU, 0xc6017c94U,
                                       0xcf310a16U, 0x069dc102U}) {
    EXPECT_EQ(zero.next_u32(), expected);
  }
  EXPECT_EQ(zero.next_u64(), 0x958b761dabe5f6d0ULL);

  StdRng answer = StdRng::seed_from_u64(42);
  for (const std::uint32_t expected : {0x222724a2U, 0x86cc7763U, 0x3fad517dU, 0x8af00a13U,
                                       0xde5134d1U, 0xa2ef6071U}) {
    EXPECT_EQ(answer.next_u32(), expected);
  }
  EXPECT_EQ(answer.next_u64(), 0x67e92d78fd7630b2ULL);
}

}  // namespace
}  // namespace tornquil
