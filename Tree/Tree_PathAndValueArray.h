// The containers of the value listing: one child's key name and value text in two fixed
// fields, and a fixed-size array of such entries.
#pragma once

#include <memory>

#include "host/RWCString.h"

// One entry: NUL-terminated texts of at most 1023 characters each; longer texts are cut.
class Tree_ValueAndPath {
 public:
  static constexpr int kFieldSize = 1024;

  // Leaves both fields undefined.
  Tree_ValueAndPath() = default;
  // Note the order: the path comes first here and second among the fields.
  Tree_ValueAndPath(const RWCString& path, const RWCString& value);
  Tree_ValueAndPath(const Tree_ValueAndPath& other);
  Tree_ValueAndPath& operator=(const Tree_ValueAndPath& other);

  char m_value_buf[kFieldSize];
  char m_path_buf[kFieldSize];
};

// A fixed number of entries, owned by the array. Copies are deep.
class Tree_PathAndValueArray {
 public:
  // `len` entries, whose contents stay undefined until set. A negative `len` gives none.
  explicit Tree_PathAndValueArray(int len);
  Tree_PathAndValueArray(const Tree_PathAndValueArray& other);
  Tree_PathAndValueArray& operator=(const Tree_PathAndValueArray& other);
  // A moved-from array has no entries.
  Tree_PathAndValueArray(Tree_PathAndValueArray&& other) noexcept;
  Tree_PathAndValueArray& operator=(Tree_PathAndValueArray&& other) noexcept;
  ~Tree_PathAndValueArray() = default;

  int GetArrLen() const { return m_arr_len; }
  // Entry `i`, living in the array's storage; null when `i` is out of range.
  Tree_ValueAndPath* GetPV(int i);
  const Tree_ValueAndPath* GetPV(int i) const;
  // Copies the two texts of `pv` into entry `i`; does nothing when `i` is out of range.
  void SetPV(int i, const Tree_ValueAndPath& pv);
  // The same from two strings, cut to fit. Note the argument order: path, then value.
  void SetPV(int i, const RWCString& path, const RWCString& value);

 private:
  std::unique_ptr<Tree_ValueAndPath[]> m_pv_array;
  int m_arr_len = 0;
};
