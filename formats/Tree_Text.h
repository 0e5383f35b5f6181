// The library's own text format: one node per line, indented two spaces per level.
//
//   # a comment
//   service                      a branch without value
//     port = 8080                a leaf and its value
//     mode *= fast               a changed value (change flag 1; *N= keeps another flag N)
//     note := kept               a value held by a branch (its children follow)
//       child = x
//     pending !                  a node marked incomplete
//
// Names and values escape what the format uses itself: \\ \n \r \t \xHH (any byte), "\ "
// (a space in a name, or at either end of a value), \= and \# in names. "name =" is an
// empty value; "name" alone has none. The grammar is in
// README.md. Reading and writing use explicit stacks: depth costs no native stack.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "Tree/Tree_Node.h"
#include "formats/Tree_FormatError.h"

struct Tree_TextReadOptions {
  // Called now and then with the bytes and nodes read so far; may be empty.
  std::function<void(std::size_t bytes, std::size_t nodes)> progress;
};

class Tree_Text {
 public:
  // The tree the text describes. The null handle, with the line and column in `error` when
  // given, on a malformed line, a second top-level node, an empty input, or a name the tree
  // cannot hold (empty, or with a blank at either end).
  static Tree_NodePtr Read(std::string_view text, const Tree_TextReadOptions& options = {},
                           Tree_FormatError* error = nullptr);
  // Appends the text of the subtree under `tree` to `out`; nothing for a null handle.
  static void Write(const Tree_NodePtr& tree, std::string& out);

  // Appends the line of `node` alone, indented for `depth`, ending in a newline.
  static void WriteLine(const Tree_Node& node, std::size_t depth, std::string& out);
  // The escaped forms used for one name and one value (also by the tool's line outputs).
  static void AppendName(std::string_view name, std::string& out);
  static void AppendValue(std::string_view value, std::string& out);
  // A path for a one-line output: control bytes escaped, backslashes left as separators.
  static void AppendPath(std::string_view path, std::string& out);
};
