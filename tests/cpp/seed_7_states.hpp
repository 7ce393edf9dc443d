// Debug texts of new games dealt from seed 7, colouring off, from an independent implementation.
#pragma once

#include <array>
#include <string_view>

namespace tornquil::testing {

inline constexpr std::array<std::string_view, 4> seed_7_states = {
    "State { table: Table { castle_deck: [Enemy { card: ♥K, health: 40, attack: 20, "
    "jester_applied: false }, Enemy { card: ♦K, health: 40, attack: 20, jester_applied: false }, "
    "Enemy { card: ♣K, health: 40, attack: 20, jester_applied: false }, Enemy { card: ♠K, health: "
    "40, attack: 20, jester_applied: false }, Enemy { card: ♠Q, health: 30, attack: 15, "
    "jester_applied: false }, Enemy { card: ♥Q, health: 30, attack: 15, jester_applied: false }, "
    "Enemy { card: ♣Q, health: 30, attack: 15, jester_applied: false }, Enemy { card: ♦Q, health: "
    "30, attack: 15, jester_applied: false }, Enemy { card: ♦J, health: 20, attack: 10, "
    "jester_applied: false }, Enemy { card: ♠J, health: 20, attack: 10, jester_applied: false }, "
    "Enemy { card: ♣J, health: 20, attack: 10, jester_applied: false }, Enemy { card: ♥J, health: "
    "20, attack: 10, jester_applied: false }], tavern_deck: [♦6, ♣10, ♦2, ♣6, ♠6, ♥A, ♥10, ♠9, ♦5, "
    "♥3, ♥9, ♣9, ♦9, ♣8, ♦7, ♥5, ♠10, ♠2, ♥7, ♣2, ♦3, ♠A, ♠3, ♥2, ♦10, ♦A, ♥4, ♠7, ♠5, ♦8, ♣7, "
    "♠4], discard_pile: [], attack_cards: [] }, players: [Player { id: PlayerId(0), hand: [♣4, ♠8, "
    "♣5, ♦4, ♣A, ♣3, ♥6, ♥8] }], has_turn: PlayerId(0), times_yielded: 0, max_hand_size: 8, "
    "action_type: PlayCards, has_ended: None, level: 0, rng_seed: 12489904280265648416 }",
    "State { table: Table { castle_deck: [Enemy { card: ♥K, health: 40, attack: 20, "
    "jester_applied: false }, Enemy { card: ♦K, health: 40, attack: 20, jester_applied: false }, "
    "Enemy { card: ♣K, health: 40, attack: 20, jester_applied: false }, Enemy { card: ♠K, health: "
    "40, attack: 20, jester_applied: false }, Enemy { card: ♠Q, health: 30, attack: 15, "
    "jester_applied: false }, Enemy { card: ♥Q, health: 30, attack: 15, jester_applied: false }, "
    "Enemy { card: ♣Q, health: 30, attack: 15, jester_applied: false }, Enemy { card: ♦Q, health: "
    "30, attack: 15, jester_applied: false }, Enemy { card: ♦J, health: 20, attack: 10, "
    "jester_applied: false }, Enemy { card: ♠J, health: 20, attack: 10, jester_applied: false }, "
    "Enemy { card: ♣J, health: 20, attack: 10, jester_applied: false }, Enemy { card: ♥J, health: "
    "20, attack: 10, jester_applied: false }], tavern_deck: [♦6, ♣10, ♦2, ♣6, ♠6, ♥A, ♥10, ♠9, ♦5, "
    "♥3, ♥9, ♣9, ♦9, ♣8, ♦7, ♥5, ♠10, ♠2, ♥7, ♣2, ♦3, ♠A, ♠3, ♥2, ♦10, ♦A], discard_pile: [], "
    "attack_cards: [] }, players: [Player { id: PlayerId(0), hand: [♣4, ♠8, ♣5, ♦4, ♣A, ♣3, ♥6] }, "
    "Player { id: PlayerId(1), hand: [♥8, ♠4, ♣7, ♦8, ♠5, ♠7, ♥4] }], has_turn: PlayerId(0), "
    "times_yielded: 0, max_hand_size: 7, action_type: PlayCards, has_ended: None, level: 0, "
    "rng_seed: 12489904280265648416 }",
    "State { table: Table { castle_deck: [Enemy { card: ♥K, health: 40, attack: 20, "
    "jester_applied: false }, Enemy { card: ♦K, health: 40, attack: 20, jester_applied: false }, "
    "Enemy { card: ♣K, health: 40, attack: 20, jester_applied: false }, Enemy { card: ♠K, health: "
    "40, attack: 20, jester_applied: false }, Enemy { card: ♠Q, health: 30, attack: 15, "
    "jester_applied: false }, Enemy { card: ♥Q, health: 30, attack: 15, jester_applied: false }, "
    "Enemy { card: ♣Q, health: 30, attack: 15, jester_applied: false }, Enemy { card: ♦Q, health: "
    "30, attack: 15, jester_applied: false }, Enemy { card: ♦J, health: 20, attack: 10, "
    "jester_applied: false }, Enemy { card: ♠J, health: 20, attack: 10, jester_applied: false }, "
    "Enemy { card: ♣J, health: 20, attack: 10, jester_applied: false }, Enemy { card: ♥J, health: "
    "20, attack: 10, jester_applied: false }], tavern_deck: [♦6, ♦10, ♦2, ♣6, ♣10, ♥A, ♣5, ♠9, ♦5, "
    "♥3, ♥9, ♠10, ♣9, ♣8, ♦7, ♥5, ♦4, ♠2, ♥7, ♣2, ♦3, ♠A, ♠3], discard_pile: [], attack_cards: [] "
    "}, players: [Player { id: PlayerId(0), hand: [♣4, ♠6, Jester, ♣A, ♥10, ♣3] }, Player { id: "
    "PlayerId(1), hand: [♥4, ♥6, ♥8, ♠4, ♣7, ♦8] }, Player { id: PlayerId(2), hand: [♠5, ♠7, ♦9, "
    "♦A, ♠8, ♥2] }], has_turn: PlayerId(0), times_yielded: 0, max_hand_size: 6, action_type: "
    "PlayCards, has_ended: None, level: 0, rng_seed: 12489904280265648416 }",
    "State { table: Table { castle_deck: [Enemy { card: ♥K, health: 40, attack: 20, "
    "jester_applied: false }, Enemy { card: ♦K, health: 40, attack: 20, jester_applied: false }, "
    "Enemy { card: ♣K, health: 40, attack: 20, jester_applied: false }, Enemy { card: ♠K, health: "
    "40, attack: 20, jester_applied: false }, Enemy { card: ♠Q, health: 30, attack: 15, "
    "jester_applied: false }, Enemy { card: ♥Q, health: 30, attack: 15, jester_applied: false }, "
    "Enemy { card: ♣Q, health: 30, attack: 15, jester_applied: false }, Enemy { card: ♦Q, health: "
    "30, attack: 15, jester_applied: false }, Enemy { card: ♦J, health: 20, attack: 10, "
    "jester_applied: false }, Enemy { card: ♠J, health: 20, attack: 10, jester_applied: false }, "
    "Enemy { card: ♣J, health: 20, attack: 10, jester_applied: false }, Enemy { card: ♥J, health: "
    "20, attack: 10, jester_applied: false }], tavern_deck: [♦6, ♦10, ♦2, ♣6, Jester, ♥A, ♣5, ♠9, "
    "♦5, ♥3, ♥9, ♠10, ♣9, ♣8, ♦7, ♥5, ♦4, ♠2, ♣10, ♣2, ♦3, ♠A], discard_pile: [], attack_cards: [] "
    "}, players: [Player { id: PlayerId(0), hand: [♦8, ♠6, ♥7, ♣4, ♣A] }, Player { id: "
    "PlayerId(1), hand: [♥10, ♣3, ♥4, ♥6, ♥8] }, Player { id: PlayerId(2), hand: [♠4, ♣7, Jester, "
    "♠5, ♠7] }, Player { id: PlayerId(3), hand: [♦9, ♦A, ♠8, ♥2, ♠3] }], has_turn: PlayerId(0), "
    "times_yielded: 0, max_hand_size: 5, action_type: PlayCards, has_ended: None, level: 0, "
    "rng_seed: 12489904280265648416 }",
};

}  // namespace tornquil::testing
