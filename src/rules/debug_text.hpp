// The structural debug text that every game value prints as: records as `Name { field: value }`,
// variants as `Name(value)`, lists as `[a, b]`, in a one-line or an indented multi-line layout.
// Each type provides `describe(DebugWriter&, const T&)`; nothing else prints game records.
#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace tornquil {

enum class Layout : std::uint8_t { Compact, Pretty };

// Whether card texts carry terminal colour codes. `Auto` asks the process-wide decision.
enum class Colouring : std::uint8_t { Auto, On, Off };

// What decides whether card texts are coloured: three environment variables, each unset or set
// to some text, and whether standard output is a terminal.
struct ColourSettings {
  std::optional<std::string_view> clicolor_force;  // set and not "0": colour, whatever else holds
  std::optional<std::string_view> no_color;        // set to anything, even "": no colour
  std::optional<std::string_view> clicolor;        // "0": no colour
  bool stdout_is_terminal = false;                 // otherwise colour exactly on a terminal
};
[[nodiscard]] bool decide_colouring(const ColourSettings& settings);

// The process-wide colouring decision, made on first use from the process's environment and its
// standard output, then kept for the life of the process.
[[nodiscard]] bool colouring_enabled();

class DebugWriter {
 public:
  explicit DebugWriter(std::string& out, Layout layout = Layout::Compact,
                       Colouring colouring = Colouring::Auto)
      : out_(out), layout_(layout), colouring_(colouring) {}

  void text(std::string_view piece) { out_ += piece; }
  // Whether coloured texts should carry colour codes; decides the process-wide setting lazily.
  [[nodiscard]] bool colour() const;

  [[nodiscard]] bool pretty() const { return layout_ == Layout::Pretty; }
  // Before the entry numbered `index` (from 0) of an open record, variant or list, and after it.
  void begin_entry(std::size_t index);
  void end_entry();
  // Closes a record, variant or list that had `entries` entries with `closing` (may be empty).
  void close(std::size_t entries, std::string_view closing_compact, std::string_view closing);

 private:
  std::string& out_;
  Layout layout_;
  Colouring colouring_;
  int depth_ = 0;
};

template <typename T>
concept Describable = requires(DebugWriter& writer, const T& value) {
  describe(writer, value);
};

void describe(DebugWriter& writer, bool value);
void describe(DebugWriter& writer, std::string_view value);
template <std::integral T>
requires(!std::same_as<T, bool>) void describe(DebugWriter& writer, T value) {
  writer.text(std::to_string(
      static_cast<std::conditional_t<std::is_signed_v<T>, long long, unsigned long long>>(value)));
}

// `Name { a: 1, b: 2 }`; a record without fields prints as its name alone.
class RecordWriter {
 public:
  RecordWriter(DebugWriter& writer, std::string_view name) : writer_(writer) { writer_.text(name); }
  template <Describable T>
  RecordWriter& field(std::string_view name, const T& value) {
    if (fields_ == 0) writer_.text(writer_.pretty() ? " {" : " { ");
    writer_.begin_entry(fields_);
    writer_.text(name);
    writer_.text(": ");
    describe(writer_, value);
    writer_.end_entry();
    ++fields_;
    return *this;
  }
  // Without fields no brace was opened, so there is none to close.
  void finish() {
    if (fields_ > 0) writer_.close(fields_, " }", "}");
  }

 private:
  DebugWriter& writer_;
  std::size_t fields_ = 0;
};

// `Name(a, b)`: a variant or a wrapper with unnamed fields.
class TupleWriter {
 public:
  TupleWriter(DebugWriter& writer, std::string_view name) : writer_(writer) {
    writer_.text(name);
    writer_.text("(");
  }
  template <Describable T>
  TupleWriter& field(const T& value) {
    writer_.begin_entry(fields_);
    describe(writer_, value);
    writer_.end_entry();
    ++fields_;
    return *this;
  }
  void finish() { writer_.close(fields_, ")", ")"); }

 private:
  DebugWriter& writer_;
  std::size_t fields_ = 0;
};

template <typename R>
concept DescribableRange = requires(const R& range) {
  std::begin(range);
  std::end(range);
  requires Describable<std::remove_cvref_t<decltype(*std::begin(range))>>;
};

// `[a, b]`.
template <DescribableRange R>
requires(!std::convertible_to<R, std::string_view>) void describe(DebugWriter& writer,
                                                                  const R& items) {
  writer.text("[");
  std::size_t count = 0;
  for (const auto& item : items) {
    writer.begin_entry(count);
    describe(writer, item);
    writer.end_entry();
    ++count;
  }
  writer.close(count, "]", "]");
}

template <Describable T>
void describe(DebugWriter& writer, const std::optional<T>& value) {
  if (!value) {
    writer.text("None");
    return;
  }
  TupleWriter(writer, "Some").field(*value).finish();
}

template <Describable T>
[[nodiscard]] std::string debug_text(const T& value, Layout layout = Layout::Compact,
                                     Colouring colouring = Colouring::Auto) {
  std::string out;
  DebugWriter writer(out, layout, colouring);
  describe(writer, value);
  return out;
}

// The quoted, escaped form of a text: "abc\n" for the three letters and a line break.
[[nodiscard]] std::string quoted_text(std::string_view text);

}  // namespace tornquil
