// Indexed access, counts and one-level listings. Each member resolves its path once with the
// walk of the lookups, then scans the children of the node found; none changes the tree.
#include <memory>

#include "Tree/TreeLog.h"
#include "Tree/Tree_Node.h"

namespace {

// A child of the kind a member asks for: a value child (leaf) or a sub tree.
bool IsOfKind(const Tree_Node& child, bool want_sub_tree) {
  return (child.IsAllowsChildren() != 0) == want_sub_tree;
}

// The slot of the child of the wanted kind whose rank among the children of that kind is
// `rank`, or -1. Reads the children through the guarded accessor, always in range.
int FindRankedChild(Tree_Node& node, int rank, bool want_sub_tree) {
  const int child_count = node.GetChildCount();
  for (int i = 0, seen = 0; i < child_count; ++i) {
    if (!IsOfKind(*node.GetChildAt(i), want_sub_tree)) continue;
    if (seen++ == rank) return i;
  }
  return -1;
}

int CountChildren(Tree_Node& node, bool want_sub_tree) {
  const int child_count = node.GetChildCount();
  int count = 0;
  for (int i = 0; i < child_count; ++i) {
    if (IsOfKind(*node.GetChildAt(i), want_sub_tree)) ++count;
  }
  return count;
}

}  // namespace

// ---- Values by path and by rank -----------------------------------------------------------

RWCString Tree_Node::GetValue(const RWCString& path, const Tree_NodePtr& this_ptr) {
  Tree_Path walk(path);
  const Tree_NodePtr& found = Walk(this, walk, this_ptr);
  if (found.get() == nullptr) {
    TREE_LOG(7,
             "GetValue(RWCString & path,Tree_NodePtr & this_ptr) : path %s does not exist, "
             "return empty string\n",
             path.data());
    return RWCString();
  }
  if (found->m_allows_children != 0) {
    TREE_LOG(7,
             "GetValue(RWCString & path,Tree_NodePtr & this_ptr) : path represent a sub "
             "tree,return empty string\n");
    return RWCString();
  }
  const Tree_Value* value = found->GetTreeValue();
  if (value == nullptr) {
    TREE_LOG(7,
             "GetValue(RWCString & path,Tree_NodePtr & this_ptr) : path tree value is "
             "NULL,return empty string\n");
    return RWCString();
  }
  return value->GetValue();
}

RWCString Tree_Node::GetValue(const RWCString& path, int index, const Tree_NodePtr& this_ptr) {
  TREE_LOG(7, "Start GetValue(RWCString & path,int index,Tree_NodePtr & this_ptr)\n");
  if (index < 0) {
    TREE_LOG(7,
             "GetValue(RWCString & path,int index,Tree_NodePtr & this_ptr): index is less then "
             "0, return empty string\n");
    return RWCString();
  }
  const Tree_NodePtr found = GetRelativeNode(path, this_ptr);
  if (found.get() == nullptr) {
    TREE_LOG(7,
             "GetValue(RWCString & path,int index,Tree_NodePtr & this_ptr): path %s does not "
             "exist, return \n",
             path.data());
    return RWCString();
  }
  if (index >= found->GetChildCount()) {
    TREE_LOG(7,
             "GetValue(RWCString & path,int index,Tree_NodePtr & this_ptr): index is more then "
             "child num, return empty string\n");
    return RWCString();
  }
  const int slot = FindRankedChild(*found, index, false);
  if (slot < 0) {
    TREE_LOG(7,
             "GetValue(RWCString & path,int index,Tree_NodePtr & this_ptr): index %d does not "
             "exist, return \n",
             index);
    return RWCString();
  }
  // A value child always carries a value; should one ever lack it, the result is empty.
  const Tree_Value* value = found->ChildHandle(slot)->m_tree_value.get();
  return value != nullptr ? value->GetValue() : RWCString();
}

