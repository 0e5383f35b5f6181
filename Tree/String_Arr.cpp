// String_Arr: fixed slots of 256 bytes, grown five slots at a time.
#include <algorithm>
#include <cstring>
#include <limits>

#include "Tree/String_Arr.h"

namespace {

constexpr int kGrowthStep = 5;

}  // namespace

String_Arr::String_Arr(int len) : Generic_String_Arr(len) {
  Grow(std::max(len, 0));
}

String_Arr::String_Arr(const String_Arr& other) : Generic_String_Arr(other) {
  m_arr_len = 0;
  Grow(other.m_arr_len);
  for (int i = 0; i < m_arr_len; ++i) {
    std::memcpy(m_str_array[i], other.m_str_array[i], kSlotSize);
  }
  m_inserted_num = other.m_inserted_num;
}

String_Arr& String_Arr::operator=(const String_Arr& other) {
  if (this == &other) return *this;
  String_Arr copy(other);
  std::swap(m_buffers, copy.m_buffers);
  std::swap(m_str_array, copy.m_str_array);
  std::swap(m_arr_len, copy.m_arr_len);
  std::swap(m_inserted_num, copy.m_inserted_num);
  return *this;
}

String_Arr::~String_Arr() {
  clear();
}

const char** String_Arr::GetStrArray() {
  return m_str_array.empty() ? nullptr : const_cast<const char**>(m_str_array.data());
}

char* String_Arr::GetStr(int index) const {
  if (index < 0 || index >= m_arr_len) return nullptr;
  return m_str_array[index];
}

void String_Arr::SetStr(int index, const char* str, int /*len*/) {
  if (index < 0 || str == nullptr) return;
  if (index >= m_arr_len) {
    // Whole steps of five until the slot exists; computed in 64 bits so that an index near
    // the int limit cannot overflow the count.
    const long long missing = static_cast<long long>(index) - m_arr_len + 1;
    const long long steps = (missing + kGrowthStep - 1) / kGrowthStep;
    const long long room = std::numeric_limits<int>::max() - static_cast<long long>(m_arr_len);
    Grow(static_cast<int>(std::min(steps * kGrowthStep, room)));
    if (index >= m_arr_len) return;  // only an index of the int limit itself cannot fit
  }
  char* slot = m_str_array[index];
  const std::size_t length = strnlen(str, kSlotSize - 1);
  std::memcpy(slot, str, length);
  slot[length] = '\0';
  ++m_inserted_num;
}

void String_Arr::clear() {
  m_str_array.clear();
  m_buffers.clear();
  m_arr_len = 0;
  m_inserted_num = 0;
}

void String_Arr::Grow(int slots) {
  for (int i = 0; i < slots; ++i) {
    // Value-initialised: an unwritten slot reads as the empty text.
    m_buffers.push_back(std::make_unique<char[]>(kSlotSize));
    m_str_array.push_back(m_buffers.back().get());
    ++m_arr_len;
  }
}
