// Path search: every node of a subtree from which a relative path resolves.
#include <memory>
#include <vector>

#include "Tree/TreeLog.h"
#include "Tree/Tree_Node.h"

String_Arr* Tree_Node::Search(const RWCString& path, const Tree_NodePtr& this_ptr, int cut_root) {
  TREE_LOG(7, "Start Search(RWCString & path,Tree_NodePtr & this_ptr)\n");
  if (path.isNull()) {
    TREE_LOG(3, "Search(RWCString & path,Tree_NodePtr & this_ptr): path is NULL, return NULL\n");
    return nullptr;
  }
  RWTValOrderedVector<RWCString> hits;
  Search(path, this_ptr, hits);
  if (hits.isEmpty()) {
    TREE_LOG(7,
             "Search(RWCString & path,Tree_NodePtr & this_ptr): Search(path,this_ptr,ret) return "
             "empty vec (empty search result), return NULL\n");
    return nullptr;
  }
  auto result = std::make_unique<String_Arr>(static_cast<int>(hits.entries()));
  int slot = 0;
  for (const RWCString& hit : hits) {
    const char* text = hit.data();
    if (cut_root != 0) {
      const std::size_t first_separator = hit.index(separator);
      if (first_separator != RW_NPOS) text += first_separator + separator.length();
    }
    result->SetStr(slot++, text, -1);
  }
  TREE_LOG(7, "End Search(RWCString & path,Tree_NodePtr & this_ptr)\n");
  return result.release();
}

void Tree_Node::Search(const RWCString& path, const Tree_NodePtr& this_ptr,
                       RWTValOrderedVector<RWCString>& ret) {
  // Pre-order with an explicit stack: a node is tried before its descendants, children in
  // slot order, so the hits come in the order of a recursive descent without using the call
  // stack. The stack refers to the stored handles; a search changes nothing.
  struct Start {
    const Tree_Node* node;
    const Tree_NodePtr* handle;
  };
  std::vector<Start> pending{Start{this, &this_ptr}};
  while (!pending.empty()) {
    const Start start = pending.back();
    pending.pop_back();
    Tree_Path walk(path.view(), Tree_Path::Borrow{});
    const Tree_NodePtr& found = Walk(start.node, walk, *start.handle);
    if (found.get() != nullptr) ret.insert(found->GetPath());
    for (int i = start.node->GetChildCount() - 1; i >= 0; --i) {
      const Tree_NodePtr& child = start.node->ChildHandle(i);
      pending.push_back(Start{child.get(), &child});
    }
  }
}
