#include "companion/budgets.hpp"
#include "companion/seats.hpp"
#include "companion/solver_objects.hpp"
#include "players/fair_player.hpp"

namespace tornquil::companion {
namespace {

constexpr char kName[] = "FairPlayer";

PyObject* new_fair_player(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded(type, [&](const ModuleState&) {
    const auto [seconds, threads, iterations, seed, release_gil] = parse_arguments(
        kName, std::array{"seconds", "threads", "iterations", "seed", "release_gil"}, 0, args,
        kwargs, 0);
    FairSettings settings;
    settings.seconds = seconds.object == nullptr ? std::optional(0.25) : to_seconds(seconds);
    settings.threads = to_threads(threads, 2);
    settings.iterations = to_count(iterations, std::numeric_limits<std::uint64_t>::max());
    settings.seed = to_optional_u64(seed);
    if (!settings.seconds && iterations.absent_or_none()) {
      raise(PyExc_ValueError, "a FairPlayer needs seconds or iterations to bound its decisions");
    }
    const bool release = release_gil.object != nullptr && to_exact_bool(release_gil);
    return box(type, Seat<FairPlayer>(FairPlayer(settings), release));
  });
}

}  // namespace

void add_fair_player_class(ModuleState& state, PyObject* module) {
  state.fair_player_type = add_seat_class<ModuleState, FairPlayer, kName>(module, &new_fair_player);
}

}  // namespace tornquil::companion
