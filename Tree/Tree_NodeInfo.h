// One node of a subtree described by its path: the path, its parent's path, the value and
// the value's change flag. Kept in a vector sorted by path (Qor_PtrSortedVector), so that
// every parent's record comes before its descendants'.
#pragma once

#include "host/RWCString.h"

class Tree_NodeInfo {
 public:
  Tree_NodeInfo() = default;

  RWCString GetValue() const { return m_value; }
  RWCString GetPath() const { return m_path; }
  RWCString GetParentPath() const { return m_parent_path; }
  // The fields themselves, for in-place change.
  RWCString& Value() { return m_value; }
  RWCString& Path() { return m_path; }
  RWCString& ParentPath() { return m_parent_path; }
  int IsChange() const { return m_is_change; }

  void SetValue(const RWCString& value) { m_value = value; }
  void SetPath(const RWCString& path) { m_path = path; }
  void SetParentPath(const RWCString& parent_path) { m_parent_path = parent_path; }
  void SetIsChange(int is_change) { m_is_change = is_change; }

  // Orders and compares by path alone, in exact byte order.
  bool operator<(const Tree_NodeInfo& other) const { return m_path.compareTo(other.m_path) < 0; }
  bool operator==(const Tree_NodeInfo& other) const { return m_path == other.m_path; }

 private:
  RWCString m_value;
  RWCString m_path;
  RWCString m_parent_path;
  int m_is_change = 0;
};
