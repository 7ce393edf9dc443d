#include <gtest/gtest.h>

#include "rules/state.hpp"
#include "seed_7_states.hpp"

namespace tornquil {
namespace {

template <std::size_t N>
std::string new_game_text(std::uint64_t seed) {
  return debug_text(State<N>::create(seed), Layout::Compact, Colouring::Off);
}

TEST(NewGame, DealsSeedSevenLikeTheReference) {
  EXPECT_EQ(new_game_text<1>(7), testing::seed_7_states[0]);
  EXPECT_EQ(new_game_text<2>(7), testing::seed_7_states[1]);
  EXPECT_EQ(new_game_text<3>(7), testing::seed_7_states[2]);
  EXPECT_EQ(new_game_text<4>(7), testing::seed_7_states[3]);
}

}  // namespace
}  // namespace tornquil
