// JSON import and export of a tree, lossless in both directions.
//
// Import maps an object to a branch whose children are its members, in file order with
// duplicate names kept; an array to a branch whose children are named 0, 1, 2, ...; a
// number, true, false or null to a leaf holding its literal text; a string to a leaf
// holding the unescaped text. Where JSON says something the tree cannot tell apart, and
// where a tree holds what JSON cannot say, one rule keeps both directions exact:
//   - a string whose text reads as a number, true, false or null is held on a childless
//     branch (a leaf with that text would export as the bare literal);
//   - an empty array is a childless branch holding the value "[]";
//   - an object whose members are named 0..n-1 in order is a branch holding "{}";
//   - anything else JSON cannot say (a change flag, a leaf flag where the value alone would
//     not give one, another value on a branch) is written as an object whose first member
//     is "@tree": {"value": "...", "changed": N, "leaf": true}, each field present only when
//     needed, in that order, followed by the children as members. Import reads exactly
//     that form back and rejects a descriptor that export would not have written, so that
//     export of an imported file gives the same document.
// Both directions walk the tree with explicit stacks: nesting depth costs no native stack.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "Tree/Tree_Node.h"
#include "formats/Tree_FormatError.h"

struct Tree_JsonReadOptions {
  std::string root_name = "root";  // the key name of the top node
  // Called now and then with the bytes and nodes read so far; may be empty.
  std::function<void(std::size_t bytes, std::size_t nodes)> progress;
};

struct Tree_JsonWriteOptions {
  int indent = 2;  // spaces per level; negative writes everything on one line
};

class Tree_Json {
 public:
  // The tree the JSON document `text` describes, its top node named after the options. The
  // null handle on malformed JSON (invalid UTF-8 included), on a name the tree cannot hold
  // (empty, or with blanks at either end) and on a malformed "@tree" descriptor; `error`,
  // when given, then holds the line, column and byte offset of the failure.
  static Tree_NodePtr Read(std::string_view text, const Tree_JsonReadOptions& options = {},
                           Tree_FormatError* error = nullptr);
  // Appends the JSON document of the subtree under `tree` to `out` (the top node's name is
  // not part of it) and returns true. False, with `error` naming the node's path, when a
  // name or value is not valid UTF-8 (JSON cannot hold it); `out` is then unspecified.
  static bool Write(const Tree_NodePtr& tree, std::string& out,
                    const Tree_JsonWriteOptions& options = {}, Tree_FormatError* error = nullptr);

  // True when `text` is a JSON number literal, true, false or null.
  static bool IsLiteral(std::string_view text);
  // The reserved member name of the node descriptor.
  static constexpr std::string_view kDescriptor = "@tree";
};
