// Ordered vector of values. Every indexed access is checked and raises RWBoundsErr. The
// storage comes from `Allocator` (the standard one unless said otherwise).
#pragma once

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "host/RWBoundsErr.h"

template <class T, class Allocator = std::allocator<T>>
class RWTValOrderedVector {
 public:
  RWTValOrderedVector() = default;
  explicit RWTValOrderedVector(std::size_t capacity) { m_items.reserve(capacity); }

  std::size_t entries() const noexcept { return m_items.size(); }
  bool isEmpty() const noexcept { return m_items.empty(); }

  // Appends `item`.
  void insert(const T& item) { m_items.push_back(item); }
  void insert(T&& item) { m_items.push_back(std::move(item)); }
  void append(const T& item) { m_items.push_back(item); }

  // Puts `item` at `i`, moving later elements up; `i` may be 0 to entries().
  void insertAt(std::size_t i, const T& item) {
    if (i > m_items.size()) throw RWBoundsErr::IndexError(static_cast<long long>(i), entries());
    m_items.insert(m_items.begin() + static_cast<std::ptrdiff_t>(i), item);
  }

  // Removes the element at `i` and returns it.
  T removeAt(std::size_t i) {
    Check(i);
    T item = std::move(m_items[i]);
    m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(i));
    return item;
  }

  T& at(std::size_t i) {
    Check(i);
    return m_items[i];
  }
  const T& at(std::size_t i) const {
    Check(i);
    return m_items[i];
  }
  T& operator[](std::size_t i) { return at(i); }
  const T& operator[](std::size_t i) const { return at(i); }

  void clear() noexcept { m_items.clear(); }

  auto begin() noexcept { return m_items.begin(); }
  auto end() noexcept { return m_items.end(); }
  auto begin() const noexcept { return m_items.begin(); }
  auto end() const noexcept { return m_items.end(); }

 private:
  void Check(std::size_t i) const {
    if (i >= m_items.size()) throw RWBoundsErr::IndexError(static_cast<long long>(i), entries());
  }

  std::vector<T, Allocator> m_items;
};
