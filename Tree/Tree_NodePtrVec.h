// A node's children: an ordered vector of stored handles, one per child, owned by the vector.
// Slot i holds the handle of child i, which lives inside the child itself (see
// Tree_Node::m_stored). A reference to a stored handle stays valid while that child stays in
// the vector, whatever else is inserted or removed. A stored handle is only read: assigning
// another node to it would cut the child loose while its slot still points into it. Indexes are
// checked as unsigned values, so a negative index is out of range and raises RWBoundsErr.
//
// The first kInlineSlots slots live in the vector object itself, which fills one 64-byte
// block of the node heap: a node with few children costs one block for its vector, and a walk
// reads its count and slots from one cache line. A slot names its child's node without a
// load (the handle sits at a fixed place inside the node), so a scan of the children reads
// only the line of each child that holds its key name.
//
// Past kIndexFrom children, the first lookup by name builds a name index (key name to the
// slot of the first child of that name, with the number of children of that name), which
// every later insertion and removal keeps exact; it is freed when the vector narrows to
// kIndexFrom / 2 children. Several threads may look up at once: the index is published with
// one atomic exchange. Changes still need the vector to themselves.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>
#include <vector>

#include "Tree/Tree_NodeAllocator.h"
#include "Tree/Tree_NodePtr.h"

class Tree_NodePtrVec {
 public:
  // Below this many children a scan is as fast as the index and costs no memory.
  static constexpr int kIndexFrom = 12;
  // Slots kept in the vector object before the first separate slot block.
  static constexpr unsigned kInlineSlots = 5;

  Tree_NodePtrVec() = default;
  // In the node heap, as its slots are (see Tree_NodeAllocator.h).
  static void* operator new(std::size_t size) { return Tree_NodeAllocator::Allocate(size); }
  static void operator delete(void* block) noexcept { Tree_NodeAllocator::Free(block); }
  // Not copyable: two vectors must never own the same handles.
  Tree_NodePtrVec(const Tree_NodePtrVec&) = delete;
  Tree_NodePtrVec& operator=(const Tree_NodePtrVec&) = delete;
  // Unlinks every child from its parent (those other handles keep become roots) and releases
  // every stored handle in slot order.
  ~Tree_NodePtrVec();

  int entries() const noexcept { return static_cast<int>(m_size); }

  // Hints that the vector's slots, then the first children's handles, will be read soon:
  // a destruction calls the two on the vectors it will destroy next, a few vectors ahead.
  void PrefetchSlots() const noexcept {
    if (m_slots != m_inline) __builtin_prefetch(m_slots);
  }
  void PrefetchFirstChildren() const noexcept {
    const unsigned count = m_size < 4 ? m_size : 4;
    for (unsigned i = 0; i < count; ++i) __builtin_prefetch(HandleOf(m_slots[i]), 1);
  }

  // The handle stored in slot `i`; RWBoundsErr unless 0 <= i < entries().
  Tree_NodePtr& at(int i) { return *HandleOf(m_slots[Checked(i)]); }
  const Tree_NodePtr& at(int i) const { return *HandleOf(m_slots[Checked(i)]); }

  // The first slot whose handle holds the same node as `handle`, or -1.
  int index(const Tree_NodePtr& handle) const noexcept;
  // The slot of the stored handle `stored` (compared by address), or -1.
  int slotOf(const Tree_NodePtr* stored) const noexcept;

  // The first child whose key name is `name`: its stored handle and its node, both null when
  // there is none. Builds the name index on first use past kIndexFrom children; should that
  // allocation fail, scans.
  struct Found {
    Tree_NodePtr* handle;
    Tree_Node* node;
  };
  Found find(std::string_view name) const noexcept;

  // Makes room for `count` slots in all, so that as many insertions allocate no slots.
  // Raises std::bad_alloc, with nothing changed, when the room cannot be had.
  void reserve(int count);

  // Stores a new copy of `handle` (its family's count rises by one) in slot `i`, moving later
  // slots up; RWBoundsErr unless 0 <= i <= entries().
  void insertAt(int i, const Tree_NodePtr& handle);

  // Appends the handle `handle` holds without a count change: it moves into its node's stored
  // handle, which must be null. Raises std::bad_alloc, with nothing changed, when the slots
  // cannot grow.
  void append(Tree_NodePtr&& handle);

  // Releases the handle in slot `i` (its family's count falls by one) and closes the gap;
  // RWBoundsErr unless 0 <= i < entries().
  void removeAt(int i);

  // Removes the handles of the slots in `slots` (each in range, no slot twice, any order) in
  // one pass that keeps the others in order, then releases them in the order given, each
  // after the vector is consistent again.
  void removeSlots(const std::vector<int>& slots);

 private:
  // Key name to the slot of the first child of that name and the number of children of that
  // name. Defined where it is used, so this header needs no hash table's.
  struct NameIndex;

  // A slot: the address of the stored handle, with the low bit set when the handle has a heap
  // block of its own rather than its node's m_stored (a node a host relinked by SetParent and
  // so a child twice).
  using Slot = std::uintptr_t;
  static constexpr Slot kOwnBlock = 1;
  static Tree_NodePtr* HandleOf(Slot slot) noexcept {
    return reinterpret_cast<Tree_NodePtr*>(slot & ~kOwnBlock);
  }
  // The node of the slot's handle; reads memory only for a handle in a block of its own.
  // Defined, and used, only where Tree_Node is complete (Tree_NodeChildren.cpp).
  static inline Tree_Node* NodeOf(Slot slot) noexcept;

  unsigned Checked(int i) const {
    if (static_cast<unsigned>(i) >= m_size) ThrowIndexError(static_cast<unsigned>(i));
    return static_cast<unsigned>(i);
  }
  [[noreturn]] void ThrowIndexError(unsigned i) const;
  // Moves the slots to a block of `capacity` slots, at least m_size.
  void Grow(unsigned capacity);
  // Makes room for one more slot.
  void GrowForOneMore();
  // Releases a handle that has left the vector (or is about to, with the vector).
  static void Release(Slot slot) noexcept;
  NameIndex* BuildIndex() const noexcept;
  void DropIndex() noexcept;
  void IndexInserted(NameIndex& index, unsigned i);
  void IndexRemoving(NameIndex& index, unsigned i);

  Slot* m_slots = m_inline;  // m_inline, or a block of the node heap of m_capacity slots
  std::uint32_t m_size = 0;
  std::uint32_t m_capacity = kInlineSlots;
  Slot m_inline[kInlineSlots];
  // Owned; null until a lookup past kIndexFrom children builds it.
  mutable std::atomic<NameIndex*> m_index{nullptr};
};
