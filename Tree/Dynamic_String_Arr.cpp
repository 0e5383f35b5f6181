// Dynamic_String_Arr: texts of any length in buffers of their own, and the flat byte form.
#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstring>
#include <utility>

#include "Tree/String_Arr.h"

namespace {

using TextVector = std::vector<std::unique_ptr<char[]>>;
using LengthVector = std::vector<int>;

// The unsized reader refuses counts from 2^30 up: it cannot see that the block is shorter.
constexpr int kMaxUnsizedCount = 1 << 30;
// The fewest bytes an entry takes: one digit, its NUL, an empty text and its NUL.
constexpr int kMinEntryBytes = 3;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Number of decimal digits of a non-negative value.
std::int64_t DigitCount(std::int64_t value) {
  std::int64_t digits = 1;
  for (; value >= 10; value /= 10) ++digits;
  return digits;
}

// Writes `value` as decimal digits, then a NUL, at `pos`; returns the position after the NUL.
char* WriteNumber(char* pos, int value) {
  char digits[16];
  const std::size_t digit_count = std::to_chars(digits, digits + sizeof digits, value).ptr - digits;
  std::memcpy(pos, digits, digit_count);
  pos[digit_count] = '\0';
  return pos + digit_count + 1;
}

// A copy of the first `len` bytes of `text`, followed by a NUL.
std::unique_ptr<char[]> CopyText(const char* text, int len) {
  std::unique_ptr<char[]> copy = std::make_unique_for_overwrite<char[]>(std::size_t(len) + 1);
  std::memcpy(copy.get(), text, std::size_t(len));
  copy[len] = '\0';
  return copy;
}

// Reads a number field written by FlattenToByteArray: "0", or digits without a leading zero,
// within int, then a NUL, all before `end`. Moves `pos` past the NUL; false when malformed.
bool ReadCanonicalNumber(const char*& pos, const char* end, int& value) {
  const char* digit = pos;
  std::int64_t number = 0;
  for (; digit < end && IsDigit(*digit); ++digit) {
    number = number * 10 + (*digit - '0');
    if (number > INT_MAX) return false;
  }
  const std::ptrdiff_t digits = digit - pos;
  if (digits == 0 || (digits > 1 && *pos == '0')) return false;
  if (digit == end || *digit != '\0') return false;
  pos = digit + 1;
  value = static_cast<int>(number);
  return true;
}

// Reads a number field as stream input of an int reads it (leading white space, an optional
// sign, decimal digits, failing when out of range), and requires the field to end there, at
// its NUL. Moves `pos` past the NUL; false when malformed.
bool ReadStreamNumber(const char*& pos, int& value) {
  const char* digit = pos;
  while (*digit == ' ' || (*digit >= '\t' && *digit <= '\r')) ++digit;
  const bool negative = *digit == '-';
  if (*digit == '+' || *digit == '-') ++digit;
  if (!IsDigit(*digit)) return false;
  std::int64_t number = 0;
  for (; IsDigit(*digit); ++digit) {
    number = number * 10 + (*digit - '0');
    if (number > std::int64_t(INT_MAX) + 1) return false;
  }
  if (negative) number = -number;
  if (number > INT_MAX || *digit != '\0') return false;
  pos = digit + 1;
  value = static_cast<int>(number);
  return true;
}

// Parses a flat form into `texts` and `lengths`. With `end` set, every field is checked
// against it, numbers must be canonical and the block must end exactly at `end`; with `end`
// null, the lengths are trusted and numbers are read as stream input reads them.
bool ParseFlatForm(const char* pos, const char* end, TextVector& texts, LengthVector& lengths) {
  const bool sized = end != nullptr;
  int count = 0;
  if (sized) {
    if (!ReadCanonicalNumber(pos, end, count) || count > (end - pos) / kMinEntryBytes) {
      return false;
    }
  } else if (!ReadStreamNumber(pos, count) || count < 0 || count >= kMaxUnsizedCount) {
    return false;
  }
  for (int i = 0; i < count; ++i) {
    int len = 0;
    if (sized) {
      if (!ReadCanonicalNumber(pos, end, len) || len >= end - pos) return false;
    } else if (!ReadStreamNumber(pos, len) || len < 0) {
      return false;
    }
    if (pos[len] != '\0') return false;
    texts.push_back(CopyText(pos, len));
    lengths.push_back(len);
    pos += std::size_t(len) + 1;
  }
  return !sized || pos == end;
}

}  // namespace

