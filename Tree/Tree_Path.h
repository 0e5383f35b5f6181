// Cursor over a backslash-separated path: hands out one element per GetRoot call.
// "a\b\c" gives a, b, c; once the last element is out, IsOnlyRoot is 1 and GetRoot repeats
// it. An empty element (leading, doubled or trailing backslash) is handed out as the empty
// string. The cursor only moves forward; walk again with a new object.
#pragma once

#include <string_view>

#include "host/RWCString.h"

class Tree_Path {
 public:
  Tree_Path() = default;
  explicit Tree_Path(const RWCString& path);

  // Replaces the text; the cursor, the flag and the last element stay, so on a walked
  // object the walk goes on over the new text from the old cursor.
  void SetPath(const RWCString& path);

  // The next element (see the class comment).
  RWCString GetRoot() { return RWCString(GetRootView()); }
  // GetRoot without a copy: a view into this object, valid until it changes or dies.
  std::string_view GetRootView();

  // 1 once the last element has been handed out, else 0.
  int IsOnlyRoot() const noexcept { return m_is_only_root; }

 private:
  friend class Tree_Node;
  struct Borrow {};
  // Walks `path` without copying it; the caller keeps the text alive and unchanged, and
  // never calls SetPath on this object. The lookups that take a whole path use it.
  Tree_Path(std::string_view path, Borrow)
      : m_length(static_cast<unsigned>(path.size())), m_borrowed(path) {}

  std::string_view Text() const noexcept {
    return m_borrowed.data() != nullptr ? m_borrowed : m_path.view();
  }

  unsigned m_position = 0;
  unsigned m_length = 0;
  RWCString m_path;
  int m_is_only_root = 0;
  RWCString m_last_root;        // a copy of the last element; unused when borrowed
  std::string_view m_borrowed;  // the text when borrowed (data() non-null), else unused
};
