// Children and ancestry: the children vector, insertion, removal, counting and visits.
// Insert and Remove(int) are the only members that change the shape of a tree.
#include <absl/container/flat_hash_set.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "Tree/TreeLog.h"
#include "Tree/Tree_Node.h"

// ---- Tree_NodePtrVec --------------------------------------------------------------------

// An open-addressing table of 16-byte entries in one array, so building an index costs no
// allocation per child. An entry holds no name: it points to the stored handle of the first
// child of its name, whose key name never changes while the child is stored, and keeps that
// name's hash, so growing the table rehashes without reading a single child.
struct Tree_NodePtrVec::NameIndex {
  struct Entry {
    static std::uint32_t HashOf(std::string_view name) noexcept {
      return static_cast<std::uint32_t>(absl::Hash<std::string_view>{}(name));
    }
    std::string_view Name() const noexcept { return (*first)->KeyName().view(); }

    // Neither changes the entry's name, so both may change in place.
    mutable Tree_NodePtr* first;
    std::uint32_t hash;
    mutable int count;  // children of the name
  };
  // Both accept a plain view too, so a lookup makes no entry.
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(const Entry& entry) const noexcept { return entry.hash; }
    std::size_t operator()(std::string_view name) const noexcept { return Entry::HashOf(name); }
  };
  struct Eq {
    using is_transparent = void;
    static std::string_view View(const Entry& entry) noexcept { return entry.Name(); }
    static std::string_view View(std::string_view name) noexcept { return name; }
    template <class A, class B>
    bool operator()(const A& a, const B& b) const noexcept {
      return View(a) == View(b);
    }
  };
  absl::flat_hash_set<Entry, Hash, Eq> map;

  // Counts the child whose handle is `stored` under its name; returns the name's entry and
  // whether the child is the first of it.
  std::pair<decltype(map)::iterator, bool> Add(Tree_NodePtr* stored) {
    const std::string_view name = (*stored)->KeyName().view();
    const auto [entry, inserted] = map.insert(Entry{stored, Entry::HashOf(name), 1});
    if (!inserted) ++entry->count;
    return {entry, inserted};
  }
};

namespace {

// Where the vector stores its handle of the node `handle` holds: in the node itself, unless
// that place is taken (a host relinked the node by SetParent and it is a child twice), then
// in a heap handle of its own.
Tree_NodePtr* StoreHandle(Tree_NodePtr& in_node, const Tree_NodePtr& handle) {
  if (in_node.get() != nullptr) return new Tree_NodePtr(handle);
  in_node = handle;
  return &in_node;
}

}  // namespace

void Tree_NodePtrVec::Release(Tree_NodePtr* stored) noexcept {
  Tree_Node* const node = stored->get();
  if (node != nullptr && stored == &node->m_stored) {
    // Moved out first: the release may destroy the node, and the handle with it.
    Tree_NodePtr released(std::move(*stored));
  } else {
    delete stored;
  }
}

Tree_NodePtrVec::~Tree_NodePtrVec() {
  DropIndex();
  // The children become roots (those that other handles keep stay alive), each one unlinked
  // a few children before its release, when the handle fetched further ahead has arrived;
  // unlinking also fetches the value that the release frees. The first few are unlinked
  // together, so a node's only few children are fetched at once.
  constexpr unsigned kAhead = 8;
  const unsigned count = m_handles.entries();
  const auto handles = m_handles.begin();
  const auto unlink = [&handles](unsigned i) {
    Tree_Node* const child = handles[i]->get();
    child->m_parent = nullptr;
    __builtin_prefetch(child->m_tree_value.get());
  };
  for (unsigned i = 0; i < std::min(count, kAhead); ++i) unlink(i);
  for (unsigned i = 0; i < count; ++i) {
    if (i + 2 * kAhead < count) __builtin_prefetch(handles[i + 2 * kAhead], 1);
    if (i + kAhead < count) unlink(i + kAhead);
    Release(handles[i]);
  }
  m_handles.clear();
}

int Tree_NodePtrVec::index(const Tree_NodePtr& handle) const noexcept {
  int slot = 0;
  for (const Tree_NodePtr* stored : m_handles) {
    if (*stored == handle) return slot;
    ++slot;
  }
  return -1;
}

int Tree_NodePtrVec::slotOf(const Tree_NodePtr* stored) const noexcept {
  int slot = 0;
  for (const Tree_NodePtr* at : m_handles) {
    if (at == stored) return slot;
    ++slot;
  }
  return -1;
}

