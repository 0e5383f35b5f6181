// How a tree node is written as JSON: the one place where import and export agree on the
// rule that keeps both directions exact (see Tree_Json.h). Internal to the formats library.
#pragma once

#include <charconv>
#include <string_view>

#include "Tree/Tree_Node.h"

struct Tree_JsonShape {
  enum Kind {
    kLiteral,      // a leaf whose value is a number, true, false or null: written bare
    kString,       // a leaf with any other value, or a childless branch holding a literal
    kEmptyArray,   // a childless branch holding "[]"
    kEmptyObject,  // a childless branch without value
    kArray,        // a branch without value whose children are named 0..n-1
    kObject,       // a branch without value, or holding "{}" over children named 0..n-1
    kDescribed,    // everything else: an object led by the "@tree" member
  };

  // The values that mark an empty array and an object whose names look like an array's.
  static constexpr std::string_view kEmptyArrayValue = "[]";
  static constexpr std::string_view kNumberedObjectValue = "{}";

  static Kind Classify(Tree_Node& node);
  static bool NeedsDescriptor(Tree_Node& node) { return Classify(node) == kDescribed; }
  // The decimal text of `number`, written into `digits`.
  template <class Number>
  static std::string_view Decimal(Number number, char (&digits)[24]) {
    const char* end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    return std::string_view(digits, static_cast<std::size_t>(end - digits));
  }
  // True when the children of `node` are named 0, 1, 2, ... in order.
  static bool HasIndexNames(Tree_Node& node);
};
