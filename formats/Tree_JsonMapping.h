// The JSON types of tree nodes: which type a node exports as, and which type a value set on a
// node takes. The readers and writers of every format, the tool and the store decide types
// here and nowhere else.
#pragma once

#include <string_view>

#include "Tree/Tree_Node.h"
#include "formats/Tree_Json.h"

struct Tree_JsonMapping {
  // The literal type of `text`: number, boolean or null when it is exactly such a JSON
  // literal, string otherwise.
  static Tree_NodeKind LiteralKind(std::string_view text) {
    if (text == "true" || text == "false") return Tree_NodeKind::kBoolean;
    if (text == "null") return Tree_NodeKind::kNull;
    return Tree_Json::IsLiteral(text) ? Tree_NodeKind::kNumber : Tree_NodeKind::kString;
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
};
