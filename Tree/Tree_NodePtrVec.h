// A node's children: an ordered vector of stored handles, one per child, owned by the vector.
// Slot i holds the handle of child i, which lives inside the child itself (see
// Tree_Node::m_stored). A reference to a stored handle stays valid while that child stays in
// the vector, whatever else is inserted or removed. A stored handle is only read: assigning
// another node to it would cut the child loose while its slot still points into it. Indexes are
// checked as unsigned values, so a negative index is out of range and raises RWBoundsErr.
//
// Past kIndexFrom children, the first lookup by name builds a name index (key name to the
// stored handle of the first child of that name, with the number of children of that name),
// which every later insertion and removal keeps exact; it is freed when the vector narrows
// to kIndexFrom / 2 children. Several threads may look up at once: the index is published
// with one atomic exchange. Changes still need the vector to themselves.
#pragma once

#include <atomic>
#include <string_view>
#include <vector>

#include "Tree/Tree_NodeAllocator.h"
#include "Tree/Tree_NodePtr.h"
#include "host/RWTValOrderedVector.h"

class Tree_NodePtrVec {
 public:
  // Below this many children a scan is as fast as the index and costs no memory.
  static constexpr int kIndexFrom = 12;

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

  int entries() const noexcept { return static_cast<int>(m_handles.entries()); }

  // Hints that the vector's slots, then the first children's handles, will be read soon:
  // a destruction calls the two on the vectors it will destroy next, a few vectors ahead.
  void PrefetchSlots() const noexcept {
    if (!m_handles.isEmpty()) __builtin_prefetch(&*m_handles.begin());
  }
  void PrefetchFirstChildren() const noexcept {
    const unsigned count = m_handles.entries() < 4 ? m_handles.entries() : 4;
    for (unsigned i = 0; i < count; ++i) __builtin_prefetch(m_handles.begin()[i], 1);
  }

  // The handle stored in slot `i`; RWBoundsErr unless 0 <= i < entries().
  Tree_NodePtr& at(int i) { return *m_handles.at(static_cast<unsigned>(i)); }
  const Tree_NodePtr& at(int i) const { return *m_handles.at(static_cast<unsigned>(i)); }

  // The first slot whose handle holds the same node as `handle`, or -1.
  int index(const Tree_NodePtr& handle) const noexcept;
  // The slot of the stored handle `stored` (compared by address), or -1.
  int slotOf(const Tree_NodePtr* stored) const noexcept;

  // The stored handle of the first child whose key name is `name`, or null. Builds the name
  // index on first use past kIndexFrom children; should that allocation fail, scans.
  Tree_NodePtr* findFirst(std::string_view name) const noexcept;

  // Stores a new copy of `handle` (its family's count rises by one) in slot `i`, moving later
  // slots up; RWBoundsErr unless 0 <= i <= entries().
  void insertAt(int i, const Tree_NodePtr& handle);

  // Releases the handle in slot `i` (its family's count falls by one) and closes the gap;
  // RWBoundsErr unless 0 <= i < entries().
  void removeAt(int i);

  // Removes the handles of the slots in `slots` (each in range, no slot twice, any order) in
  // one pass that keeps the others in order, then releases them in the order given, each
  // after the vector is consistent again.
  void removeSlots(const std::vector<int>& slots);

 private:
  // Key name to the stored handle of the first child of that name and the number of children
  // of that name. Defined where it is used, so this header needs no hash table's.
  struct NameIndex;

  // Releases a handle that has left the vector (or is about to, with the vector).
  static void Release(Tree_NodePtr* stored) noexcept;
  NameIndex* BuildIndex() const noexcept;
  void DropIndex() noexcept;
  void IndexInserted(NameIndex& index, int i);
  void IndexRemoving(NameIndex& index, int i);

  using Slots = RWTValOrderedVector<Tree_NodePtr*, Tree_NodeStlAllocator<Tree_NodePtr*>>;
  Slots m_handles;
  // Owned; null until a lookup past kIndexFrom children builds it.
  mutable std::atomic<NameIndex*> m_index{nullptr};
};
