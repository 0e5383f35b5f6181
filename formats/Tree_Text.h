// The library's own text format: one node per line, indented two spaces per level. It holds
// every tree exactly: names, values, change flags, completion and kinds.
//
//   # a comment
//   service                      a branch without value (untyped)
//     port = 8080                a leaf and its value
//     mode *= fast               a changed value (change flag 1; *N= keeps another flag N)
//     note := kept               a value held by a branch (its children follow)
//       child = x
//     pending !                  a node marked incomplete
//   config {}                    an object (a branch of kind object); [] for an array
//     port = 8080                inside an object or array a value's kind is its literal
//     ver = "1.0"                  type: a number, true, false, null; a string otherwise,
//     name = web                   and a string in quotes reads as a string whatever it holds
//     raw (untyped) = 1          an explicit kind overrides that: (untyped), (string),
//                                  (number), (boolean), (null), and {} or [] on a leaf
//
// Line grammar (blanks between the parts):
//   line  := indent name [kind] ["!"] [["*" [N]] ("=" | ":=") [value]]
//   kind  := "{}" | "[]" | "(" kind-name ")"
// Without a kind mark a branch is untyped; a leaf directly under an object or an array takes
// the type of its value as above; any other leaf is untyped. Quotes mean a string only for a
// leaf under an object or an array without a kind mark; elsewhere they are part of the value.
// A UTF-8 byte order mark at the start is skipped; a writer escapes the first byte (\xef) of
// a name that begins with one, and the first byte of a top node's name that would make the
// text read as JSON by content (Tree_FormatIo::Sniff): {, [ or ", or the whole name of a
// bare top node named like a JSON literal (123, true).
//
// Names and values escape what the format uses itself: \\ \n \r \t \" \xHH (any byte), "\ "
// (a space in a name, or at either end of a value), \= and \# in names. "name =" is an
// empty value; "name" alone has none. A raw control byte other than a tab or a carriage
// return is refused: writers escape them all. Reading and writing use explicit stacks and
// bounded buffers: depth costs no native stack, a file costs its tree, not its bytes.
#pragma once

#include <cstddef>
#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>

#include "Tree/Tree_Node.h"
#include "formats/Tree_FormatError.h"

struct Tree_TextReadOptions {
  // Called now and then with the bytes and nodes read so far; may be empty.
  std::function<void(std::size_t bytes, std::size_t nodes)> progress;
};

struct Tree_TextWriteOptions {
  // A tree whose indentation alone would pass this is refused (kTooLarge).
  std::size_t max_indent_bytes = std::size_t{1} << 30;
};

class Tree_Text {
 public:
  // The tree the text describes. The null handle, with the line and column in `error` when
  // given, on a malformed line (a raw control byte included), a second top-level node, an
  // empty input, or a name the tree cannot hold (empty, or with a blank at either end).
  static Tree_NodePtr Read(std::string_view text, const Tree_TextReadOptions& options = {},
                           Tree_FormatError* error = nullptr);
  // The same from a stream, read a bounded chunk at a time; a read failure is kIo.
  static Tree_NodePtr Read(std::istream& in, const Tree_TextReadOptions& options = {},
                           Tree_FormatError* error = nullptr);
  // Appends the text of the subtree under `tree` to `out` and returns true; false with
  // `error` when the indentation passes its limit (`out` then holds a part) or for a null
  // handle.
  static bool Write(const Tree_NodePtr& tree, std::string& out,
                    const Tree_TextWriteOptions& options = {}, Tree_FormatError* error = nullptr);
  // The same into a stream through a bounded buffer; false also when the stream fails.
  static bool Write(const Tree_NodePtr& tree, std::ostream& out,
                    const Tree_TextWriteOptions& options = {}, Tree_FormatError* error = nullptr);

  // Appends the line of `node` alone, indented for `depth`, ending in a newline; its kind
  // mark is chosen for the kind of its parent, as Write does.
  static void WriteLine(const Tree_Node& node, std::size_t depth, std::string& out);
  // The escaped forms used for one name and one value (also by the tool's line outputs).
  static void AppendName(std::string_view name, std::string& out);
  static void AppendValue(std::string_view value, std::string& out);
  // A value in quotes, as a string is written under an object or an array.
  static void AppendQuoted(std::string_view value, std::string& out);
  // A path for a one-line output: control bytes escaped, backslashes left as separators.
  static void AppendPath(std::string_view path, std::string& out);
};
