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
int FindRankedSlot(Tree_Node& node, int rank, bool want_sub_tree) {
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

// ---- Values by path and children by rank ----------------------------------------------------

RWCString Tree_Node::GetValue(const RWCString& path, const Tree_NodePtr& this_ptr) {
  Tree_Path walk(path.view(), Tree_Path::Borrow{});
  // The node itself, not read through its handle: the walk read the node's first line.
  const Tree_Node* const found =
      WalkToNode(this, walk, this_ptr, Tree_NodePtrVec::Next::kValue).node;
  if (found == nullptr) {
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

// Its Start message, then one per failure.
struct Tree_RankedChildTexts {
  const char* start;
  const char* negative_index;  // %s: none
  const char* missing_path;    // %s: the path
  const char* past_children;   // logged at `past_children_level`
  int past_children_level;
  const char* missing_rank;  // %d: the index
};

namespace {

constexpr Tree_RankedChildTexts kValueTexts{
    "Start GetValue(RWCString & path,int index,Tree_NodePtr & this_ptr)\n",
    "GetValue(RWCString & path,int index,Tree_NodePtr & this_ptr): index is less then 0, return "
    "empty string\n",
    "GetValue(RWCString & path,int index,Tree_NodePtr & this_ptr): path %s does not exist, "
    "return \n",
    "GetValue(RWCString & path,int index,Tree_NodePtr & this_ptr): index is more then child num, "
    "return empty string\n",
    7,
    "GetValue(RWCString & path,int index,Tree_NodePtr & this_ptr): index %d does not exist, "
    "return \n"};

constexpr Tree_RankedChildTexts kValueNameTexts{
    "Start GetValueName(RWCString & path,int index,Tree_NodePtr & this_ptr)\n",
    "GetValueName(RWCString & path,int index,Tree_NodePtr & this_ptr): index is less then 0, "
    "return empty string\n",
    "GetValueName(RWCString & path,int index,Tree_NodePtr & this_ptr): path %s does not exist, "
    "return \n",
    "GetValueName(RWCString & path,int index,Tree_NodePtr & this_ptr): index is more then child "
    "num, return empty string\n",
    7,
    "GetValueName(RWCString & path,int index,Tree_NodePtr & this_ptr): index %d does not exist, "
    "return \n"};

// The sub-tree members share their texts; only the level of the bound message differs.
constexpr Tree_RankedChildTexts SubTreeTexts(int past_children_level) {
  return {"Start GetRelativeSubTree(RWCString & path,int index,Tree_NodePtr & this_ptr)\n",
          "GetRelativeSubTree(RWCString & path,int index,Tree_NodePtr & this_ptr) : index less "
          "then 0 , return null Tree_NodePtr\n",
          "GetRelativeSubTree(RWCString & path,int index,Tree_NodePtr & this_ptr) : path does not "
          "exist : %s , return null Tree_NodePtr\n",
          "GetRelativeSubTree(RWCString & path,int index,Tree_NodePtr & this_ptr) : index must be "
          "less then child count , return null Tree_NodePtr\n",
          past_children_level,
          "GetRelativeSubTree(RWCString & path,int index,Tree_NodePtr & this_ptr) : index not "
          "exist : %d , return null Tree_NodePtr\n"};
}

}  // namespace

const Tree_NodePtr* Tree_Node::FindRankedChild(const RWCString& path, int index,
                                               const Tree_NodePtr& this_ptr, bool want_sub_tree,
                                               const Tree_RankedChildTexts& texts) {
  TREE_LOG(7, "%s", texts.start);
  if (index < 0) {  // before the walk: a negative index never resolves the path
    TREE_LOG(7, "%s", texts.negative_index);
    return nullptr;
  }
  Tree_Path walk(path.view(), Tree_Path::Borrow{});
  const Tree_NodePtr& found = Walk(this, walk, this_ptr);
  if (found.get() == nullptr) {
    TREE_LOG(7, texts.missing_path, path.data());
    return nullptr;
  }
  // The bound counts children of both kinds, so an index that passes it may still miss.
  if (index >= found->GetChildCount()) {
    TREE_LOG(texts.past_children_level, "%s", texts.past_children);
    return nullptr;
  }
  const int slot = FindRankedSlot(*found, index, want_sub_tree);
  if (slot < 0) {
    TREE_LOG(7, texts.missing_rank, index);
    return nullptr;
  }
  return &found->ChildHandle(slot);
}

RWCString Tree_Node::GetValue(const RWCString& path, int index, const Tree_NodePtr& this_ptr) {
  const Tree_NodePtr* child = FindRankedChild(path, index, this_ptr, false, kValueTexts);
  // A value child always carries a value; should one ever lack it, the result is empty.
  if (child == nullptr || (*child)->m_tree_value == nullptr) return RWCString();
  return (*child)->m_tree_value->GetValue();
}

RWCString Tree_Node::GetValueName(const RWCString& path, int index, const Tree_NodePtr& this_ptr) {
  const Tree_NodePtr* child = FindRankedChild(path, index, this_ptr, false, kValueNameTexts);
  return child != nullptr ? (*child)->m_key_name : RWCString();
}

Tree_NodePtr Tree_Node::GetRelativeSubTree(const RWCString& path, int index,
                                           const Tree_NodePtr& this_ptr) {
  const Tree_NodePtr* child = FindRankedChild(path, index, this_ptr, true, SubTreeTexts(7));
  if (child == nullptr) return NULL_TREE_NODE_PTR;
  TREE_LOG(7, "End GetRelativeSubTree(RWCString & path,int index,Tree_NodePtr & this_ptr)\n");
  return *child;
}

Tree_NodePtr& Tree_Node::GetRelativeSubTreeByRef(const RWCString& path, int index,
                                                 Tree_NodePtr& this_ptr) {
  // The stored handle of a child, never a const object.
  const Tree_NodePtr* child = FindRankedChild(path, index, this_ptr, true, SubTreeTexts(3));
  return child != nullptr ? const_cast<Tree_NodePtr&>(*child) : NULL_TREE_NODE_PTR;
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
