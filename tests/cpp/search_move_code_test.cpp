// The game's moves as the tree keeps them: every legal action survives its code unchanged.
#include <gtest/gtest.h>

#include <vector>

#include "game_search/move_code.hpp"
#include "game_search/search_settings.hpp"
#include "rules/state.hpp"
#include "test_helpers.hpp"

namespace tornquil {
namespace {

// Walks random games and checks every action listed on the way.
template <std::size_t N>
void every_listed_action_survives_its_code(std::uint64_t first_seed, int games) {
  StdRng choices = StdRng::seed_from_u64(first_seed);
  std::size_t checked = 0;
  for (int game = 0; game < games; ++game) {
    State<N> state = State<N>::create(first_seed + static_cast<std::uint64_t>(game));
    for (int step = 0; step < 5000; ++step) {
      const auto actions = state.get_action_space();
      ASSERT_FALSE(actions.empty());
      std::vector<MoveCode> codes;
      for (const Action& action : actions) {
        const MoveCode code = encode_move(action);
        ASSERT_EQ(decode_move(code), action) << "seed " << first_seed + game << " step " << step;
        codes.push_back(code);
        ++checked;
      }
      // Equal codes for equal actions only (a hand may hold two equal jesters).
      for (std::size_t i = 0; i < actions.size(); ++i) {
        for (std::size_t j = i + 1; j < actions.size(); ++j) {
          ASSERT_EQ(codes[i] == codes[j], actions[i] == actions[j]);
        }
      }
      const Action& chosen =
          actions[uniform_index(choices, static_cast<std::uint32_t>(actions.size()))];
      if (state.apply_action_in_place(chosen)) break;
    }
  }
  EXPECT_GT(checked, 1000U);
}

TEST(SearchMoveCode, EveryActionOfRandomGamesDecodesToItself) {
  every_listed_action_survives_its_code<1>(10, 150);
  every_listed_action_survives_its_code<2>(20, 150);
  every_listed_action_survives_its_code<3>(30, 150);
  every_listed_action_survives_its_code<4>(40, 150);
}

TEST(SearchMoveCode, ExtremesOfEachKindDecodeToThemselves) {
  using testing::club;
  using testing::diamond;
  using testing::spade;
  // The fullest discard, the jester's card and the last seat use every slot and field there is.
  Hand eight;
  for (const CardValue value :
       {CardValue::King, CardValue::Queen, CardValue::Jack, CardValue::Ten, CardValue::Nine,
        CardValue::Eight, CardValue::Seven, CardValue::Ace}) {
    eight.push_back(club(value));
  }
  const std::vector<Action> actions = {
      action::Discard{eight},
      action::Discard{{jester_card}},
      action::Play{jester_card},
      action::Play{Card{}},
      action::AnimalCombo{spade(CardValue::Ace), diamond(CardValue::Ace)},
      action::Combo{{club(CardValue::Two), spade(CardValue::Two), diamond(CardValue::Two),
                     Card{CardSuit::Hearts, CardValue::Two}}},
      action::Yield{},
      action::ChangePlayer{PlayerId{0}},
      action::ChangePlayer{PlayerId{3}},
  };
  for (const Action& action : actions) EXPECT_EQ(decode_move(encode_move(action)), action);
}

TEST(SearchMoveCode, RootEdgesOfASearchGiveBackTheListedActionsInOrder) {
  const State<2> state = State<2>::create(5);
  auto mcts = new_game_search<2, false>(state, policy_from_number(0));
  mcts.playout_n_parallel(200, 2);
  const std::vector<Action> listed = state.get_action_space();
  const auto edges = mcts.tree().root_node().moves();
  ASSERT_EQ(edges.size(), listed.size());
  for (std::size_t i = 0; i < listed.size(); ++i) EXPECT_EQ(edges[i].get_move(), listed[i]);
}

}  // namespace
}  // namespace tornquil
