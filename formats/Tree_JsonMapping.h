// The JSON mapping of tree nodes, in one place for the reader, the writer, the text format's
// type marks, the tool and the store.
//
// Import. Every JSON scalar becomes a leaf holding its text, with the kind of its JSON type:
// a string holds its unescaped text (kString); a number keeps its literal text exactly as
// written, "1.50", "-0", "1E5", "1e400" and integers of any length included (kNumber);
// true and false are kBoolean, null is kNull. An object becomes a branch of kind kObject
// whose children are its members in file order, duplicate names kept; an array a branch of
// kind kArray whose children are named 0, 1, 2, ... So [] and {} survive, and so does a
// string such as "1.0" beside the number 1.0.
//
// Export rule. A typed node exports as its kind: a kString leaf as a string, a kNumber,
// kBoolean or kNull leaf bare, a kObject branch as an object, a kArray branch as an array.
// Where the kind cannot hold what the node holds (a kNumber leaf whose text is not a number,
// a kArray branch whose children are not named 0..n-1) and for an untyped node (made by host
// code, by decoding a byte block, by the text format without a type mark), the node exports
// as follows: a leaf bare when its text is exactly a JSON number, true, false or null, else
// as a string; a childless branch as {}; a branch whose children are named 0..n-1 as an
// array, any other branch as an object. Values that are not valid UTF-8 cannot be written.
//
// Plain and exact. JSON cannot say change flags, incomplete marks or a value held by a
// branch. Plain export (the default) leaves change flags and incomplete marks out. A value
// held by a branch is data, so both modes write it, as an object led by the member
//   "@tree": {"value": "...", "changed": N, "leaf": true, "incomplete": true, "array": true}
// Plain export writes the "value" field alone and only for a branch holding a value; exact
// export writes every field that is needed, in that order, and a descriptor for every node
// that has a change flag or an incomplete mark (and an empty one, {"@tree": {}}, before a
// first member that is itself named "@tree"). In a leaf's descriptor the value has the
// leaf's JSON type ("value": 80 for a changed number); a branch's value is a string; "array"
// says the described branch is an array (its members are then named 0..n-1). Plain import
// reads a member named "@tree" as ordinary data; exact import reads a leading "@tree" member
// as the descriptor and refuses one that exact export would not have written, so export of
// an imported document gives the same document in either mode.
//
// The byte block and the checksum do not carry kinds: after encode and decode every value's
// text is kept and its type follows the export rule.
#pragma once

#include <cstddef>
#include <string_view>

#include "Tree/Tree_Node.h"

struct Tree_JsonMapping {
  // ---- Literals and the kind of a value that is set -------------------------------------

  // True when `text` is a JSON number literal (any length, any exponent).
  static bool IsNumber(std::string_view text);
  // The literal type of `text`: number, boolean or null when it is exactly such a JSON
  // literal, string otherwise.
  // Decided from the first byte for most texts, since writers ask it of every value.
  static Tree_NodeKind LiteralKind(std::string_view text) {
    if (text.empty()) return Tree_NodeKind::kString;
    switch (const char first = text[0]; first) {
      case 't':
        return text == "true" ? Tree_NodeKind::kBoolean : Tree_NodeKind::kString;
      case 'f':
        return text == "false" ? Tree_NodeKind::kBoolean : Tree_NodeKind::kString;
      case 'n':
        return text == "null" ? Tree_NodeKind::kNull : Tree_NodeKind::kString;
      default:
        if (first != '-' && (first < '0' || first > '9')) return Tree_NodeKind::kString;
        return IsNumber(text) ? Tree_NodeKind::kNumber : Tree_NodeKind::kString;
    }
  }
  // True when a value of kind `kind` can hold `text`: a string or an untyped node holds any
  // text, a number only a number literal, a boolean only true or false, null only null.
  static bool Fits(Tree_NodeKind kind, std::string_view text) {
    switch (kind) {
      case Tree_NodeKind::kNumber:
      case Tree_NodeKind::kBoolean:
      case Tree_NodeKind::kNull:
        return LiteralKind(text) == kind;
      default:
        return true;
    }
  }
  // The kind a leaf of kind `existing` takes when its value becomes `text`: its own when the
  // text fits it, else the literal type of the text; a string with `force_string`.
  static Tree_NodeKind KindAfterSet(Tree_NodeKind existing, std::string_view text,
                                    bool force_string = false) {
    if (force_string) return Tree_NodeKind::kString;
    return Fits(existing, text) ? existing : LiteralKind(text);
  }
  // The kind a new leaf holding `text` takes: the literal type of the text, a string with
  // `force_string`.
  static Tree_NodeKind KindOfNewValue(std::string_view text, bool force_string = false) {
    return force_string ? Tree_NodeKind::kString : LiteralKind(text);
  }

  // ---- Export ----------------------------------------------------------------------------

  // The JSON type `node` is written as, by the export rule above; never kUntyped.
  static Tree_NodeKind ExportKind(const Tree_Node& node);
  // True when the children of `node` are named 0, 1, 2, ... in order (also when it has none).
  static bool HasIndexNames(const Tree_Node& node);
  // The decimal name of array element `index`, written into `digits`.
  static std::string_view IndexName(std::size_t index, char (&digits)[24]);
  // True when the export of `node` is an object led by a "@tree" descriptor: a branch holding
  // a value in either mode; with `exact` also a change flag, an incomplete mark, or an object
  // whose first member is named "@tree".
  static bool NeedsDescriptor(const Tree_Node& node, bool exact);

  // ---- Keeping an array an array ---------------------------------------------------------

  // Names the children of `array` 0, 1, 2, ... again after some were removed, so that it
  // still exports as an array: each child whose name is off is replaced, in its place, by a
  // new node of the right name that takes over its value (and change flag), kind, incomplete
  // mark and children; handles to the old node and callbacks on it stay with the old node.
  // Does nothing unless `array` is of kind kArray. Costs the children after the first one
  // renamed, and theirs: an array's tail moves, as in any JSON array.
  static void RenumberElements(Tree_Node& array);
  // RenumberElements on every array of the subtree of `top`, `top` included.
  static void RenumberArrays(Tree_Node& top);

  // The lower-case name of a kind, as the text format and messages write it.
  static std::string_view KindName(Tree_NodeKind kind);

  // The descriptor member and its fields, in the order they are written.
  static constexpr std::string_view kDescriptor = "@tree";
  static constexpr std::string_view kValueField = "value";
  static constexpr std::string_view kChangedField = "changed";
  static constexpr std::string_view kLeafField = "leaf";
  static constexpr std::string_view kIncompleteField = "incomplete";
  static constexpr std::string_view kArrayField = "array";
};