Tree_NodePtr* Tree_NodePtrVec::findFirst(std::string_view name) const noexcept {
  NameIndex* index = m_index.load(std::memory_order_acquire);
  if (index == nullptr && entries() > kIndexFrom) index = BuildIndex();
  if (index != nullptr) {
    const auto found = index->map.find(name);
    return found == index->map.end() ? nullptr : found->first;
  }
  for (Tree_NodePtr* stored : m_handles) {
    if ((*stored)->KeyName().view() == name) return stored;
  }
  return nullptr;
}

Tree_NodePtrVec::NameIndex* Tree_NodePtrVec::BuildIndex() const noexcept {
  std::unique_ptr<NameIndex> built;
  try {
    built = std::make_unique<NameIndex>();
    built->map.reserve(m_handles.entries());
    for (Tree_NodePtr* stored : m_handles) built->Add(stored);
  } catch (...) {
    return nullptr;  // lookups scan instead
  }
  // Concurrent lookups may build at once: the first to publish wins, the others use its.
  NameIndex* expected = nullptr;
  if (m_index.compare_exchange_strong(expected, built.get(), std::memory_order_acq_rel)) {
    return built.release();
  }
  return expected;
}

void Tree_NodePtrVec::DropIndex() noexcept {
  // Only changes drop the index, and they have the vector to themselves: no exchange needed.
  NameIndex* const index = m_index.load(std::memory_order_relaxed);
  if (index == nullptr) return;
  m_index.store(nullptr, std::memory_order_relaxed);
  delete index;
}

void Tree_NodePtrVec::IndexInserted(NameIndex& index, int i) {
  Tree_NodePtr* const stored = m_handles[static_cast<unsigned>(i)];
  const auto [entry, first] = index.Add(stored);
  if (first) return;
  // The new child is now the first of its name unless the old first lies before slot i.
  if (i == entries() - 1) return;
  const auto begin = m_handles.begin();
  if (std::find(begin, begin + i, entry->first) == begin + i) entry->first = stored;
}

void Tree_NodePtrVec::IndexRemoving(NameIndex& index, int i) {
  Tree_NodePtr* const stored = m_handles[static_cast<unsigned>(i)];
  const std::string_view name = (*stored)->KeyName().view();
  const auto entry = index.map.find(name);
  if (--entry->count == 0) {
    index.map.erase(entry);
    return;
  }
  if (entry->first != stored) return;
  // The first of the name leaves: the next one of that name lies after it.
  const auto next =
      std::find_if(m_handles.begin() + i + 1, m_handles.end(),
                   [name](const Tree_NodePtr* at) { return (*at)->KeyName().view() == name; });
  entry->first = *next;
}

void Tree_NodePtrVec::insertAt(int i, const Tree_NodePtr& handle) {
  if (i < 0 || i > entries()) throw RWBoundsErr::IndexError(i, m_handles.entries());
  Tree_NodePtr* const stored = StoreHandle(handle->m_stored, handle);
  try {
    m_handles.insertAt(static_cast<unsigned>(i), stored);
  } catch (...) {
    Release(stored);
    throw;
  }
  if (NameIndex* index = m_index.load(std::memory_order_relaxed)) {
    try {
      IndexInserted(*index, i);
    } catch (...) {
      DropIndex();  // the next lookup rebuilds it
    }
  }
}

void Tree_NodePtrVec::removeAt(int i) {
  if (i < 0 || i >= entries()) throw RWBoundsErr::IndexError(i, m_handles.entries());
  if (NameIndex* index = m_index.load(std::memory_order_relaxed)) {
    if (entries() - 1 <= kIndexFrom / 2) {
      DropIndex();
    } else {
      IndexRemoving(*index, i);
    }
  }
  // The handle leaves the vector before it is deleted, so the vector is consistent while the
  // release destroys the child.
  Release(m_handles.removeAt(static_cast<unsigned>(i)));
}

