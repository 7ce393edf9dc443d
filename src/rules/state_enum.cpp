#include "rules/state_enum.hpp"

namespace tornquil {
namespace {

constexpr std::array<std::string_view, 4> variant_names = {"Players1", "Players2", "Players3",
                                                           "Players4"};

template <std::size_t N>
StateEnum new_state(std::optional<std::uint64_t> seed) {
  return StateEnum(State<N>::create(seed));
}

}  // namespace

std::variant<StateEnum, TornquilError> StateEnum::create(std::size_t players,
                                                         std::optional<std::uint64_t> seed) {
  if (players < 1 || players > 4) return TornquilError::WrongNumberOfPlayers;
  return with_player_count(players, [&](auto count) -> std::variant<StateEnum, TornquilError> {
    return new_state<decltype(count)::value>(seed);
  });
}

PlayerId StateEnum::has_turn() const {
  return visit([](const auto& state) { return state.has_turn; });
}

Hand StateEnum::current_hand() const {
  return visit([](const auto& state) { return state.current_hand(); });
}

std::optional<Enemy> StateEnum::current_enemy() const {
  return visit([](const auto& state) { return optional_enemy(state.current_enemy()); });
}

std::uint8_t StateEnum::reward() const {
  return visit([](const auto& state) { return state.reward(); });
}

std::vector<Action> StateEnum::get_action_space() const {
  return visit([](const auto& state) { return state.get_action_space(); });
}

std::string StateEnum::debug_text(Layout layout) const {
  return tornquil::debug_text(*this, layout);
}

std::string StateEnum::display_text() const {
  return visit([](const auto& state) { return state.display_text(); });
}

std::optional<GameResult> StateEnum::take_action(const Action& action) {
  return std::visit(
      [&](auto& state) -> std::optional<GameResult> {
        auto status = state.take_action(action);
        if (auto* ended = std::get_if<GameResult>(&status)) return *ended;
        state = std::get<0>(std::move(status));
        return std::nullopt;
      },
      state_);
}

void describe(DebugWriter& writer, const StateEnum& state) {
  state.visit([&](const auto& inner) {
    TupleWriter(writer, variant_names[state.player_count() - 1]).field(inner).finish();
  });
}

}  // namespace tornquil
