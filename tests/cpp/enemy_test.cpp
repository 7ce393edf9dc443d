#include "rules/enemy.hpp"

#include <gtest/gtest.h>

#include <optional>

#include "test_helpers.hpp"

namespace tornquil {
namespace {

using namespace tornquil::testing;
using V = CardValue;

TEST(Enemy, RoyalsOfEverySuitStartWithTheirHealthAndAttack) {
  for (const CardSuit suit : real_suits) {
    const Enemy jack(Card{suit, V::Jack});
    const Enemy queen(Card{suit, V::Queen});
    const Enemy king(Card{suit, V::King});
    EXPECT_EQ(jack.health(), 20);
    EXPECT_EQ(jack.attack_value(), 10);
    EXPECT_EQ(queen.health(), 30);
    EXPECT_EQ(queen.attack_value(), 15);
    EXPECT_EQ(king.health(), 40);
    EXPECT_EQ(king.attack_value(), 20);
    EXPECT_EQ(king.card(), (Card{suit, V::King}));
    EXPECT_FALSE(king.jester_applied());
  }
}

TEST(Enemy, NonRoyalCardIsNotAnEnemy) {
  for (const Card card : {heart(V::Five), spade(V::Ten), jester_card}) {
    const std::string message = fault_message([card] { (void)Enemy(card); });
    EXPECT_TRUE(ends_with(message, " is not an enemy")) << message;
  }
}

TEST(Enemy, DamageTakesHealthToExactlyZeroAndOverkillBelowIt) {
  struct Case {
    Card card;
    std::uint16_t damage;
    int health;
  };
  for (const Case& c : {Case{spade(V::Jack), 20, 0}, Case{spade(V::Jack), 25, -5},
                        Case{heart(V::King), 127, 40 - 127}}) {
    Enemy enemy(c.card);
    enemy.take_damage(c.damage);
    EXPECT_EQ(enemy.health(), c.health) << c.damage << " damage";
  }
}

TEST(Enemy, DamageOf128IsALotOfDamage) {
  Enemy king(heart(V::King));
  EXPECT_EQ(fault_message([&] { king.take_damage(128); }), "That's a lot of damage!");
}

TEST(Enemy, AttackStopsAtZero) {
  Enemy king(club(V::King));
  king.decrease_attack(25);
  EXPECT_EQ(king.attack_value(), 0);
  Enemy queen(club(V::Queen));
  queen.decrease_attack(255);
  EXPECT_EQ(queen.attack_value(), 0);
}

TEST(Enemy, AttackDecreasesStepByStep) {
  Enemy king(club(V::King));
  king.decrease_attack(5);
  king.decrease_attack(7);
  EXPECT_EQ(king.attack_value(), 8);
}

TEST(Enemy, AttackDecreaseOf256IsALotOfDamage) {
  Enemy king(club(V::King));
  EXPECT_EQ(fault_message([&] { king.decrease_attack(256); }), "That's a lot of damage!");
}

TEST(Enemy, JesterAppliedTwiceStaysApplied) {
  Enemy queen(diamond(V::Queen));
  queen.apply_jester();
  queen.apply_jester();
  EXPECT_TRUE(queen.jester_applied());
}

TEST(Enemy, EqualityComparesEveryField) {
  const Enemy jack(spade(V::Jack));
  EXPECT_EQ(jack, Enemy(spade(V::Jack)));
  EXPECT_NE(jack, Enemy(heart(V::Jack)));
  Enemy hurt = jack;
  hurt.take_damage(1);
  EXPECT_NE(jack, hurt);
  Enemy weakened = jack;
  weakened.decrease_attack(1);
  EXPECT_NE(jack, weakened);
  Enemy jestered = jack;
  jestered.apply_jester();
  EXPECT_NE(jack, jestered);
}

TEST(EnemyText, IsARecordOfCardHealthAttackAndFlag) {
  EXPECT_EQ(plain(Enemy(spade(V::Jack))),
            "Enemy { card: \u2660J, health: 20, attack: 10, jester_applied: false }");
}

TEST(EnemyText, ShowsNegativeHealthAndTheJesterAsNumbersAndWords) {
  Enemy queen(heart(V::Queen));
  queen.take_damage(33);
  queen.decrease_attack(15);
  queen.apply_jester();
  EXPECT_EQ(plain(queen), "Enemy { card: \u2665Q, health: -3, attack: 0, jester_applied: true }");
}

TEST(EnemyText, ColoursOnlyTheCard) {
  EXPECT_EQ(coloured(Enemy(spade(V::King))),
            "Enemy { card: \x1b[47;30m\u2660\x1b[0m\x1b[47;30mK\x1b[0m, health: 40, attack: 20, "
            "jester_applied: false }");
}

TEST(EnemyText, PrettyOptionalEnemyIndentsEachLevelByFour) {
  const std::optional<Enemy> enemy = Enemy(spade(V::Jack));
  EXPECT_EQ(debug_text(enemy, Layout::Pretty, Colouring::Off),
            "Some(\n"
            "    Enemy {\n"
            "        card: \u2660J,\n"
            "        health: 20,\n"
            "        attack: 10,\n"
            "        jester_applied: false,\n"
            "    },\n"
            ")");
  EXPECT_EQ(debug_text(std::optional<Enemy>{}, Layout::Pretty, Colouring::Off), "None");
}

TEST(EnemyText, CompactOptionalEnemyIsWrappedInSome) {
  const std::optional<Enemy> enemy = Enemy(club(V::Queen));
  EXPECT_EQ(plain(enemy),
            "Some(Enemy { card: \u2663Q, health: 30, attack: 15, jester_applied: false })");
}

}  // namespace
}  // namespace tornquil
