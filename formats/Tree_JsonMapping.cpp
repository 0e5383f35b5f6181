#include "formats/Tree_JsonMapping.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace {

Tree_Node& ChildOf(const Tree_Node& node, int index) {
  return *const_cast<Tree_Node&>(node).GetChildAt(index).get();
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Takes the children of `node` from `first` on out of it, from the end so that no slot moves.
std::vector<Tree_NodePtr> TakeChildren(Tree_Node& node, int first) {
  std::vector<Tree_NodePtr> taken;
  taken.reserve(static_cast<std::size_t>(node.GetChildCount() - first));
  for (int index = node.GetChildCount() - 1; index >= first; --index) {
    taken.push_back(node.GetChildAt(index));
    node.Remove(index);
  }
  std::reverse(taken.begin(), taken.end());
  return taken;
}

// A node named `name` that takes over everything `old` holds but its name.
Tree_NodePtr Renamed(Tree_Node& old, std::string_view name) {
  const bool leaf = old.IsLeaf() != 0;
  Tree_Value* value = old.SetTreeValue(nullptr);
  Tree_NodePtr renamed(leaf ? new Tree_Node(RWCString(name), value)
                            : new Tree_Node(RWCString(name)));
  if (!leaf && value != nullptr) renamed->SetTreeValue(value);
  renamed->SetKind(old.GetKind());
  for (Tree_NodePtr& child : TakeChildren(old, 0)) renamed->Add(std::move(child));
  if (!old.IsSingleNodeComplete()) renamed->SetSingleNodeComplete(false);
  return renamed;
}

}  // namespace

bool Tree_JsonMapping::IsNumber(std::string_view text) {
  std::size_t at = 0;
  const std::size_t size = text.size();
  const auto digits = [&] {
    const std::size_t start = at;
    while (at < size && IsDigit(text[at])) ++at;
    return at > start;
  };
  if (at < size && text[at] == '-') ++at;
  if (at < size && text[at] == '0') {
    ++at;
  } else if (!digits()) {
    return false;
  }
  if (at < size && text[at] == '.') {
    ++at;
    if (!digits()) return false;
  }
  if (at < size && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    if (at < size && (text[at] == '+' || text[at] == '-')) ++at;
    if (!digits()) return false;
  }
  return at == size;
}

std::string_view Tree_JsonMapping::IndexName(std::size_t index, char (&digits)[24]) {
  const char* end = std::to_chars(digits, digits + sizeof digits, index).ptr;
  return std::string_view(digits, static_cast<std::size_t>(end - digits));
}

bool Tree_JsonMapping::HasIndexNames(const Tree_Node& node) {
  const int count = node.GetChildCount();
  for (int index = 0; index < count; ++index) {
    char digits[24];
    if (ChildOf(node, index).KeyName().view() !=
        IndexName(static_cast<std::size_t>(index), digits)) {
      return false;
    }
  }
  return true;
}

void Tree_JsonMapping::RenumberElements(Tree_Node& array) {
  if (array.GetKind() != Tree_NodeKind::kArray) return;
  const int count = array.GetChildCount();
  char digits[24];
  int first = 0;
  while (first < count && array.ChildNodeAt(first)->KeyName().view() ==
                              IndexName(static_cast<std::size_t>(first), digits)) {
    ++first;
  }
  if (first == count) return;
  std::size_t index = static_cast<std::size_t>(first);
  for (Tree_NodePtr& element : TakeChildren(array, first)) {
    const std::string_view name = IndexName(index++, digits);
    array.Add(element->KeyName().view() == name ? std::move(element) : Renamed(*element, name));
  }
}

void Tree_JsonMapping::RenumberArrays(Tree_Node& top) {
  top.ExecuteOnEntireSubtree([](Tree_Node* node) { RenumberElements(*node); });
}

Tree_NodeKind Tree_JsonMapping::ExportKind(const Tree_Node& node) {
  const Tree_NodeKind kind = node.GetKind();
  if (node.IsLeaf()) {
    const Tree_Value* value = node.TreeValue();
    const std::string_view text = value != nullptr ? value->Value().view() : std::string_view();
    switch (kind) {
      case Tree_NodeKind::kString:
        return kind;
      case Tree_NodeKind::kNumber:
      case Tree_NodeKind::kBoolean:
      case Tree_NodeKind::kNull:
        if (Fits(kind, text)) return kind;
        break;
      default:
        break;
    }
    return LiteralKind(text);
  }
  if (kind == Tree_NodeKind::kObject) return kind;
  if (kind == Tree_NodeKind::kArray) {
    return HasIndexNames(node) ? kind : Tree_NodeKind::kObject;
  }
  if (node.IsEmpty()) return Tree_NodeKind::kObject;
  return HasIndexNames(node) ? Tree_NodeKind::kArray : Tree_NodeKind::kObject;
}

bool Tree_JsonMapping::NeedsDescriptor(const Tree_Node& node, bool exact) {
  const Tree_Value* value = node.TreeValue();
  if (!node.IsLeaf() && value != nullptr) return true;
  if (!exact) return false;
  if (value != nullptr && value->IsChange() != 0) return true;
  if (!node.IsSingleNodeComplete()) return true;
  return !node.IsLeaf() && !node.IsEmpty() && ChildOf(node, 0).KeyName().view() == kDescriptor &&
         ExportKind(node) == Tree_NodeKind::kObject;
}

std::string_view Tree_JsonMapping::KindName(Tree_NodeKind kind) {
  switch (kind) {
    case Tree_NodeKind::kUntyped:
      return "untyped";
    case Tree_NodeKind::kString:
      return "string";
    case Tree_NodeKind::kNumber:
      return "number";
    case Tree_NodeKind::kBoolean:
      return "boolean";
    case Tree_NodeKind::kNull:
      return "null";
    case Tree_NodeKind::kObject:
      return "object";
    case Tree_NodeKind::kArray:
      return "array";
  }
  return "untyped";
}