Dynamic_String_Arr::Dynamic_String_Arr(int len) : Generic_String_Arr(len) {
  m_arr_len = std::max(len, 0);
  m_str_vec.resize(m_arr_len);
  m_len_vec.assign(m_arr_len, -1);
}

Dynamic_String_Arr::Dynamic_String_Arr(const Dynamic_String_Arr& other)
    : Generic_String_Arr(other), m_len_vec(other.m_len_vec) {
  m_str_vec.reserve(other.m_str_vec.size());
  for (std::size_t i = 0; i < other.m_str_vec.size(); ++i) {
    const char* text = other.m_str_vec[i].get();
    m_str_vec.push_back(text == nullptr ? nullptr : CopyText(text, other.m_len_vec[i]));
  }
}

Dynamic_String_Arr& Dynamic_String_Arr::operator=(const Dynamic_String_Arr& other) {
  if (this == &other) return *this;
  Dynamic_String_Arr copy(other);
  Generic_String_Arr::operator=(copy);
  m_str_vec.swap(copy.m_str_vec);
  m_len_vec.swap(copy.m_len_vec);
  return *this;
}

Dynamic_String_Arr::~Dynamic_String_Arr() {
  clear();
}

char* Dynamic_String_Arr::GetStr(int index) const {
  if (index < 0 || index >= m_arr_len) return nullptr;
  return m_str_vec[index].get();
}

int Dynamic_String_Arr::GetLength(int index) const {
  if (index < 0 || index >= m_arr_len) return -1;
  return m_len_vec[index];
}

void Dynamic_String_Arr::Grow(int index) {
  if (index < m_arr_len && m_inserted_num < m_arr_len) return;
  const int new_len = m_arr_len > INT_MAX / 2 ? INT_MAX : std::max(1, 2 * m_arr_len);
  m_str_vec.resize(new_len);
  m_len_vec.resize(new_len, -1);
  m_arr_len = new_len;
}

void Dynamic_String_Arr::SetStr(int index, const char* str, int len) {
  if (index < 0 || str == nullptr) return;
  if (len < 0) {
    const std::size_t text_len = std::strlen(str);
    if (text_len > INT_MAX) return;
    len = static_cast<int>(text_len);
  }
  Grow(index);
  // Every slot below m_inserted_num was filled, so m_inserted_num never exceeds m_arr_len
  // and one growth makes room, unless the array already has INT_MAX slots, all filled.
  if (m_inserted_num >= m_arr_len) return;
  m_str_vec[m_inserted_num] = CopyText(str, len);
  m_len_vec[m_inserted_num] = len;
  ++m_inserted_num;
}

void Dynamic_String_Arr::clear() {
  TextVector().swap(m_str_vec);
  LengthVector().swap(m_len_vec);
  m_arr_len = 0;
  m_inserted_num = 0;
}

int Dynamic_String_Arr::FlattenToByteArray(char*& buf) const {
  buf = nullptr;
  const int count = m_inserted_num;
  std::int64_t allocated = std::max<std::int64_t>(10, DigitCount(count) + 1);
  std::int64_t written = DigitCount(count) + 1;
  for (int i = 0; i < count; ++i) {
    const std::int64_t len = m_len_vec[i];
    allocated += len + std::max<std::int64_t>(10, DigitCount(len) + 2);
    written += len + DigitCount(len) + 2;
  }
  if (written > INT_MAX) return -1;

  char* block = new char[std::size_t(allocated)];
  char* pos = WriteNumber(block, count);
  for (int i = 0; i < count; ++i) {
    const int len = m_len_vec[i];
    pos = WriteNumber(pos, len);
    // The text's own terminator comes with it.
    std::memcpy(pos, m_str_vec[i].get(), std::size_t(len) + 1);
    pos += std::size_t(len) + 1;
  }
  buf = block;
  return static_cast<int>(pos - block);
}

bool Dynamic_String_Arr::ReadFlatForm(const char* buf, const char* end) {
  clear();
  if (buf == nullptr) return false;
  TextVector texts;
  LengthVector lengths;
  if (!ParseFlatForm(buf, end, texts, lengths)) return false;
  m_str_vec = std::move(texts);
  m_len_vec = std::move(lengths);
  m_arr_len = m_inserted_num = static_cast<int>(m_len_vec.size());
  return true;
}

void Dynamic_String_Arr::ReadFromFlattenedByteArray(char* buf) {
  ReadFlatForm(buf, nullptr);
}

bool Dynamic_String_Arr::ReadFromFlattenedByteArray(const char* buf, int size) {
  if (size < 0) {
    clear();
    return false;
  }
  return ReadFlatForm(buf, buf == nullptr ? nullptr : buf + size);
}
