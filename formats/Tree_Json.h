// JSON import and export of a tree. The mapping (which JSON type a node is, the export rule,
// plain and exact, the "@tree" descriptor) is described once, in Tree_JsonMapping.h.
// Both directions walk the tree with explicit stacks: nesting depth costs no native stack.
// Input is parsed from a bounded buffer, output goes to a stream through one: a file costs
// its tree, not its bytes.
#pragma once

#include <cstddef>
#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>

#include "Tree/Tree_Node.h"
#include "formats/Tree_FormatError.h"

struct Tree_JsonReadOptions {
  std::string root_name = "root";  // the key name of the top node
  // False: a member named "@tree" is data like any other. True: a leading "@tree" member is
  // the node's descriptor, and a descriptor that exact export would not write is refused.
  bool exact = false;
  // Called now and then with the bytes and nodes read so far; may be empty.
  std::function<void(std::size_t bytes, std::size_t nodes)> progress;
};

struct Tree_JsonWriteOptions {
  bool exact = false;    // also write change flags and incomplete marks (as descriptors)
  bool compact = false;  // everything on one line, no blanks
  int indent = 2;        // spaces per level when not compact; negative is the same as compact
  // Indented output refuses (kTooLarge) a tree whose indentation alone would pass this.
  std::size_t max_indent_bytes = std::size_t{1} << 30;
};

class Tree_Json {
 public:
  // The tree the JSON document describes, its top node named after the options; nothing but
  // blanks may follow the document. The null handle on malformed JSON (invalid UTF-8 and
  // lone surrogates included), on a member name a node cannot hold (empty, or with a blank
  // at either end) and, in exact mode, on a malformed descriptor; `error`, when given, then
  // holds the line, column and byte offset of the failure. A UTF-8 byte order mark at the
  // start is skipped.
  static Tree_NodePtr Read(std::string_view text, const Tree_JsonReadOptions& options = {},
                           Tree_FormatError* error = nullptr);
  // The same from a stream, read a bounded chunk at a time; a read failure is kIo.
  static Tree_NodePtr Read(std::istream& in, const Tree_JsonReadOptions& options = {},
                           Tree_FormatError* error = nullptr);
  // Appends the JSON document of the subtree under `tree` (the top node's name is not part
  // of it), ending in a newline unless compact, and returns true. False, with `error`
  // naming the node's path, when a name or value is not valid UTF-8 (JSON cannot hold it) or
  // the indentation passes its limit; `out` then holds an unspecified part of the document.
  static bool Write(const Tree_NodePtr& tree, std::string& out,
                    const Tree_JsonWriteOptions& options = {}, Tree_FormatError* error = nullptr);
  // The same into a stream, through a bounded buffer; false also when the stream fails.
  static bool Write(const Tree_NodePtr& tree, std::ostream& out,
                    const Tree_JsonWriteOptions& options = {}, Tree_FormatError* error = nullptr);
};
