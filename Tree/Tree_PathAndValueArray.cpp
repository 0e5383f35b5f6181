// The containers of the value listing. Every copy into a field is bounded by the field's size,
// so a text too long for it is cut with its terminator kept.
#include <algorithm>
#include <cstring>
#include <utility>

#include "Tree/Tree_PathAndValueArray.h"

namespace {

// Copies the NUL-terminated `text`, at most kFieldSize - 1 characters of it, and a terminator.
void CopyText(char (&field)[Tree_ValueAndPath::kFieldSize], const char* text) {
  const std::size_t length = strnlen(text, Tree_ValueAndPath::kFieldSize - 1);
  std::memcpy(field, text, length);
  field[length] = '\0';
}

}  // namespace

// ---- Tree_ValueAndPath --------------------------------------------------------------------

Tree_ValueAndPath::Tree_ValueAndPath(const RWCString& path, const RWCString& value) {
  CopyText(m_value_buf, value.data());
  CopyText(m_path_buf, path.data());
}

Tree_ValueAndPath::Tree_ValueAndPath(const Tree_ValueAndPath& other) {
  CopyText(m_value_buf, other.m_value_buf);
  CopyText(m_path_buf, other.m_path_buf);
}

Tree_ValueAndPath& Tree_ValueAndPath::operator=(const Tree_ValueAndPath& other) {
  if (this != &other) {
    std::memcpy(m_value_buf, other.m_value_buf, kFieldSize);
    std::memcpy(m_path_buf, other.m_path_buf, kFieldSize);
  }
  return *this;
}

// ---- Tree_PathAndValueArray ---------------------------------------------------------------

Tree_PathAndValueArray::Tree_PathAndValueArray(int len)
    : m_pv_array(std::make_unique<Tree_ValueAndPath[]>(static_cast<std::size_t>(std::max(len, 0)))),
      m_arr_len(std::max(len, 0)) {}

Tree_PathAndValueArray::Tree_PathAndValueArray(const Tree_PathAndValueArray& other)
    : Tree_PathAndValueArray(other.m_arr_len) {
  std::copy(other.m_pv_array.get(), other.m_pv_array.get() + m_arr_len, m_pv_array.get());
}

Tree_PathAndValueArray& Tree_PathAndValueArray::operator=(const Tree_PathAndValueArray& other) {
  if (this != &other) *this = Tree_PathAndValueArray(other);
  return *this;
}

Tree_PathAndValueArray::Tree_PathAndValueArray(Tree_PathAndValueArray&& other) noexcept
    : m_pv_array(std::move(other.m_pv_array)), m_arr_len(std::exchange(other.m_arr_len, 0)) {}

Tree_PathAndValueArray& Tree_PathAndValueArray::operator=(Tree_PathAndValueArray&& other) noexcept {
  m_pv_array = std::move(other.m_pv_array);
  m_arr_len = std::exchange(other.m_arr_len, 0);
  return *this;
}

Tree_ValueAndPath* Tree_PathAndValueArray::GetPV(int i) {
  return i < 0 || i >= m_arr_len ? nullptr : &m_pv_array[static_cast<std::size_t>(i)];
}

const Tree_ValueAndPath* Tree_PathAndValueArray::GetPV(int i) const {
  return i < 0 || i >= m_arr_len ? nullptr : &m_pv_array[static_cast<std::size_t>(i)];
}

void Tree_PathAndValueArray::SetPV(int i, const Tree_ValueAndPath& pv) {
  Tree_ValueAndPath* entry = GetPV(i);
  if (entry == nullptr) return;
  CopyText(entry->m_value_buf, pv.m_value_buf);
  CopyText(entry->m_path_buf, pv.m_path_buf);
}

void Tree_PathAndValueArray::SetPV(int i, const RWCString& path, const RWCString& value) {
  Tree_ValueAndPath* entry = GetPV(i);
  if (entry == nullptr) return;
  CopyText(entry->m_value_buf, value.data());
  CopyText(entry->m_path_buf, path.data());
}
