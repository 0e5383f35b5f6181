// One node of a subtree as a flat, numbered record: its name, its value, its id and the id
// of its parent's record, with the node's cached checksum and completion flag. A vector of
// these in pre-order (ids equal to indexes) carries a whole subtree.
#pragma once

#include <cstddef>
#include <memory>
#include <new>

#include "Tree/Tree_NodeAllocator.h"
#include "host/RWCString.h"
#include "host/RWTPtrOrderedVector.h"

// Records live in the node heap: a vector of a million records is released in a fraction of
// what the global heap takes.
class Tree_IdNodeInfo : public Tree_NodeHeapObject {
 public:
  Tree_IdNodeInfo() = default;

  const RWCString& GetValue() const { return m_value; }
  const RWCString& GetPath() const { return m_path; }
  int GetParentId() const { return m_parent_id; }
  int GetId() const { return m_id; }
  unsigned int GetCRC() const { return m_crc; }
  bool GetIsSingleNodeComplete() const { return m_single_node_complete; }
  int IsChange() const { return m_is_change; }

  void SetValue(const RWCString& value) { m_value = value; }
  void SetPath(const RWCString& path) { m_path = path; }
  // Exactly the `len` bytes at `buf`, NUL bytes included; a `len` of 0 (or less) gives the
  // empty string.
  void SetValue(const char* buf, int len);
  void SetPath(const char* buf, int len);
  // Removes leading and trailing blanks (the space character only).
  void StripValue();
  void StripPath();
  void SetParentId(int parent_id) { m_parent_id = parent_id; }
  void SetId(int id) { m_id = id; }
  void SetCRC(unsigned int crc) { m_crc = crc; }
  void SetNodeComplete(bool complete) { m_single_node_complete = complete; }
  void SetIsChange(int is_change) { m_is_change = is_change; }

  // Orders and compares by path alone, in exact byte order.
  bool operator<(const Tree_IdNodeInfo& other) const;
  bool operator==(const Tree_IdNodeInfo& other) const;

  // Writes the record to standard output in four lines, flushing each.
  void PrintMe() const;

 private:
  RWCString m_value;
  RWCString m_path;
  int m_parent_id = -1;
  int m_id = 0;
  unsigned int m_crc = 0;
  bool m_single_node_complete = true;
  int m_is_change = 0;
};

// An id vector: records in pre-order, ids equal to indexes. The vector does not own its
// records; whoever owns the vector deletes both, as Tree_OwnedIdNodeVec does.
using Tree_IdNodeVec = RWTPtrOrderedVector<Tree_IdNodeInfo>;

// Deletes an id vector together with every record in it.
struct Tree_IdNodeVecDeleter {
  void operator()(Tree_IdNodeVec* vec) const noexcept {
    vec->clearAndDestroy();
    delete vec;
  }
};
using Tree_OwnedIdNodeVec = std::unique_ptr<Tree_IdNodeVec, Tree_IdNodeVecDeleter>;
