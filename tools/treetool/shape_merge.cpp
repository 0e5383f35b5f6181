#include "shape_merge.h"

#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

bool MergesInPlace(const Tree_Node& first, const Tree_Node& second) {
  return !first.IsLeaf() && !second.IsLeaf() && first.GetKind() != Tree_NodeKind::kArray &&
         second.GetKind() != Tree_NodeKind::kArray;
}

struct Pair {
  Tree_Node* into;  // a node of the result, a copy of a node of `second`
  Tree_Node* from;  // its partner in `first`
};

}  // namespace

Tree_NodePtr ShapeMerge::Merge(const Tree_NodePtr& first, const Tree_NodePtr& second,
                               bool one_level) {
  Tree_NodePtr result = second->DuplicateFromHereDown();
  if (!MergesInPlace(*first.get(), *second.get())) return result;
  std::vector<Pair> pending{{result.get(), first.get()}};
  while (!pending.empty()) {
    const Pair pair = pending.back();
    pending.pop_back();
    // The partners of each name among the result node's own children, before any appends.
    std::unordered_map<std::string_view, std::vector<Tree_Node*>> partners;
    const int own_count = pair.into->GetChildCount();
    for (int index = 0; index < own_count; ++index) {
      Tree_Node* child = pair.into->GetChildAt(index).get();
      partners[child->KeyName().view()].push_back(child);
    }
    std::unordered_map<std::string_view, std::size_t> seen;
    Tree_Node* from = pair.from;
    const int from_count = from->GetChildCount();
    for (int index = 0; index < from_count; ++index) {
      const Tree_NodePtr& child = from->GetChildAt(index);
      const std::string_view name = child->KeyName().view();
      const std::size_t rank = seen[name]++;
      const auto found = partners.find(name);
      if (found == partners.end() || rank >= found->second.size()) {
        pair.into->Add(child->DuplicateFromHereDown());
      } else if (!one_level && MergesInPlace(*child.get(), *found->second[rank])) {
        pending.push_back({found->second[rank], child.get()});
      }
    }
  }
  return result;
}
