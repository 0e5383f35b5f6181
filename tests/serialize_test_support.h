// Helpers of the serialization suites: byte strings, record dumps and deep chains.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "tests/test_support.h"

using IdVec = RWTPtrOrderedVector<Tree_IdNodeInfo>;

// The 4 big-endian bytes of `value`.
inline std::string BigEndian(std::int64_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  return {static_cast<char>(bits >> 24), static_cast<char>(bits >> 16),
          static_cast<char>(bits >> 8), static_cast<char>(bits)};
}

// A length-prefixed string field.
inline std::string Field(std::string_view bytes) {
  return BigEndian(static_cast<std::int64_t>(bytes.size())) + std::string(bytes);
}

// Writes `vec` (consumed) and returns the block as a string.
inline std::string Encode(IdVec* vec, bool full_info, const RWCString& virtual_parent_path = "") {
  int size = -1;
  std::unique_ptr<char[]> block(
      Tree_Node::GetSerializeIdNodeInfoVec(vec, size, virtual_parent_path, full_info));
  return block == nullptr ? "" : std::string(block.get(), size);
}

// The records of `vec`, which it deletes, as "id:parent:path=value/change", a '*' ending an
// incomplete one, separated by blanks; "null" for a null vector.
inline std::string Dump(IdVec* vec) {
  if (vec == nullptr) return "null";
  std::string text;
  for (const Tree_IdNodeInfo* record : *vec) {
    text += (text.empty() ? "" : " ") + std::to_string(record->GetId()) + ":" +
            std::to_string(record->GetParentId()) + ":" + record->GetPath().str();
    if (!record->GetValue().isNull() || record->IsChange() != 0)
      text += "=" + record->GetValue().str() + "/" + std::to_string(record->IsChange());
    if (!record->GetIsSingleNodeComplete()) text += "*";
  }
  vec->clearAndDestroy();
  delete vec;
  return text;
}

// A chain of `depth` branches named n, top first. Built from the bottom up: each Add links a
// root, so no insertion walks a long ancestry.
inline Tree_NodePtr MakeChain(int depth) {
  Tree_NodePtr top = MakeBranch("n");
  for (int i = 1; i < depth; ++i) {
    Tree_NodePtr parent = MakeBranch("n");
    parent->Add(top);
    top = std::move(parent);
  }
  return top;
}
