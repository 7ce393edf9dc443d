#include "rules/action.hpp"

namespace tornquil {
namespace {

struct ActionDescriber {
  DebugWriter& writer;

  void operator()(const action::Play& play) const {
    TupleWriter(writer, "Play").field(play.card).finish();
  }
  void operator()(const action::AnimalCombo& combo) const {
    TupleWriter(writer, "AnimalCombo").field(combo.ace).field(combo.partner).finish();
  }
  void operator()(const action::Combo& combo) const {
    TupleWriter(writer, "Combo").field(combo.cards).finish();
  }
  void operator()(const action::Yield&) const { writer.text("Yield"); }
  void operator()(const action::Discard& discard) const {
    TupleWriter(writer, "Discard").field(discard.cards).finish();
  }
  void operator()(const action::ChangePlayer& change) const {
    TupleWriter(writer, "ChangePlayer").field(change.id).finish();
  }
};

}  // namespace

void describe(DebugWriter& writer, const Action& action) {
  std::visit(ActionDescriber{writer}, action);
}

void describe(DebugWriter& writer, ActionType type) {
  switch (type.kind()) {
    case ActionType::Kind::PlayCards:
      writer.text("PlayCards");
      return;
    case ActionType::Kind::Discard:
      TupleWriter(writer, "Discard").field(type.discard_amount()).finish();
      return;
    case ActionType::Kind::Jester:
      writer.text("Jester");
      return;
  }
}

void describe(DebugWriter& writer, GameResult result) {
  if (result.is_won()) {
    writer.text("Won");
  } else {
    TupleWriter(writer, "Lost").field(result.level()).finish();
  }
}

}  // namespace tornquil
