// Where and why a reader or writer of a tree format failed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "formats/Tree_Status.h"

struct Tree_FormatError {
  enum class Position { kNone, kOffset, kLineColumn };

  std::string source;  // the file name, "-" for standard input, empty for a string
  Position position = Position::kNone;
  std::size_t offset = 0;  // byte offset (from 0) where the input broke
  std::size_t line = 0;    // line and column (from 1) of that byte, with kLineColumn
  std::size_t column = 0;
  std::string message;
  // What kind of failure: kInvalidInput for bad input, kTooLarge past a limit, kIo,
  // kNotFound or kDenied for the file system.
  Tree_StatusCode code = Tree_StatusCode::kInvalidInput;

  // "source:line:column: message", "source: byte N: message" or "source: message".
  std::string ToString() const;
  // A node's path as a message shows it: whole up to 200 bytes, else its start and its end
  // around "...", so that one message stays one readable line however deep the node.
  static std::string ShownPath(std::string_view path);
  // Sets `offset`, and `line` and `column` by counting the newlines of `text` before it.
  void SetLineColumn(std::string_view text, std::size_t at);
  // Sets line, column and offset from a reader's own count of lines.
  void SetPosition(std::size_t at, std::size_t at_line, std::size_t at_column) {
    position = Position::kLineColumn;
    offset = at;
    line = at_line;
    column = at_column;
  }
  // Sets a byte offset alone (binary inputs).
  void SetOffset(std::size_t at) {
    position = Position::kOffset;
    offset = at;
  }
};
