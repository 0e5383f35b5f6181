// Ordered vector of pointers. It does not own its elements: `clear` forgets them,
// `clearAndDestroy` deletes them. Every indexed access is checked and raises RWBoundsErr.
#pragma once

#include <cstddef>
#include <vector>

#include "host/RWBoundsErr.h"

template <class T>
class RWTPtrOrderedVector {
 public:
  RWTPtrOrderedVector() = default;
  // An empty vector with room for `capacity` elements.
  explicit RWTPtrOrderedVector(std::size_t capacity) { m_items.reserve(capacity); }

  std::size_t entries() const noexcept { return m_items.size(); }
  bool isEmpty() const noexcept { return m_items.empty(); }

  // Appends `item`.
  void insert(T* item) { m_items.push_back(item); }
  void append(T* item) { m_items.push_back(item); }

  // Puts `item` at `i`, moving later elements up; `i` may be 0 to entries().
  void insertAt(std::size_t i, T* item) {
    if (i > m_items.size()) throw RWBoundsErr::IndexError(static_cast<long long>(i), entries());
    m_items.insert(m_items.begin() + static_cast<std::ptrdiff_t>(i), item);
  }

  // Takes the element at `i` out and returns it; the caller owns it again.
  T* removeAt(std::size_t i) {
    Check(i);
    T* item = m_items[i];
    m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(i));
    return item;
  }

  T*& at(std::size_t i) {
    Check(i);
    return m_items[i];
  }
  T* const& at(std::size_t i) const {
    Check(i);
    return m_items[i];
  }
  T*& operator[](std::size_t i) { return at(i); }
  T* const& operator[](std::size_t i) const { return at(i); }

  // Forgets every element without deleting it.
  void clear() noexcept { m_items.clear(); }
  // Deletes every element, then empties the vector.
  void clearAndDestroy() noexcept {
    for (T* item : m_items) delete item;
    m_items.clear();
  }

  // Iteration over the stored pointers, in order.
  auto begin() noexcept { return m_items.begin(); }
  auto end() noexcept { return m_items.end(); }
  auto begin() const noexcept { return m_items.begin(); }
  auto end() const noexcept { return m_items.end(); }

 private:
  void Check(std::size_t i) const {
    if (i >= m_items.size()) throw RWBoundsErr::IndexError(static_cast<long long>(i), entries());
  }

  std::vector<T*> m_items;
};