void Tree_NodePtrVec::removeSlots(const std::vector<int>& slots) {
  if (slots.empty()) return;
  DropIndex();  // rebuilt by the next lookup, if the vector is still wide then
  std::vector<Tree_NodePtr*> removed;
  removed.reserve(slots.size());
  std::vector<bool> leaves(m_handles.entries(), false);
  for (int slot : slots) {
    leaves[static_cast<std::size_t>(slot)] = true;
    removed.push_back(m_handles[static_cast<unsigned>(slot)]);
  }
  Slots kept(m_handles.entries() - slots.size());
  std::size_t slot = 0;
  for (Tree_NodePtr* stored : m_handles) {
    if (!leaves[slot++]) kept.insert(stored);
  }
  m_handles = std::move(kept);
  for (Tree_NodePtr* stored : removed) Release(stored);
}

// ---- Insertion and removal ---------------------------------------------------------------

int Tree_Node::Add(const Tree_NodePtr& new_child) {
  TREE_LOG(7, "Start Add(Tree_NodePtr & new_child)\n");
  if (new_child.get() == nullptr) {
    TREE_LOG(3, "Add(Tree_NodePtr & new_child) : new_child is null , return FALSE\n");
    return 0;
  }
  // A child of this node leaves its slot first, so the end is one slot nearer.
  const int end = GetChildCount() - (new_child->m_parent == this ? 1 : 0);
  return Insert(new_child, end);
}

int Tree_Node::Insert(const Tree_NodePtr& new_child, int child_index) {
  TREE_LOG(7, "Start Insert(Tree_NodePtr& new_child, int child_index)\n");
  if (m_allows_children == 0) {
    TREE_LOG(3,
             "Insert(Tree_NodePtr & new_child, int child_index) : this node does not allowed "
             "children, return FALSE %s\n",
             m_key_name.data());
    return 0;
  }
  if (new_child.get() == nullptr) {
    TREE_LOG(3,
             "Insert(Tree_NodePtr & new_child, int child_index) : new_child is NULL , return "
             "FALSE\n");
    return 0;
  }
  // An ancestor of this node has children, so a childless node needs no walk up the chain:
  // building a tree by appending new nodes stays constant-time at any depth.
  if (new_child.get() == this || (new_child->GetChildCount() > 0 && HasAncestor(new_child.get()))) {
    TREE_LOG(3,
             "Insert(Tree_NodePtr & new_child, int child_index) : new_child is this node or "
             "one of its ancestors, return FALSE %s\n",
             new_child->m_key_name.data());
    return 0;
  }
  Tree_Node* const old_parent = new_child->m_parent;
  const int count_after_leaving = GetChildCount() - (old_parent == this ? 1 : 0);
  if (child_index < 0 || child_index > count_after_leaving) {
    throw RWBoundsErr::IndexError(child_index, static_cast<std::size_t>(count_after_leaving) + 1);
  }

  // `new_child` may be the very handle stored in the old parent, which leaving releases: a
  // copy keeps the node then. A node without a parent needs none, which spares a protected
  // family two atomic count changes.
  Tree_NodePtr kept;
  if (old_parent != nullptr) {
    kept = new_child;
    old_parent->Remove(kept);
  }
  const Tree_NodePtr& child = old_parent != nullptr ? kept : new_child;
  child->m_parent = this;
  if (m_children == nullptr) m_children = std::make_unique<Tree_NodePtrVec>();
  m_children->insertAt(child_index, child);
  if (child->m_subtree_complete) IncDecCompleteSons(+1);
  UpdateCompletionStatus();
  TREE_LOG(7, "End Insert(Tree_NodePtr& new_child, int child_index)\n");
  return 1;
}

int Tree_Node::Remove(int child_index) {
  if (m_children == nullptr) {
    TREE_LOG(7, "Remove(int child_index) : children vec is null, return FALSE\n");
    return 0;
  }
  // Keeps the child alive to the end of the removal; raises RWBoundsErr before any change.
  const Tree_NodePtr child = m_children->at(child_index);
  child->m_parent = nullptr;
  m_children->removeAt(child_index);
  if (child->m_subtree_complete) IncDecCompleteSons(-1);
  UpdateCompletionStatus();
  return 1;
}

int Tree_Node::Remove(const Tree_NodePtr& a_child) {
  if (a_child.get() == nullptr) {
    TREE_LOG(3, "Remove(Tree_NodePtr & a_child): a_child is NULL\n");
    return 0;
  }
  return Remove(GetIndex(a_child));
}

int Tree_Node::Remove(const RWCString& path) {
  if (path.isNull()) {
    TREE_LOG(3, "Remove(RWCString & path) : path is null, return FALSE\n");
    return 0;
  }
  const int index = FindChildIndex(path.view());
  return index < 0 ? 0 : Remove(index);
}

