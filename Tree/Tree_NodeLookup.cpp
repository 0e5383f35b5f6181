// Path resolution: one-level lookups, the multi-level walk and the walk that creates. Each
// level is one lookup in a node's children (an index past a few children, else a scan); the
// walks loop instead of recursing and copy no element of the path.
#include <string_view>

#include "Tree/Tree_Node.h"

// ---- One level ----------------------------------------------------------------------------

Tree_Node* Tree_Node::Get(const RWCString& name, Tree_Node* this_node) {
  if (name.isNull()) return this_node;
  return FindChildAndNode(name.view()).node;
}

Tree_NodePtr Tree_Node::Get(const RWCString& name, const Tree_NodePtr& this_ptr) {
  if (name.isNull()) return this_ptr;
  Tree_NodePtr* found = FindChild(name.view());
  return found == nullptr ? NULL_TREE_NODE_PTR : *found;
}

Tree_NodePtr& Tree_Node::GetByRef(const RWCString& name, Tree_NodePtr& this_ptr) {
  if (name.isNull()) return this_ptr;
  Tree_NodePtr* found = FindChild(name.view());
  return found == nullptr ? NULL_TREE_NODE_PTR : *found;
}

// ---- Multi-level walk ---------------------------------------------------------------------

Tree_NodePtrVec::Found Tree_Node::WalkToNode(const Tree_Node* first, Tree_Path& path,
                                             const Tree_NodePtr& this_ptr,
                                             Tree_NodePtrVec::Next last) {
  // `this_ptr` is not a const object (see below), and the node is read through the handle once.
  Tree_NodePtrVec::Found reached{const_cast<Tree_NodePtr*>(&this_ptr), this_ptr.get()};
  const Tree_Node* node = first;
  for (;;) {
    const std::string_view element = path.GetRootView();
    if (element.empty()) return reached;  // an empty element ends the walk where it is
    if (node == nullptr) return Tree_NodePtrVec::Found{};
    const bool ends = path.IsOnlyRoot() != 0;
    const Tree_NodePtrVec::Found found =
        node->FindChildAndNode(element, ends ? last : Tree_NodePtrVec::Next::kChildren);
    if (found.handle == nullptr || ends) return found;
    reached = found;
    node = found.node;
  }
}

const Tree_NodePtr& Tree_Node::Walk(const Tree_Node* first, Tree_Path& path,
                                    const Tree_NodePtr& this_ptr) {
  const Tree_NodePtrVec::Found found = WalkToNode(first, path, this_ptr);
  return found.handle != nullptr ? *found.handle : NULL_TREE_NODE_PTR;
}

const Tree_NodePtr& Tree_Node::SubTreeOnly(const Tree_NodePtr& found) {
  if (found.get() == nullptr || found->m_allows_children == 0) return NULL_TREE_NODE_PTR;
  return found;
}

// The references handed out below are `this_ptr`, a handle stored in a children vector or
// NULL_TREE_NODE_PTR, none of which is a const object, so the const_casts are sound.

Tree_NodePtr Tree_Node::GetRelativeNode(Tree_Path& path, const Tree_NodePtr& this_ptr) {
  return Walk(this, path, this_ptr);
}

Tree_NodePtr Tree_Node::GetRelativeNode(const RWCString& path, const Tree_NodePtr& this_ptr) {
  Tree_Path walk(path.view(), Tree_Path::Borrow{});
  return Walk(this, walk, this_ptr);
}

Tree_NodePtr& Tree_Node::GetRelativeNodeByRef(Tree_Path& path, Tree_NodePtr& this_ptr) {
  return const_cast<Tree_NodePtr&>(Walk(this, path, this_ptr));
}

Tree_NodePtr Tree_Node::GetRelativeSubTree(Tree_Path& path, const Tree_NodePtr& this_ptr) {
  return SubTreeOnly(Walk(this_ptr.get(), path, this_ptr));
}

Tree_NodePtr& Tree_Node::GetRelativeSubTreeByRef(Tree_Path& path, Tree_NodePtr& this_ptr) {
  return const_cast<Tree_NodePtr&>(SubTreeOnly(Walk(this_ptr.get(), path, this_ptr)));
}

// ---- The walk that creates ----------------------------------------------------------------

Tree_NodePtr Tree_Node::WalkCreating(Tree_Path& path, const Tree_NodePtr& this_ptr, bool protect) {
  // The walk refers to the stored handles it passes and copies only the result, so a walk
  // through protected families costs no atomic count change per level.
  const Tree_NodePtr* reached = &this_ptr;
  Tree_NodePtr detached;  // keeps alive a node that a leaf on the way refused, else null
  Tree_Node* node = this;
  for (;;) {
    const std::string_view element = path.GetRootView();
    if (element.empty()) return *reached;
    const Tree_NodePtrVec::Found found = node->FindChildAndNode(element);
    const Tree_NodePtr* child = found.handle;
    Tree_Node* next = found.node;
    if (child == nullptr) {
      Tree_NodePtr created(new Tree_Node(RWCString(element)));
      if (protect) created.SetToggle(&TRUE_BOOL);
      // A leaf on the way refuses the child (Insert logs why). The walk still goes on inside
      // the detached child, so the result always holds a node: the one made for the last
      // element. The detached nodes die when the walk returns, which clears the parent link
      // of the result, so it is a parentless node outside the tree.
      next = created.get();
      if (node->Insert(created, node->GetChildCount()) != 0) {
        if (path.IsOnlyRoot() != 0) return created;  // the stored handle's family, no count change
        child = &node->ChildHandle(node->GetChildCount() - 1);
      } else {
        detached = std::move(created);
        child = &detached;
      }
    }
    if (path.IsOnlyRoot() != 0) return *child;
    reached = child;
    node = next;
  }
}

Tree_NodePtr Tree_Node::GetOrCreateRelativeNode(Tree_Path& path, const Tree_NodePtr& this_ptr) {
  return WalkCreating(path, this_ptr, true);
}

Tree_NodePtr Tree_Node::GetOrCreateRelativeNode(const RWCString& path,
                                                const Tree_NodePtr& this_ptr) {
  Tree_Path walk(path.view(), Tree_Path::Borrow{});
  return WalkCreating(walk, this_ptr, true);
}

Tree_NodePtr Tree_Node::GetOrCreateUnProtectedRelativeNode(Tree_Path& path,
                                                           const Tree_NodePtr& this_ptr) {
  return WalkCreating(path, this_ptr, false);
}

Tree_NodePtr Tree_Node::GetOrCreateUnProtectedRelativeNode(const RWCString& path,
                                                           const Tree_NodePtr& this_ptr) {
  Tree_Path walk(path.view(), Tree_Path::Borrow{});
  return WalkCreating(walk, this_ptr, false);
}

// ---- Path matching ------------------------------------------------------------------------

bool Tree_Node::IsPathHit(const char* path, const char* name, const char*& rest) {
  rest = nullptr;
  if (path == nullptr || name == nullptr) return false;
  while (*name != '\0' && *path == *name) {
    ++path;
    ++name;
  }
  if (*name != '\0') return false;
  if (*path == '\0') return true;
  if (*path == '\\') rest = path + 1;
  return false;
}
