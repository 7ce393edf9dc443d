// A seeded random driver of the rules: games from arbitrary seeds where most steps take a listed
// action and the rest an action the list does not hold, made from cards the hand really holds
// (the wrong combination, the wrong phase, any seat). Cards must never appear or vanish, no list
// may overflow, and only the damage limit may stop an unlisted play. TORNQUIL_FUZZ_SECONDS
// lengthens the run.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>

#include "rules/state.hpp"

namespace tornquil {
namespace {

using CardCounts = std::array<int, 5 * 14>;

std::size_t slot(Card card) {
  return static_cast<std::size_t>(card.suit) * 14 + static_cast<std::size_t>(card.value);
}

template <std::size_t N>
CardCounts cards_in_play(const State<N>& state) {
  CardCounts counts{};
  const auto add = [&](const auto& cards) {
    for (const Card card : cards) ++counts[slot(card)];
  };
  for (const Player& player : state.players) add(player.hand);
  add(state.table.tavern_deck);
  add(state.table.discard_pile);
  add(state.table.attack_cards);
  for (const Enemy& enemy : state.table.castle_deck) ++counts[slot(enemy.card())];
  return counts;
}

// Distinct hand positions chosen at random: an unlisted action can only name cards once each.
Hand random_subset(const Hand& hand, StdRng& rng, std::size_t at_most) {
  Hand chosen;
  for (const Card card : hand) {
    if (chosen.size() < at_most && rng.next_u32() % 2 == 0) chosen.push_back(card);
  }
  return chosen;
}

template <std::size_t N>
Action unlisted_action(const State<N>& state, StdRng& rng) {
  const Hand& hand = state.current_player().hand;
  switch (rng.next_u32() % 6) {
    case 0:
      if (!hand.empty()) return action::Play{hand[uniform_index(rng, static_cast<std::uint32_t>(hand.size()))]};
      return action::Yield{};
    case 1: {
      const Hand pair = random_subset(hand, rng, 2);
      if (pair.size() == 2) return action::AnimalCombo{pair[0], pair[1]};
      return action::Yield{};
    }
    case 2: return action::Combo{from_card_iter<max_combo_size>(random_subset(hand, rng, max_combo_size))};
    case 3: return action::Yield{};
    case 4: return action::Discard{random_subset(hand, rng, max_hand_capacity)};
    default: return action::ChangePlayer{PlayerId{uniform_index(rng, N)}};
  }
}

// Plays one game; an unlisted play that hits the damage limit ends it.
template <std::size_t N>
void fuzz_game(std::uint64_t seed) {
  StdRng rng = StdRng::seed_from_u64(seed ^ 0xf022);
  State<N> state = State<N>::create(seed);
  const CardCounts dealt = cards_in_play(state);
  CardCounts removed{};  // cards that left the game through discards
  bool went_off_the_list = false;
  for (int step = 0; step < 3000; ++step) {
    const auto listed = state.get_action_space();
    // Off the list a state can arise that the rules never reach, such as a discard phase that
    // the hand can no longer pay; the rules reach none without an action.
    if (listed.empty()) {
      ASSERT_TRUE(went_off_the_list) << "a reachable state has no action, seed " << seed;
      return;
    }
    const bool take_listed = rng.next_u32() % 8 != 0;
    went_off_the_list = went_off_the_list || !take_listed;
    const Action action = take_listed ? listed[uniform_index(rng, static_cast<std::uint32_t>(listed.size()))]
                                      : unlisted_action(state, rng);
    if (const auto* discard = std::get_if<action::Discard>(&action)) {
      for (const Card card : discard->cards) ++removed[slot(card)];
    }
    std::optional<GameResult> result;
    try {
      result = state.apply_action_in_place(action);
    } catch (const InternalFault& fault) {
      ASSERT_FALSE(take_listed) << "a listed action faulted: " << fault.what() << ", seed " << seed;
      ASSERT_EQ(std::string(fault.what()), "That's a lot of damage!") << "seed " << seed;
      return;
    }
    if (result) return;
    CardCounts now = cards_in_play(state);
    for (std::size_t i = 0; i < now.size(); ++i) now[i] += removed[i];
    ASSERT_EQ(now, dealt) << "cards appeared or vanished, seed " << seed << ", step " << step;
    for (const Player& player : state.players) {
      ASSERT_LE(player.hand.size(), state.max_hand_size) << "seed " << seed;
    }
  }
}

double fuzz_seconds() {
  const char* configured = std::getenv("TORNQUIL_FUZZ_SECONDS");
  return configured ? std::atof(configured) : 2.0;
}

TEST(RulesFuzz, ArbitraryActionsNeverCreateOrLoseCardsOrFaultOnListedOnes) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(fuzz_seconds());
  std::uint64_t seed = std::random_device{}();
  std::size_t games = 0;
  while (std::chrono::steady_clock::now() < deadline || games < 400) {
    fuzz_game<1>(seed++);
    fuzz_game<2>(seed++);
    fuzz_game<3>(seed++);
    fuzz_game<4>(seed++);
    games += 4;
    if (HasFatalFailure()) return;
  }
  RecordProperty("games", std::to_string(games));
}

}  // namespace
}  // namespace tornquil
