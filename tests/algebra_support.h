// Helpers of the tree-algebra suites: a flat dump of a subtree and deep chains.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tests/test_support.h"

// One line per node of the subtree under `top`, in pre-order: the depth below `top`, the key
// name, then "=text/flag" for a leaf or " [text/flag]" for a branch that holds a value. Note
// that GetTreeValue logs at level 7 for every branch without a value.
inline std::vector<std::string> Dump(const Tree_NodePtr& top) {
  std::vector<std::string> lines;
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

// A chain of `levels` branches, each named `name`, with `bottom` (unless null) appended to the
// lowest one. Built from the bottom up, so every Add goes into a node without a parent.
inline Tree_NodePtr MakeChain(int levels, const RWCString& name, const Tree_NodePtr& bottom) {
  Tree_NodePtr chain = bottom;
  for (int i = 0; i < levels; ++i) {
    Tree_NodePtr parent = MakeBranch(name);
    if (chain.get() != nullptr) parent->Add(chain);
    chain = std::move(parent);
  }
  return chain;
}

// Follows the first children of `top` down to the last node whose first child has no child:
// returns its depth below `top` and the node.
inline std::pair<int, Tree_Node*> LowestBranch(const Tree_NodePtr& top) {
  int depth = 0;
  Tree_Node* node = top.get();
  while (node->GetChildCount() > 0 && node->GetChildAt(0)->GetChildCount() > 0) {
    node = node->GetChildAt(0).get();
    ++depth;
  }
  return {depth, node};
}