// ---- Access -------------------------------------------------------------------------------

Tree_NodePtr& Tree_Node::GetChildAt(int index) {
  if (index < 0) {
    TREE_LOG(3, "GetChildAt : index is less then 0,return null Tree_NodePtr\n");
    return NULL_TREE_NODE_PTR;
  }
  if (index >= GetChildCount()) {
    TREE_LOG(3, "GetChildAt : index >= GetChildCount(),return null Tree_NodePtr\n");
    return NULL_TREE_NODE_PTR;
  }
  return ChildHandle(index);
}

int Tree_Node::GetIndex(const Tree_NodePtr& a_child) const {
  if (m_children == nullptr) {
    TREE_LOG(3, "GetIndex(Tree_NodePtr & a_child) : children vec is null, return -1\n");
    return -1;
  }
  return m_children->index(a_child);
}

Tree_NodePtr* Tree_Node::FindChild(std::string_view name) const {
  return m_children != nullptr ? m_children->findFirst(name) : nullptr;
}

int Tree_Node::FindChildIndex(std::string_view name) const {
  const Tree_NodePtr* found = FindChild(name);
  return found != nullptr ? m_children->slotOf(found) : -1;
}

// ---- Ancestry -----------------------------------------------------------------------------

bool Tree_Node::HasAncestor(const Tree_Node* node) const {
  for (const Tree_Node* at = this; at != nullptr; at = at->m_parent) {
    if (at == node) return true;
  }
  return false;
}

int Tree_Node::IsNodeAncestor(const Tree_NodePtr& another_node) const {
  TREE_LOG(7, "Start IsNodeAncestor(Tree_NodePtr & another_node)\n");
  if (another_node.get() == nullptr) {
    TREE_LOG(3, "IsNodeAncestor(Tree_NodePtr & another_node) : another_node is NULL\n");
    return 0;
  }
  if (HasAncestor(another_node.get())) {
    TREE_LOG(7, "END IsNodeAncestor(Tree_NodePtr & another_node), return TRUE\n");
    return 1;
  }
  TREE_LOG(7, "END IsNodeAncestor(Tree_NodePtr & another_node), return FALSE\n");
  return 0;
}

int Tree_Node::IsNodeChild(const Tree_NodePtr& node) const {
  if (node.get() == nullptr) {
    TREE_LOG(3, "IsNodeChild(  Tree_NodePtr & node): node is NULL, return FALSE\n");
    return 0;
  }
  if (GetChildCount() == 0) return 0;
  return node->m_parent == this ? 1 : 0;
}

// ---- Whole-subtree walks (explicit stacks, no recursion) ------------------------------------

int Tree_Node::GetNodeNum() const {
  int count = 0;
  std::vector<const Tree_Node*> pending{this};
  while (!pending.empty()) {
    const Tree_Node* node = pending.back();
    pending.pop_back();
    ++count;
    for (int i = node->GetChildCount() - 1; i >= 0; --i)
      pending.push_back(node->ChildHandle(i).get());
  }
  return count;
}

void Tree_Node::ExecuteOnEntireSubtree(const std::function<void(Tree_Node*)>& fn) {
  // Each frame holds a handle, so a node that `fn` detaches stays alive until its children
  // have been visited.
  struct Frame {
    Tree_NodePtr node;
    int next_child;
  };
  fn(this);
  std::vector<Frame> frames;
  Tree_Node* const self = this;
  Tree_NodePtr self_handle(self);
  self_handle.Disown();
  frames.push_back(Frame{std::move(self_handle), 0});
  while (!frames.empty()) {
    Frame& top = frames.back();
    if (top.next_child >= top.node->GetChildCount()) {
      frames.pop_back();
      continue;
    }
    Tree_NodePtr child = top.node->ChildHandle(top.next_child++);
    fn(child.get());
    frames.push_back(Frame{std::move(child), 0});
  }
}

void Tree_Node::ChangeTreeNodePtrProtection(const Tree_NodePtr& handle, int& toggle) {
  if (handle.get() == nullptr) return;
  std::vector<const Tree_NodePtr*> pending{&handle};
  while (!pending.empty()) {
    const Tree_NodePtr* at = pending.back();
    pending.pop_back();
    at->SetToggle(&toggle);
    const Tree_Node* node = at->get();
    for (int i = node->GetChildCount() - 1; i >= 0; --i) pending.push_back(&node->ChildHandle(i));
  }
}
