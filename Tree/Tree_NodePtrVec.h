// A node's children: an ordered vector of heap handles, one per child, owned by the vector.
// Slot i holds the handle of child i. A reference to a stored handle stays valid while that
// child stays in the vector, whatever else is inserted or removed. Indexes are checked as
// unsigned values, so a negative index is out of range and raises RWBoundsErr.
#pragma once

#include "Tree/Tree_NodePtr.h"
#include "host/RWTPtrOrderedVector.h"

class Tree_NodePtrVec {
 public:
  Tree_NodePtrVec() = default;
  // Not copyable: two vectors must never own the same handles.
  Tree_NodePtrVec(const Tree_NodePtrVec&) = delete;
  Tree_NodePtrVec& operator=(const Tree_NodePtrVec&) = delete;
  // Deletes every stored handle in slot order.
  ~Tree_NodePtrVec();

  int entries() const noexcept { return static_cast<int>(m_handles.entries()); }

  // The handle stored in slot `i`; RWBoundsErr unless 0 <= i < entries().
  Tree_NodePtr& at(int i) { return *m_handles.at(static_cast<unsigned>(i)); }
  const Tree_NodePtr& at(int i) const { return *m_handles.at(static_cast<unsigned>(i)); }

  // The first slot whose handle holds the same node as `handle`, or -1.
  int index(const Tree_NodePtr& handle) const noexcept;

  // Stores a new copy of `handle` (its family's count rises by one) in slot `i`, moving later
  // slots up; RWBoundsErr unless 0 <= i <= entries().
  void insertAt(int i, const Tree_NodePtr& handle);

  // Deletes the handle in slot `i` (its family's count falls by one) and closes the gap;
  // RWBoundsErr unless 0 <= i < entries().
  void removeAt(int i);

 private:
  RWTPtrOrderedVector<Tree_NodePtr> m_handles;
};
