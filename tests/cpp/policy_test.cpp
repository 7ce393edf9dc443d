#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "base/error.hpp"
#include "counting_game.hpp"
#include "game_search/policy_choice.hpp"
#include "search/tree_policy.hpp"

namespace tornquil {
namespace {

using namespace tornquil::search;

struct FakeEdge {
  std::uint64_t visit_count;
  std::int64_t reward_sum;
  [[nodiscard]] std::uint64_t visits() const { return visit_count; }
  [[nodiscard]] std::int64_t sum_rewards() const { return reward_sum; }
};

constexpr auto identity = [](double key) { return key; };

template <std::size_t N>
[[nodiscard]] std::size_t chosen_index(const MyPolicy& policy, const std::array<FakeEdge, N>& edges,
                                       PolicyRng& rng) {
  const FakeEdge* const chosen = policy.select_edge(std::span<const FakeEdge>(edges), rng);
  EXPECT_NE(chosen, nullptr);
  return static_cast<std::size_t>(chosen - edges.data());
}

TEST(PolicyRng, NewGeneratorStartsWithTheReferenceNumbers) {
  PolicyRng rng;
  EXPECT_EQ(rng.next_u32(), 2061U);
  EXPECT_EQ(rng.next_u32(), 6175U);
  EXPECT_EQ(rng.next_u32(), 4U);
  EXPECT_EQ(rng.next_u32(), 8224U);
}

TEST(PolicyRng, UniformDrawIsTheFirstNumberBelowTheZoneModuloN) {
  PolicyRng rng;
  EXPECT_EQ(rng.uniform_below(2), 2061U % 2);
  EXPECT_EQ(rng.uniform_below(1000), 6175U % 1000);
}

// The plain form of the draw, one number at a time from the generator's own stream.
[[nodiscard]] std::uint32_t plain_uniform_below(PolicyRng& rng, std::uint32_t n) {
  constexpr std::uint32_t all = std::numeric_limits<std::uint32_t>::max();
  for (;;) {
    const std::uint32_t value = rng.next_u32();
    if (value < all - all % n) return value % n;
  }
}

TEST(PolicyRng, UniformDrawIsThePlainRemainderForEveryCount) {
  PolicyRng fast;
  PolicyRng plain;
  for (std::uint32_t n = 2; n < 600; ++n) {
    for (int draw = 0; draw < 200; ++draw) {
      ASSERT_EQ(fast.uniform_below(n), plain_uniform_below(plain, n)) << n;
    }
  }
  // Counts whose zone rejects many numbers.
  for (const std::uint32_t n : {0x80000001U, 0xC0000000U, 0xFFFFFFFFU}) {
    for (int draw = 0; draw < 50; ++draw)
      ASSERT_EQ(fast.uniform_below(n), plain_uniform_below(plain, n));
  }
  EXPECT_EQ(fast.next_u32(), plain.next_u32());
}

TEST(PolicyRng, OneInNIsADrawOfZeroWithTheSameNumbersDrawn) {
  PolicyRng asked;
  PolicyRng drawn;
  for (std::uint32_t n = 1; n < 600; ++n) {
    for (int draw = 0; draw < 200; ++draw) {
      ASSERT_EQ(asked.one_in(n), drawn.uniform_below(n) == 0) << n;
    }
  }
  EXPECT_EQ(asked.next_u32(), drawn.next_u32());
}

TEST(PolicyRng, ChoosingUnvisitedFirstMakesTheSameChoicesAndDrawsAsTheFullScan) {
  // Keys from a few values, so that ties are common, and infinite for the unvisited elements.
  PolicyRng shape;
  PolicyRng full;
  PolicyRng skipping;
  const auto infinite = [](double key) { return key == std::numeric_limits<double>::infinity(); };
  for (int round = 0; round < 5000; ++round) {
    std::vector<double> keys(1 + shape.uniform_below(40));
    for (double& key : keys) {
      const std::uint32_t kind = shape.uniform_below(6);
      key = kind == 0 ? std::numeric_limits<double>::infinity()
                      : (kind == 1 ? std::nan("") : static_cast<double>(kind % 3));
    }
    const std::span<const double> span(keys);
    const double* const by_key = full.select_by_key(span, identity);
    const double* const unvisited_first = skipping.select_unvisited_first(span, infinite, identity);
    ASSERT_EQ(by_key, unvisited_first) << "round " << round;
    ASSERT_EQ(full.next_u32(), skipping.next_u32()) << "round " << round;
  }
}

TEST(UctKeys, TabledLogarithmsAreTheLibrarysOwn) {
  for (int n = 1; n < 5000; ++n) {
    const double count = static_cast<double>(n);
    ASSERT_EQ(uct::log_of_count(count), std::log(count)) << n;
  }
  for (const double count : {0.5, 2.5, 4095.5, 1e9, 0.0}) {
    EXPECT_EQ(uct::log_of_count(count), std::log(count)) << count;
  }
}

TEST(PolicyRng, SelectionWithoutTiesDrawsNoNumber) {
  PolicyRng rng;
  const std::array<double, 4> keys{1.0, 3.0, std::nan(""), 2.0};
  const double* chosen = rng.select_by_key(std::span<const double>(keys), identity);
  EXPECT_EQ(chosen, &keys[1]);
  const std::array<double, 1> single{-std::numeric_limits<double>::infinity()};
  // Even the lowest key ties with the starting best, so a sole element is always chosen.
  EXPECT_EQ(rng.select_by_key(std::span<const double>(single), identity), &single[0]);
  EXPECT_EQ(rng.select_by_key(std::span<const double>(), identity), nullptr);
  EXPECT_EQ(rng.next_u32(), 2061U);
}

TEST(PolicyRng, TiesAreBrokenUniformly) {
  PolicyRng rng;
  const std::array<double, 4> keys{5.0, 5.0, 1.0, 5.0};
  std::array<int, 4> counts{};
  constexpr int draws = 30000;
  for (int i = 0; i < draws; ++i) {
    const double* chosen = rng.select_by_key(std::span<const double>(keys), identity);
    ++counts[static_cast<std::size_t>(chosen - keys.data())];
  }
  EXPECT_EQ(counts[2], 0);
  for (const std::size_t tied : {0U, 1U, 3U}) EXPECT_NEAR(counts[tied], draws / 3, draws / 50);
}

TEST(PolicyRng, StreamZeroIsTheFixedSeedAndEveryOtherStreamIsItsOwn) {
  PolicyRng zero;
  zero.seed_stream(0);
  EXPECT_EQ(zero.next_u32(), 2061U);
  EXPECT_EQ(zero.next_u32(), 6175U);

  std::set<std::array<std::uint32_t, 4>> openings;
  openings.insert({2061U, 6175U, 4U, 8224U});
  for (std::uint64_t index = 1; index <= 2000; ++index) {
    PolicyRng rng;
    rng.seed_stream(index);
    std::array<std::uint32_t, 4> opening{};
    for (std::uint32_t& number : opening) number = rng.next_u32();
    EXPECT_TRUE(openings.insert(opening).second) << "stream " << index << " repeats another";
    EXPECT_NE(opening, (std::array<std::uint32_t, 4>{})) << "stream " << index << " is stuck at 0";
  }
  // Seeding again restarts the same stream.
  PolicyRng first;
  PolicyRng again;
  first.seed_stream(7);
  again.seed_stream(7);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(first.next_u32(), again.next_u32());
}

TEST(MyPolicy, RememberedBonusesGiveExactlyTheKeysComputedAfresh) {
  // Asked in an order that revisits counts, crossing the remembered range's end.
  std::vector<std::uint64_t> visits;
  for (std::uint64_t n = 100; n >= 1; --n) visits.push_back(n);
  for (std::uint64_t n = 1; n <= 100; ++n) visits.push_back(n);
  const auto check = [&visits](const auto& key) {
    uct::RememberedBonus<std::decay_t<decltype(key)>> remembered(key);
    for (const std::uint64_t n : visits) {
      for (const std::int64_t sum :
           {std::int64_t{0}, static_cast<std::int64_t>(7 * n), std::int64_t{-3}}) {
        // Bitwise: a tie-break compares keys with ==, so a last-digit difference changes a search.
        EXPECT_EQ(remembered(n, sum), key(n, sum)) << n << " visits, sum " << sum;
      }
    }
  };
  check(UCTBase{12.0}.key_for(1234.0));
  check(UCTVariation3{12.0, 0.001}.key_for(1234.0));
  check(UCTVariation4{12.0}.key_for(1234.0));
}

TEST(MyPolicy, WideNodesChooseAsIfEveryCounterWereReadAfresh) {
  // Nodes of every width, the widest far beyond any of the game, choose the best key.
  for (const std::size_t width :
       {std::size_t{3}, std::size_t{256}, std::size_t{257}, std::size_t{600}}) {
    std::vector<FakeEdge> edges;
    for (std::size_t i = 0; i < width; ++i) {
      edges.push_back(FakeEdge{1 + i % 5, static_cast<std::int64_t>((i * 7) % 13)});
    }
    const MyPolicy policy = policy_from_number(0);
    PolicyRng rng;
    const FakeEdge* const chosen = policy.select_edge(std::span<const FakeEdge>(edges), rng);
    // The best key by hand: the greatest mean among the fewest visits.
    double best = -1;
    const auto key = UCTBase{12.0}.key_for(static_cast<double>([&] {
                                             std::uint64_t total = 0;
                                             for (const FakeEdge& edge : edges)
                                               total += edge.visits();
                                             return total;
                                           }()) +
                                           1.0);
    for (const FakeEdge& edge : edges)
      best = std::max(best, key(edge.visits(), edge.sum_rewards()));
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(key(chosen->visits(), chosen->sum_rewards()), best) << width << " edges";
  }
}

TEST(MyPolicy, TwoUnvisitedChildrenOfANewGeneratorGiveTheFirst) {
  PolicyRng rng;
  const std::array<FakeEdge, 2> edges{FakeEdge{0, 0}, FakeEdge{0, 0}};
  EXPECT_EQ(chosen_index(policy_from_number(std::nullopt), edges, rng), 0U);
}

TEST(MyPolicy, UnvisitedChildIsAlwaysChosenAmongVisitedOnes) {
  PolicyRng rng;
  const std::array<FakeEdge, 3> edges{FakeEdge{10, 120}, FakeEdge{0, 0}, FakeEdge{1, 12}};
  for (const std::uint8_t number : {0, 3, 4}) {
    const MyPolicy policy = policy_from_number(number);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(chosen_index(policy, edges, rng), 1U);
  }
}

TEST(MyPolicy, OneChildIsReturnedWithoutDrawingANumber) {
  PolicyRng rng;
  const std::array<FakeEdge, 1> edges{FakeEdge{3, 6}};
  for (const std::uint8_t number : {0, 3, 4}) {
    EXPECT_EQ(chosen_index(policy_from_number(number), edges, rng), 0U);
  }
  EXPECT_EQ(rng.next_u32(), 2061U);
}

TEST(MyPolicy, UCTBaseKeysOfTheWorkedExample) {
  const auto key = UCTBase{12.0}.key_for(21.0);
  const double bonus = 12.0 * std::sqrt(2.0 * std::log(21.0) / 10.0);
  EXPECT_DOUBLE_EQ(key(10, 60), 6.0 + bonus);
  EXPECT_DOUBLE_EQ(key(10, 30), 3.0 + bonus);

  PolicyRng rng;
  const std::array<FakeEdge, 2> edges{FakeEdge{10, 60}, FakeEdge{10, 30}};
  EXPECT_EQ(chosen_index(policy_from_number(0), edges, rng), 0U);
  EXPECT_EQ(rng.next_u32(), 2061U);
}

TEST(MyPolicy, VariationKeysFollowTheirFormulas) {
  const double n = 4.0;
  const double log_total = std::log(9.0);
  const UCTVariation3 variation3{12.0, 0.001};
  EXPECT_DOUBLE_EQ(
      variation3.key_for(9.0)(4, 10),
      2.5 + 12.0 * std::sqrt((1.0 + 1.0 / n) * std::log(std::sqrt(n + 1.0) / 0.001) / (2.0 * n)));
  EXPECT_DOUBLE_EQ(
      UCTVariation4{12.0}.key_for(9.0)(4, 10),
      2.5 + 12.0 * std::sqrt((log_total + 3.0 * std::log(1.0 + log_total)) / (2.0 * n)));
}

TEST(MyPolicy, EqualVisitedChildrenAreChosenUniformly) {
  PolicyRng rng;
  const std::array<FakeEdge, 3> edges{FakeEdge{5, 20}, FakeEdge{5, 20}, FakeEdge{5, 20}};
  const MyPolicy policy = policy_from_number(4);
  std::array<int, 3> counts{};
  constexpr int draws = 30000;
  for (int i = 0; i < draws; ++i) ++counts[chosen_index(policy, edges, rng)];
  for (const int count : counts) EXPECT_NEAR(count, draws / 3, draws / 50);
}

TEST(MyPolicy, NumbersChooseTheirVariantsWithTheGameConstants) {
  EXPECT_EQ(std::get<UCTBase>(policy_from_number(std::nullopt).variant()).exploration_constant,
            12.0);
  EXPECT_EQ(std::get<UCTBase>(policy_from_number(0).variant()).exploration_constant, 12.0);
  const auto variation3 = std::get<UCTVariation3>(policy_from_number(3).variant());
  EXPECT_EQ(variation3.max_score, 12.0);
  EXPECT_EQ(variation3.delta, 0.001);
  EXPECT_EQ(std::get<UCTVariation4>(policy_from_number(4).variant()).max_score, 12.0);
}

TEST(MyPolicy, NumberOutsideTheTableFaultsWithTheNumber) {
  for (const int number : {1, 2, 5, 7, 255}) {
    try {
      (void)policy_from_number(static_cast<std::uint8_t>(number));
      FAIL() << "no fault for " << number;
    } catch (const InternalFault& fault) {
      EXPECT_EQ(std::string(fault.what()),
                "Could not determine policy from number '" + std::to_string(number) + "'");
    }
  }
}

TEST(MyPolicy, SearchVisitsEveryRootEdgeBeforeRevisitingOne) {
  counting::EvaluationLog log;
  counting::Tree tree(counting::game(5), counting::CountingSpec{}, policy_from_number(3),
                      counting::CountingEvaluator{&log}, search::EmptyTable{});
  search::ThreadData<counting::CountingSpec> tld;
  for (int i = 0; i < 5; ++i) tree.playout(tld);
  for (const counting::Edge& edge : tree.root_node().moves()) EXPECT_EQ(edge.visits(), 1U);
}

}  // namespace
}  // namespace tornquil
