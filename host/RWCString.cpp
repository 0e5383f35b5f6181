#include "host/RWCString.h"

#include <algorithm>
#include <cctype>
#include <ostream>

#include "host/RWBoundsErr.h"

namespace {

unsigned char Fold(unsigned char c) {
  return static_cast<unsigned char>(std::tolower(c));
}

}  // namespace

int RWCString::compareTo(const RWCString& other, caseCompare mode) const noexcept {
  if (mode == exact) {
    // std::string compares with char_traits<char>, which orders bytes as unsigned char.
    const int result = m_text.compare(other.m_text);
    return result < 0 ? -1 : (result > 0 ? 1 : 0);
  }
  const std::size_t common = std::min(m_text.size(), other.m_text.size());
  for (std::size_t i = 0; i < common; ++i) {
    const unsigned char a = Fold(static_cast<unsigned char>(m_text[i]));
    const unsigned char b = Fold(static_cast<unsigned char>(other.m_text[i]));
    if (a != b) return a < b ? -1 : 1;
  }
  if (m_text.size() == other.m_text.size()) return 0;
  return m_text.size() < other.m_text.size() ? -1 : 1;
}

RWCSubString RWCString::strip(stripType where, char c) const noexcept {
  std::size_t begin = 0;
  std::size_t end = m_text.size();
  if (where & leading) {
    while (begin < end && m_text[begin] == c) ++begin;
  }
  if (where & trailing) {
    while (end > begin && m_text[end - 1] == c) --end;
  }
  return RWCSubString(std::string_view(m_text).substr(begin, end - begin));
}

RWCString& RWCString::replace(std::size_t position, std::size_t count, const char* bytes,
                              std::size_t length) {
  if (position > m_text.size()) throw RWBoundsErr::IndexError(position, m_text.size());
  m_text.replace(position, count, bytes, length);
  return *this;
}

RWCSubString RWCString::operator()(std::size_t start, std::size_t length) const {
  if (start > m_text.size() || length > m_text.size() - start) {
    throw RWBoundsErr::IndexError(static_cast<long long>(start + length), m_text.size());
  }
  return RWCSubString(std::string_view(m_text).substr(start, length));
}

std::size_t RWCString::index(const char* pattern, std::size_t length, std::size_t start,
                             caseCompare mode) const noexcept {
  if (start > m_text.size()) return RW_NPOS;
  if (mode == exact) return m_text.find(pattern, start, length);
  if (length > m_text.size() - start) return RW_NPOS;
  for (std::size_t at = start; at + length <= m_text.size(); ++at) {
    std::size_t i = 0;
    while (i < length && Fold(static_cast<unsigned char>(m_text[at + i])) ==
                             Fold(static_cast<unsigned char>(pattern[i]))) {
      ++i;
    }
    if (i == length) return at;
  }
  return RW_NPOS;
}

std::ostream& operator<<(std::ostream& out, const RWCString& text) {
  return out.write(text.data(), static_cast<std::streamsize>(text.length()));
}
