// Helpers of the tree-algebra suites: a flat dump of a subtree, deep chains, a Notify counter.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tests/test_support.h"

using Lines = std::vector<std::string>;

// One line per node under `top`, in pre-order: the depth below `top`, the key name, then
// "=text/flag" for a leaf or " [text/flag]" for a branch that holds a value. Note that
// GetTreeValue logs at level 7 for every branch without a value.
inline Lines Dump(const Tree_NodePtr& top) {
  Lines lines;
  std::vector<std::pair<Tree_Node*, int>> pending{{top.get(), 0}};
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    std::string line = std::to_string(depth) + " " + node->GetKeyName().str();
    if (const Tree_Value* value = node->GetTreeValue(); value != nullptr) {
      const std::string text = value->GetValue().str() + "/" + std::to_string(value->IsChange());
      line += node->IsLeaf() != 0 ? "=" + text : " [" + text + "]";
    }
    lines.push_back(std::move(line));
    for (int i = node->GetChildCount() - 1; i >= 0; --i) {
      pending.emplace_back(node->GetChildAt(i).get(), depth + 1);
    }
  }
  return lines;
}

// A chain of `levels` branches named c, with `bottom` (unless null) under the lowest one.
inline Tree_NodePtr MakeChain(int levels, Tree_NodePtr chain) {
  for (int i = 0; i < levels; ++i) {
    Tree_NodePtr parent = MakeBranch("c");
    if (chain.get() != nullptr) parent->Add(chain);
    chain = std::move(parent);
  }
  return chain;
}

// Counts Notify calls; MightNeedMove is ignored.
struct NotifyCounter : Tree_NotifyList::Callback {
  void Notify() override { ++notified; }
  void MightNeedMove(const Tree_NodePtr& /*node*/) override {}
  int notified = 0;
};