RWCString Tree_Node::GetValueName(const RWCString& path, int index, const Tree_NodePtr& this_ptr) {
  TREE_LOG(7, "Start GetValueName(RWCString & path,int index,Tree_NodePtr & this_ptr)\n");
  if (index < 0) {
    TREE_LOG(7,
             "GetValueName(RWCString & path,int index,Tree_NodePtr & this_ptr): index is less "
             "then 0, return empty string\n");
    return RWCString();
  }
  const Tree_NodePtr found = GetRelativeNode(path, this_ptr);
  if (found.get() == nullptr) {
    TREE_LOG(7,
             "GetValueName(RWCString & path,int index,Tree_NodePtr & this_ptr): path %s does "
             "not exist, return \n",
             path.data());
    return RWCString();
  }
  if (index >= found->GetChildCount()) {
    TREE_LOG(7,
             "GetValueName(RWCString & path,int index,Tree_NodePtr & this_ptr): index is more "
             "then child num, return empty string\n");
    return RWCString();
  }
  const int slot = FindRankedChild(*found, index, false);
  if (slot < 0) {
    TREE_LOG(7,
             "GetValueName(RWCString & path,int index,Tree_NodePtr & this_ptr): index %d does "
             "not exist, return \n",
             index);
    return RWCString();
  }
  return found->ChildHandle(slot)->m_key_name;
}

// ---- Sub trees by rank --------------------------------------------------------------------

Tree_NodePtr Tree_Node::GetRelativeSubTree(const RWCString& path, int index,
                                           const Tree_NodePtr& this_ptr) {
  TREE_LOG(7, "Start GetRelativeSubTree(RWCString & path,int index,Tree_NodePtr & this_ptr)\n");
  if (index < 0) {
    TREE_LOG(7,
             "GetRelativeSubTree(RWCString & path,int index,Tree_NodePtr & this_ptr) : index "
             "less then 0 , return null Tree_NodePtr\n");
    return NULL_TREE_NODE_PTR;
  }
  const Tree_NodePtr found = GetRelativeNode(path, this_ptr);
  if (found.get() == nullptr) {
    TREE_LOG(7,
             "GetRelativeSubTree(RWCString & path,int index,Tree_NodePtr & this_ptr) : path does "
             "not exist : %s , return null Tree_NodePtr\n",
             path.data());
    return NULL_TREE_NODE_PTR;
  }
  if (index >= found->GetChildCount()) {
    TREE_LOG(7,
             "GetRelativeSubTree(RWCString & path,int index,Tree_NodePtr & this_ptr) : index "
             "must be less then child count , return null Tree_NodePtr\n");
    return NULL_TREE_NODE_PTR;
  }
  const int slot = FindRankedChild(*found, index, true);
  if (slot < 0) {
    TREE_LOG(7,
             "GetRelativeSubTree(RWCString & path,int index,Tree_NodePtr & this_ptr) : index not "
             "exist : %d , return null Tree_NodePtr\n",
             index);
    return NULL_TREE_NODE_PTR;
  }
  Tree_NodePtr sub_tree = found->ChildHandle(slot);
  TREE_LOG(7, "End GetRelativeSubTree(RWCString & path,int index,Tree_NodePtr & this_ptr)\n");
  return sub_tree;
}

Tree_NodePtr& Tree_Node::GetRelativeSubTreeByRef(const RWCString& path, int index,
                                                 Tree_NodePtr& this_ptr) {
  TREE_LOG(7, "Start GetRelativeSubTree(RWCString & path,int index,Tree_NodePtr & this_ptr)\n");
  if (index < 0) {
    TREE_LOG(7,
             "GetRelativeSubTree(RWCString & path,int index,Tree_NodePtr & this_ptr) : index "
             "less then 0 , return null Tree_NodePtr\n");
    return NULL_TREE_NODE_PTR;
  }
  Tree_Path walk(path);
  const Tree_NodePtr& found = Walk(this, walk, this_ptr);
  if (found.get() == nullptr) {
    TREE_LOG(7,
             "GetRelativeSubTree(RWCString & path,int index,Tree_NodePtr & this_ptr) : path does "
             "not exist : %s , return null Tree_NodePtr\n",
             path.data());
    return NULL_TREE_NODE_PTR;
  }
  if (index >= found->GetChildCount()) {
    TREE_LOG(3,
             "GetRelativeSubTree(RWCString & path,int index,Tree_NodePtr & this_ptr) : index "
             "must be less then child count , return null Tree_NodePtr\n");
    return NULL_TREE_NODE_PTR;
  }
  const int slot = FindRankedChild(*found, index, true);
  if (slot < 0) {
    TREE_LOG(7,
             "GetRelativeSubTree(RWCString & path,int index,Tree_NodePtr & this_ptr) : index not "
             "exist : %d , return null Tree_NodePtr\n",
             index);
    return NULL_TREE_NODE_PTR;
  }
  return found->ChildHandle(slot);
}

