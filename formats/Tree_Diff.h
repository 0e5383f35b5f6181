// The difference between two trees, one line per path:
//   + PATH [= VALUE]       a node of B that A lacks (every node of an added subtree)
//   - PATH [= VALUE]       a node of A that B lacks
//   ~ PATH = OLD -> NEW    a value that differs ("(none)" for a node without value)
// Paths are relative to the top nodes (whose names are not compared), with control bytes
// escaped; values are escaped as in the text format. Children are matched by name, the k-th
// of a name in A with the k-th of that name in B. Names, values (every byte, NULs included)
// and kinds are compared; change flags and completion are not, and neither is a value held
// by a leaf against the same value held by a branch. When the kinds of a matched pair
// differ, the values show them: a string in quotes, an object or array without value as {}
// or [], and the kind's name after values that would still read the same:
//   ~ ver = "1.0" -> 1.0        ~ port = 8080 (untyped) -> 8080 (number)
// Each call hashes both trees once, over that whole content, and skips matched subtrees of
// equal hash, so a difference in one value costs the size once and then the depth times the
// fan-out; the library's cached checksums (which stop at a NUL) are neither used nor changed.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "Tree/Tree_Node.h"

struct Tree_DiffOptions {
  // Paths as JSON Pointers (RFC 6901: "/a~1b/c"), which can say a name holding a backslash.
  bool pointer = false;
};

class Tree_Diff {
 public:
  // The lines from `a` to `b`, empty when they are equal. A node's own line comes before
  // those of its children; the children that lost or found a partner come before the
  // matched ones that differ.
  static std::string Lines(Tree_Node& a, Tree_Node& b, const Tree_DiffOptions& options = {});

  // Appends the child name `name` to the path `path` of its parent: after a backslash (none
  // at the top), or with `pointer` after a "/" and with "~" and "/" written "~0" and "~1".
  static void AppendPathName(std::string_view name, bool pointer, std::string& path);

  // Appends one line of the form above, for callers that report changes of their own: `mark`
  // '+' or '-' with the node's value (nullopt: it has none), or a '~' line.
  static void AppendNodeLine(char mark, std::string_view path,
                             std::optional<std::string_view> value, std::string& out);
  static void AppendChangeLine(std::string_view path, std::optional<std::string_view> before,
                               std::optional<std::string_view> after, std::string& out);
  // The same for values of the given kinds, shown as described above when they differ.
  static void AppendChangeLine(std::string_view path, std::optional<std::string_view> before,
                               Tree_NodeKind before_kind, std::optional<std::string_view> after,
                               Tree_NodeKind after_kind, std::string& out);
};
