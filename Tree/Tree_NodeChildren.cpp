// Children and ancestry: the children vector, insertion, removal, counting and visits.
// Insert and Remove(int) are the only members that change the shape of a tree.
#include <absl/container/flat_hash_set.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "Tree/TreeLog.h"
#include "Tree/Tree_Node.h"

// ---- Tree_NodePtrVec --------------------------------------------------------------------

static_assert(sizeof(Tree_NodePtrVec) == sizeof(void*), "one word inside its node");

namespace {

// Whether a child's key name is `name`: the short names of small nodes are compared with a
// few loads instead of a call, reading no byte outside either text.
[[gnu::always_inline]] inline bool SameName(std::string_view key, std::string_view name) noexcept {
  const std::size_t size = name.size();
  if (key.size() != size) return false;
  const char* const a = key.data();
  const char* const b = name.data();
  const auto load8 = [](const char* at) {
    std::uint64_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
  };
  const auto load4 = [](const char* at) {
    std::uint32_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
  };
  if (size >= 8) {
    if (size > 16) return std::memcmp(a, b, size) == 0;
    // Two loads that overlap for sizes below 16.
    return load8(a) == load8(b) && load8(a + size - 8) == load8(b + size - 8);
  }
  if (size >= 4) return load4(a) == load4(b) && load4(a + size - 4) == load4(b + size - 4);
  for (std::size_t i = 0; i < size; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

}  // namespace

// An open-addressing table of 16-byte entries in one array, so building an index costs no
// allocation per child. An entry holds no name: it holds the slot of the first child of its
// name, whose key name never changes while the child is stored, and keeps that name's hash,
// so growing the table rehashes without reading a single child.
struct Tree_NodePtrVec::NameIndex {
  struct Entry {
    static std::uint32_t HashOf(std::string_view name) noexcept {
      return static_cast<std::uint32_t>(absl::Hash<std::string_view>{}(name));
    }
    std::string_view Name() const noexcept { return NodeOf(first)->KeyName().view(); }

    // Neither changes the entry's name, so both may change in place.
    mutable Slot first;
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

  // Counts the child in `slot` under its name; returns the name's entry and whether the child
  // is the first of it.
  std::pair<decltype(map)::iterator, bool> Add(Slot slot) {
    const std::string_view name = NodeOf(slot)->KeyName().view();
    const auto [entry, inserted] = map.insert(Entry{slot, Entry::HashOf(name), 1});
    if (!inserted) ++entry->count;
    return {entry, inserted};
  }
};

void Tree_NodePtrVec::Release(Slot slot) noexcept {
  Tree_NodePtr* const stored = HandleOf(slot);
  if ((slot & kOwnBlock) == 0) {
    // Moved out first: the release may destroy the node, and the handle with it.
    Tree_NodePtr released(std::move(*stored));
  } else {
    delete stored;
  }
}

void Tree_NodePtrVec::ThrowIndexError(unsigned i, unsigned size) {
  throw RWBoundsErr::IndexError(static_cast<long long>(i), size);
}

void Tree_NodePtrVec::ReleaseAll() noexcept {
  Block* const block = GetBlock();
  if (block != nullptr) DropIndex(*block);
  // The children become roots (those that other handles keep stay alive), each one unlinked
  // a few children before its release, when the node fetched further ahead has arrived;
  // unlinking also fetches the value that the release frees. The first few are unlinked
  // together, so a node's only few children are fetched at once.
  constexpr unsigned kAhead = 8;
  const Span span = Slots();
  const unsigned count = span.size;
  const Slot* const slots = span.slots;
  const auto unlink = [slots](unsigned i) {
    Tree_Node* const child = NodeOf(slots[i]);
    child->m_parent = nullptr;
    __builtin_prefetch(child->m_tree_value.get());
  };
  for (unsigned i = 0; i < std::min(count, kAhead); ++i) unlink(i);
  for (unsigned i = 0; i < count; ++i) {
    if (i + 2 * kAhead < count) __builtin_prefetch(HandleOf(slots[i + 2 * kAhead]), 1);
    if (i + kAhead < count) unlink(i + kAhead);
    Release(slots[i]);
  }
  m_word = 0;
  Tree_NodeAllocator::Free(block);
}

int Tree_NodePtrVec::index(const Tree_NodePtr& handle) const noexcept {
  const Tree_Node* const node = handle.get();
  const Span span = Slots();
  for (unsigned slot = 0; slot < span.size; ++slot) {
    if (NodeOf(span.slots[slot]) == node) return static_cast<int>(slot);
  }
  return -1;
}

int Tree_NodePtrVec::slotOf(const Tree_NodePtr* stored) const noexcept {
  const Span span = Slots();
  for (unsigned slot = 0; slot < span.size; ++slot) {
    if (HandleOf(span.slots[slot]) == stored) return static_cast<int>(slot);
  }
  return -1;
}

Tree_NodePtrVec::Found Tree_NodePtrVec::find(std::string_view name, Next next) const noexcept {
  const Slot word = m_word;
  if ((word & kBlockTag) == 0) {
    if (word == 0) return Found{nullptr, nullptr};
    Tree_Node* const node = NodeOf(word);
    if (SameName(node->KeyName().view(), name)) return Found{HandleOf(word), node};
    return Found{nullptr, nullptr};
  }
  Block* const block = BlockOf(word);
  if (block == nullptr) return Found{nullptr, nullptr};
  NameIndex* index = block->index.load(std::memory_order_acquire);
  if (index == nullptr && block->size > static_cast<unsigned>(kIndexFrom)) {
    index = BuildIndex(*block);
  }
  if (index != nullptr) {
    const auto found = index->map.find(name);
    if (found == index->map.end()) return Found{nullptr, nullptr};
    return Found{HandleOf(found->first), NodeOf(found->first)};
  }
  // At most kIndexFrom children: every one is fetched at once, with what its hint names, then
  // compared, rather than one miss after another.
  const unsigned count = block->size;
  const Slot* const slots = block->slots();
  std::int32_t* const hints = block->hints();
  const std::intptr_t base = reinterpret_cast<std::intptr_t>(block);
  for (unsigned i = 0; i < count; ++i) {
    __builtin_prefetch(NodeOf(slots[i]));
    if (hints == nullptr) continue;
    const std::int32_t hint =
        std::atomic_ref<std::int32_t>(hints[i]).load(std::memory_order_relaxed);
    // Only ever a prefetch: a stale hint may name memory freed since, which is not read. The
    // address is computed as an integer, as it may lie outside any live object.
    if (hint != 0) {
      __builtin_prefetch(reinterpret_cast<const void*>(base + std::intptr_t{hint} * 16));
    }
  }
  for (unsigned i = 0; i < count; ++i) {
    Tree_Node* const node = NodeOf(slots[i]);
    if (SameName(node->KeyName().view(), name)) {
      if (hints != nullptr && next != Next::kNothing) KeepHint(*block, i, *node, next);
      return Found{HandleOf(slots[i]), node};
    }
  }
  return Found{nullptr, nullptr};
}

void Tree_NodePtrVec::KeepHint(Block& block, unsigned i, const Tree_Node& node,
                               Next next) noexcept {
  // What the caller reads next of the child: the same parts it reads anyway, so this adds no
  // access that a change to the child on another thread would have to allow for.
  const void* target = nullptr;
  if (next == Next::kValue) {
    if (node.m_allows_children == 0) target = node.m_tree_value.get();
  } else {
    const Slot word = node.m_children.m_word;
    if ((word & kBlockTag) != 0) {
      target = BlockOf(word);
    } else if (word != 0) {
      target = NodeOf(word);
    }
  }
  std::int32_t hint = 0;
  if (target != nullptr) {
    const std::ptrdiff_t distance =
        (reinterpret_cast<std::intptr_t>(target) - reinterpret_cast<std::intptr_t>(&block)) / 16;
    if (distance != 0 && distance >= std::numeric_limits<std::int32_t>::min() &&
        distance <= std::numeric_limits<std::int32_t>::max()) {
      hint = static_cast<std::int32_t>(distance);
    }
  }
  const std::atomic_ref<std::int32_t> kept(block.hints()[i]);
  // Stored only when it changes, so lookups that repeat write nothing.
  if (kept.load(std::memory_order_relaxed) != hint) kept.store(hint, std::memory_order_relaxed);
}

Tree_NodePtrVec::NameIndex* Tree_NodePtrVec::BuildIndex(Block& block) const noexcept {
  std::unique_ptr<NameIndex> built;
  try {
    built = std::make_unique<NameIndex>();
    built->map.reserve(block.size);
    for (unsigned i = 0; i < block.size; ++i) built->Add(block.slots()[i]);
  } catch (...) {
    return nullptr;  // lookups scan instead
  }
  // Concurrent lookups may build at once: the first to publish wins, the others use its.
  NameIndex* expected = nullptr;
  if (block.index.compare_exchange_strong(expected, built.get(), std::memory_order_acq_rel)) {
    return built.release();
  }
  return expected;
}

void Tree_NodePtrVec::DropIndex(Block& block) noexcept {
  // Only changes drop the index, and they have the vector to themselves: no exchange needed.
  NameIndex* const index = block.index.load(std::memory_order_relaxed);
  if (index == nullptr) return;
  block.index.store(nullptr, std::memory_order_relaxed);
  delete index;
}

void Tree_NodePtrVec::IndexInserted(Block& block, NameIndex& index, unsigned i) {
  Slot* const slots = block.slots();
  const Slot slot = slots[i];
  const auto [entry, first] = index.Add(slot);
  if (first) return;
  // The new child is now the first of its name unless the old first lies before slot i.
  if (i == block.size - 1) return;
  if (std::find(slots, slots + i, entry->first) == slots + i) entry->first = slot;
}

void Tree_NodePtrVec::IndexRemoving(Block& block, NameIndex& index, unsigned i) {
  Slot* const slots = block.slots();
  const Slot slot = slots[i];
  const std::string_view name = NodeOf(slot)->KeyName().view();
  const auto entry = index.map.find(name);
  if (--entry->count == 0) {
    index.map.erase(entry);
    return;
  }
  if (entry->first != slot) return;
  // The first of the name leaves: the next one of that name lies after it.
  entry->first = *std::find_if(slots + i + 1, slots + block.size,
                               [name](Slot at) { return NodeOf(at)->KeyName().view() == name; });
}

void Tree_NodePtrVec::Grow(unsigned capacity) {
  const Span span = Slots();
  if (capacity < 2) capacity = 2;
  auto* const grown = static_cast<Block*>(Tree_NodeAllocator::Allocate(BytesFor(capacity)));
  Block* const old = GetBlock();
  grown->size = span.size;
  grown->capacity = capacity;
  ::new (&grown->index) std::atomic<NameIndex*>(
      old != nullptr ? old->index.load(std::memory_order_relaxed) : nullptr);
  std::copy(span.slots, span.slots + span.size, grown->slots());
  if (std::int32_t* const hints = grown->hints()) {
    // A hint is a distance from its block, so none carries over to the new one.
    std::fill(hints, hints + capacity, 0);
  }
  m_word = reinterpret_cast<Slot>(grown) | kBlockTag;
  Tree_NodeAllocator::Free(old);
}

void Tree_NodePtrVec::reserve(int count) {
  if (count <= 0) return;
  if (m_word == 0) m_word = kBlockTag;  // used, and empty
  const Block* const block = GetBlock();
  const unsigned capacity = block != nullptr ? block->capacity : 1;
  if (static_cast<unsigned>(count) > capacity) Grow(static_cast<unsigned>(count));
}

void Tree_NodePtrVec::GrowForOneMore() {
  // Block sizes of 64, 128, 256, ... bytes: size classes of the node heap, so a wide node's
  // slots fill their block as a doubling vector's would. The first block is one line of 4
  // slots with their hints; then 9 with hints and 14 without in 128 bytes, then 30, 62, ...
  // slots. Children are counted in an int: past that many, an insertion fails as a failed
  // allocation does.
  static_assert(BytesFor(4) == 64 && BytesFor(kHintSlots) <= 128,
                "a small node's block keeps its hints in the heap's 64- and 128-byte classes");
  constexpr std::size_t kMost = std::numeric_limits<int>::max();
  const Block* const block = GetBlock();
  if (block == nullptr) {
    Grow(4);
    return;
  }
  const unsigned capacity = block->capacity;
  if (capacity >= kMost) throw std::bad_alloc();
  // The size class the block is in (a reserved block may lie between two): a block that
  // outgrows its hints first takes the slots its class holds without them.
  std::size_t bytes = std::bit_ceil(BytesFor(capacity));
  const std::size_t plain = (bytes - sizeof(Block)) / sizeof(Slot);
  if (Hinted(capacity) && plain > capacity && !Hinted(static_cast<unsigned>(plain))) {
    Grow(static_cast<unsigned>(plain));
    return;
  }
  bytes *= 2;
  std::size_t grown = (bytes - sizeof(Block)) / (sizeof(Slot) + 4);
  if (grown > kHintSlots) grown = (bytes - sizeof(Block)) / sizeof(Slot);
  Grow(static_cast<unsigned>(std::min(grown, kMost)));
}

void Tree_NodePtrVec::Place(unsigned at, Slot slot) noexcept {
  if ((m_word & kBlockTag) == 0 || m_word == kBlockTag) {
    m_word = slot;  // the first child, in the word (room was made: the vector was empty)
    return;
  }
  Block& block = *BlockOf(m_word);
  Slot* const slots = block.slots();
  std::copy_backward(slots + at, slots + block.size, slots + block.size + 1);
  slots[at] = slot;
  if (std::int32_t* const hints = block.hints()) {
    std::copy_backward(hints + at, hints + block.size, hints + block.size + 1);
    hints[at] = 0;  // the first lookup through the child sets it
  }
  ++block.size;
  if (NameIndex* index = block.index.load(std::memory_order_relaxed)) {
    try {
      IndexInserted(block, *index, at);
    } catch (...) {
      DropIndex(block);  // the next lookup rebuilds it
    }
  }
}

void Tree_NodePtrVec::insertAt(int i, const Tree_NodePtr& handle) {
  const unsigned size = static_cast<unsigned>(entries());
  if (i < 0 || static_cast<unsigned>(i) > size) throw RWBoundsErr::IndexError(i, size);
  // Room first: once the handle is stored, nothing below can fail.
  const Block* const block = GetBlock();
  if (block != nullptr ? block->size == block->capacity : size == 1) GrowForOneMore();
  Tree_NodePtr& in_node = handle->m_stored;
  Slot slot;
  if (in_node.get() == nullptr) {
    in_node = handle;
    slot = reinterpret_cast<Slot>(&in_node);
  } else {
    // The node's own place is taken (a host relinked it by SetParent): a handle of its own.
    slot = reinterpret_cast<Slot>(new Tree_NodePtr(handle)) | kOwnBlock;
  }
  Place(static_cast<unsigned>(i), slot);
}

void Tree_NodePtrVec::append(Tree_NodePtr&& handle) {
  const Block* const block = GetBlock();
  if (block != nullptr ? block->size == block->capacity : m_word != 0 && m_word != kBlockTag) {
    GrowForOneMore();
  }
  const unsigned at = static_cast<unsigned>(entries());
  Tree_NodePtr& in_node = handle->m_stored;
  in_node = std::move(handle);
  Place(at, reinterpret_cast<Slot>(&in_node));
}

void Tree_NodePtrVec::removeAt(int i) {
  const unsigned size = static_cast<unsigned>(entries());
  if (i < 0 || static_cast<unsigned>(i) >= size) throw RWBoundsErr::IndexError(i, size);
  const auto at = static_cast<unsigned>(i);
  Block* const block = GetBlock();
  if (block == nullptr) {
    // The only child, in the word.
    const Slot slot = m_word;
    m_word = kBlockTag;
    Release(slot);
    return;
  }
  if (NameIndex* index = block->index.load(std::memory_order_relaxed)) {
    if (entries() - 1 <= kIndexFrom / 2) {
      DropIndex(*block);
    } else {
      IndexRemoving(*block, *index, at);
    }
  }
  // The handle leaves the vector before it is deleted, so the vector is consistent while the
  // release destroys the child.
  Slot* const slots = block->slots();
  const Slot slot = slots[at];
  std::copy(slots + at + 1, slots + block->size, slots + at);
  if (std::int32_t* const hints = block->hints()) {
    std::copy(hints + at + 1, hints + block->size, hints + at);
  }
  --block->size;
  Release(slot);
}

void Tree_NodePtrVec::removeSlots(const std::vector<int>& slots) {
  if (slots.empty()) return;
  Block* const block = GetBlock();
  if (block == nullptr) {
    removeAt(slots.front());  // a single child: one slot in range
    return;
  }
  DropIndex(*block);  // rebuilt by the next lookup, if the vector is still wide then
  Slot* const kept_slots = block->slots();
  std::vector<Slot> removed;
  removed.reserve(slots.size());
  std::vector<bool> leaves(block->size, false);
  for (int slot : slots) {
    leaves[static_cast<std::size_t>(slot)] = true;
    removed.push_back(kept_slots[static_cast<unsigned>(slot)]);
  }
  std::int32_t* const hints = block->hints();
  unsigned kept = 0;
  for (unsigned slot = 0; slot < block->size; ++slot) {
    if (leaves[slot]) continue;
    if (hints != nullptr) hints[kept] = hints[slot];
    kept_slots[kept++] = kept_slots[slot];
  }
  block->size = kept;
  for (Slot slot : removed) Release(slot);
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

int Tree_Node::Add(Tree_NodePtr&& new_child) {
  Tree_Node* const node = new_child.get();
  if (node == nullptr || m_allows_children == 0 || node == this || node->m_parent != nullptr ||
      node->GetChildCount() > 0 || node->m_stored.get() != nullptr) {
    const int added = Add(static_cast<const Tree_NodePtr&>(new_child));
    if (added != 0) new_child = Tree_NodePtr();
    return added;
  }
  TREE_LOG(7, "Start Add(Tree_NodePtr & new_child)\n");  // as the copying Add logs
  m_children.append(std::move(new_child));  // may raise std::bad_alloc, nothing changed
  node->m_parent = this;
  // As Insert: a complete child raises the count, and the status follows.
  if (node->m_subtree_complete) IncDecCompleteSons(+1);
  UpdateCompletionStatus();
  return 1;
}

Tree_Node* Tree_Node::AddNewChild(RWCString&& key_name, Tree_Value* value, Tree_NodeKind kind) {
  if (m_allows_children == 0 || !IsKeptKeyName(key_name.view())) {
    Tree_NodePtr child(new Tree_Node(std::move(key_name), value));
    child->m_kind = kind;
    return Add(child) != 0 ? child.get() : nullptr;
  }
  TREE_LOG(7, "Start Add(Tree_NodePtr & new_child)\n");  // as Add logs
  // The value is freed should the node's allocation fail, which comes before the release.
  std::unique_ptr<Tree_Value> owned(value);
  Tree_NodePtr child = FirstHandle(new Tree_Node(std::move(key_name), owned.release(), KeptName{}));
  Tree_Node* const node = child.get();
  node->m_kind = kind;
  m_children.append(std::move(child));  // may raise std::bad_alloc, nothing changed
  node->m_parent = this;
  // The new node is complete, as Add counts it.
  IncDecCompleteSons(+1);
  UpdateCompletionStatus();
  return node;
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
  m_children.insertAt(child_index, child);
  if (child->m_subtree_complete) IncDecCompleteSons(+1);
  UpdateCompletionStatus();
  TREE_LOG(7, "End Insert(Tree_NodePtr& new_child, int child_index)\n");
  return 1;
}

int Tree_Node::Remove(int child_index) {
  if (!m_children.everUsed()) {
    TREE_LOG(7, "Remove(int child_index) : children vec is null, return FALSE\n");
    return 0;
  }
  // Keeps the child alive to the end of the removal; raises RWBoundsErr before any change.
  const Tree_NodePtr child = m_children.at(child_index);
  child->m_parent = nullptr;
  m_children.removeAt(child_index);
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

void Tree_Node::AdoptCopy(Tree_NodePtr&& child) {
  child->m_parent = this;
  m_children.append(std::move(child));
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
  if (!m_children.everUsed()) {
    TREE_LOG(3, "GetIndex(Tree_NodePtr & a_child) : children vec is null, return -1\n");
    return -1;
  }
  return m_children.index(a_child);
}

Tree_NodePtr* Tree_Node::FindChild(std::string_view name) const {
  return FindChildAndNode(name).handle;
}

int Tree_Node::FindChildIndex(std::string_view name) const {
  const Tree_NodePtr* found = FindChild(name);
  return found != nullptr ? m_children.slotOf(found) : -1;
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