// ---- Counts -------------------------------------------------------------------------------

int Tree_Node::GetSubTreeNum(const RWCString& path, const Tree_NodePtr& this_node) {
  TREE_LOG(7, "Start GetSubTreeNum(RWCString  path,Tree_NodePtr & this_node)\n");
  const Tree_NodePtr found = GetRelativeNode(path, this_node);
  if (found.get() == nullptr) {
    TREE_LOG(7,
             "GetSubTreeNum(RWCString  path,Tree_NodePtr & this_node) path not exist : %s , "
             "return -1\n",
             path.data());
    return -1;
  }
  const int count = CountChildren(*found, true);
  TREE_LOG(7, "End GetSubTreeNum(RWCString  path,Tree_NodePtr & this_node) return %d\n", count);
  return count;
}

int Tree_Node::GetValueNum(const RWCString& path, const Tree_NodePtr& this_ptr) {
  TREE_LOG(7, "Start GetValueNum(RWCString path,Tree_NodePtr& this_ptr\n");
  const Tree_NodePtr found = GetRelativeNode(path, this_ptr);
  if (found.get() == nullptr) {
    TREE_LOG(7,
             "GetValueNum(RWCString path,Tree_NodePtr& this_ptr) : path not exist, return -1: %s\n",
             path.data());
    return -1;
  }
  const int count = CountChildren(*found, false);
  TREE_LOG(7, "End GetValueNum(RWCString path,Tree_NodePtr& this_ptr) return %d\n", count);
  return count;
}

// ---- Listings -----------------------------------------------------------------------------

Tree_PathAndValueArray* Tree_Node::GetSubTreeValues(const RWCString& path,
                                                    const Tree_NodePtr& this_ptr) {
  TREE_LOG(7, "Start GetSubTreeValues(RWCString & path,Tree_NodePtr & this_ptr)\n");
  const Tree_NodePtr found = GetRelativeNode(path, this_ptr);
  if (found.get() == nullptr) {
    TREE_LOG(3,
             "GetSubTreeValues(RWCString & path,Tree_NodePtr & this_ptr) : tree_node is null, "
             "return NULL\n");
    return nullptr;
  }
  const int count = found->GetValueNum(RWCString(), found);
  if (count == 0) {
    TREE_LOG(7,
             "GetSubTreeValues(RWCString & path,Tree_NodePtr & this_ptr) : no values under thos "
             "node, return NULL\n");
    return nullptr;
  }
  auto values = std::make_unique<Tree_PathAndValueArray>(count);
  const int child_count = found->GetChildCount();
  for (int i = 0, entry = 0; i < child_count; ++i) {
    const Tree_Node& child = *found->GetChildAt(i);
    if (!IsOfKind(child, false)) continue;
    const Tree_Value* value = child.GetTreeValue();
    values->SetPV(entry++, child.m_key_name, value != nullptr ? value->Value() : RWCString());
  }
  TREE_LOG(7, "End GetSubTreeValues(RWCString & path,Tree_NodePtr & this_ptr)\n");
  return values.release();
}

String_Arr* Tree_Node::GetSubTreePaths(const RWCString& path, const Tree_NodePtr& this_ptr) {
  TREE_LOG(7, "Start GetSubTreePaths(RWCString & path,Tree_NodePtr & this_ptr)\n");
  const Tree_NodePtr found = GetRelativeNode(path, this_ptr);
  if (found.get() == nullptr) {
    TREE_LOG(3,
             "GetSubTreePaths(RWCString & path,Tree_NodePtr & this_ptr) : tree_node is null, "
             "return NULL\n");
    return nullptr;
  }
  const int count = found->GetSubTreeNum(RWCString(), found);
  if (count == 0) {
    TREE_LOG(7,
             "GetSubTreePaths(RWCString & path,Tree_NodePtr & this_ptr) : no sub trees under "
             "this node, return NULL\n");
    return nullptr;
  }
  auto names = std::make_unique<String_Arr>(count);
  const int child_count = found->GetChildCount();
  for (int i = 0, entry = 0; i < child_count; ++i) {
    const Tree_Node& child = *found->GetChildAt(i);
    if (!IsOfKind(child, true)) continue;
    names->SetStr(entry++, child.m_key_name.data(), -1);
  }
  TREE_LOG(7, "End GetSubTreePaths(RWCString & path,Tree_NodePtr & this_ptr)\n");
  return names.release();
}
