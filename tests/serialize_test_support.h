// Helpers of the serialization suites: owning id vectors, byte strings and deep chains.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "tests/test_support.h"

using IdVec = RWTPtrOrderedVector<Tree_IdNodeInfo>;
using NodeInfoVec = Qor_PtrSortedVector<Tree_NodeInfo>;

// Deletes an id vector with its records.
struct IdVecDeleter {
  void operator()(IdVec* vec) const {
    vec->clearAndDestroy();
    delete vec;
  }
};
using OwnedIdVec = std::unique_ptr<IdVec, IdVecDeleter>;

// A block handed out by the writer, released with delete[].
using OwnedBlock = std::unique_ptr<char[]>;

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
  OwnedBlock block(Tree_Node::GetSerializeIdNodeInfoVec(vec, size, virtual_parent_path, full_info));
  return block == nullptr ? std::string()
                          : std::string(block.get(), static_cast<std::size_t>(size));
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
