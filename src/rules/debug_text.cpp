#include "rules/debug_text.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace tornquil {
namespace {

std::optional<std::string_view> variable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string_view(value);
}

}  // namespace

bool decide_colouring(const ColourSettings& settings) {
  if (settings.clicolor_force && *settings.clicolor_force != "0") return true;
  if (settings.no_color) return false;
  if (settings.clicolor && *settings.clicolor == "0") return false;
  return settings.stdout_is_terminal;
}

bool colouring_enabled() {
  static const bool enabled = decide_colouring({
      .clicolor_force = variable("CLICOLOR_FORCE"),
      .no_color = variable("NO_COLOR"),
      .clicolor = variable("CLICOLOR"),
      .stdout_is_terminal = isatty(STDOUT_FILENO) == 1,
  });
  return enabled;
}

bool DebugWriter::colour() const {
  switch (colouring_) {
    case Colouring::On:
      return true;
    case Colouring::Off:
      return false;
    case Colouring::Auto:
      break;
  }
  return colouring_enabled();
}

void DebugWriter::begin_entry(std::size_t index) {
  if (layout_ == Layout::Pretty) {
    ++depth_;
    out_ += '\n';
    out_.append(static_cast<std::size_t>(depth_) * 4, ' ');
  } else if (index > 0) {
    out_ += ", ";
  }
}

void DebugWriter::end_entry() {
  if (layout_ == Layout::Pretty) {
    out_ += ',';
    --depth_;
  }
}

void DebugWriter::close(std::size_t entries, std::string_view closing_compact,
                        std::string_view closing) {
  if (layout_ == Layout::Pretty) {
    if (entries > 0) {
      out_ += '\n';
      out_.append(static_cast<std::size_t>(depth_) * 4, ' ');
    }
    out_ += closing;
  } else {
    out_ += closing_compact;
  }
}

void describe(DebugWriter& writer, bool value) { writer.text(value ? "true" : "false"); }
void describe(DebugWriter& writer, std::string_view value) { writer.text(value); }

std::string quoted_text(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\0':
        out += "\\0";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
          char escaped[12];
          std::snprintf(escaped, sizeof escaped, "\\u{%x}", static_cast<unsigned>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

}  // namespace tornquil
