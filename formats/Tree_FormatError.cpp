#include "formats/Tree_FormatError.h"

#include <algorithm>

std::string Tree_FormatError::ToString() const {
  std::string text = source.empty() ? std::string("<string>") : source;
  switch (position) {
    case Position::kLineColumn:
      text += ':' + std::to_string(line) + ':' + std::to_string(column);
      break;
    case Position::kOffset:
      text += ": byte " + std::to_string(offset);
      break;
    case Position::kNone:
      break;
  }
  return text + ": " + message;
}

void Tree_FormatError::SetLineColumn(std::string_view text, std::size_t at) {
  at = std::min(at, text.size());
  position = Position::kLineColumn;
  offset = at;
  const std::string_view before = text.substr(0, at);
  line = 1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
  const std::size_t last_newline = before.rfind('\n');
  column = (last_newline == std::string_view::npos ? at : at - last_newline - 1) + 1;
}

std::string Tree_FormatError::ShownPath(std::string_view path) {
  constexpr std::size_t kWhole = 200, kHead = 60, kTail = 120;
  if (path.size() <= kWhole) return std::string(path);
  return std::string(path.substr(0, kHead)) + "..." + std::string(path.substr(path.size() - kTail));
}
