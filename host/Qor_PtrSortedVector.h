// Vector of pointers kept sorted by the pointees' operator<. An insertion goes to the upper
// bound: after every element that does not order after it, so equal elements keep their
// insertion order. The vector does not own its elements except through clearAndDestroy.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "host/RWBoundsErr.h"

template <class T>
class Qor_PtrSortedVector {
 public:
  Qor_PtrSortedVector() = default;
  explicit Qor_PtrSortedVector(std::size_t capacity) { m_items.reserve(capacity); }

  std::size_t entries() const noexcept { return m_items.size(); }
  bool isEmpty() const noexcept { return m_items.empty(); }

  // Inserts `item` at the upper bound of its value.
  void insert(T* item) {
    auto at = std::upper_bound(m_items.begin(), m_items.end(), item,
                               [](const T* a, const T* b) { return *a < *b; });
    m_items.insert(at, item);
  }

  T* at(std::size_t i) const {
    if (i >= m_items.size()) throw RWBoundsErr::IndexError(static_cast<long long>(i), entries());
    return m_items[i];
  }
  T* operator[](std::size_t i) const { return at(i); }

  // Takes the element at `i` out and returns it; the caller owns it again.
  T* removeAt(std::size_t i) {
    T* item = at(i);
    m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(i));
    return item;
  }

  // Forgets every element without deleting it.
  void clear() noexcept { m_items.clear(); }
  // Deletes every element, then empties the vector.
  void clearAndDestroy() noexcept {
    for (T* item : m_items) delete item;
    m_items.clear();
  }

  auto begin() const noexcept { return m_items.begin(); }
  auto end() const noexcept { return m_items.end(); }

 private:
  std::vector<T*> m_items;
};
