// String class over std::string with the Rogue Wave operations the library relies on.
// Converts to and from std::string, so hosts can use either. Byte-exact: a string may hold
// NUL bytes, and every comparison is plain byte order.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>
#include <utility>

class RWCString;

// A view of part of an RWCString, produced by `operator()` and `strip`. It is valid only
// while the string it views lives and is unchanged; assign it to an RWCString to keep it.
class RWCSubString {
 public:
  std::size_t length() const noexcept { return m_view.size(); }
  bool isNull() const noexcept { return m_view.empty(); }
  std::string_view view() const noexcept { return m_view; }

 private:
  friend class RWCString;
  explicit RWCSubString(std::string_view view) noexcept : m_view(view) {}
  std::string_view m_view;
};

inline constexpr std::size_t RW_NPOS = static_cast<std::size_t>(-1);

class RWCString {
 public:
  enum caseCompare { exact, ignoreCase };
  enum stripType { leading = 0x1, trailing = 0x2, both = 0x3 };

  RWCString() = default;
  // A null pointer gives the empty string.
  RWCString(const char* text) : m_text(text ? text : "") {}  // NOLINT: implicit by design
  RWCString(const char* bytes, std::size_t length) : m_text(bytes, length) {}
  RWCString(std::string text) noexcept : m_text(std::move(text)) {}  // NOLINT
  RWCString(std::string_view text) : m_text(text) {}                 // NOLINT
  RWCString(const RWCSubString& sub) : m_text(sub.view()) {}         // NOLINT

  RWCString& operator=(const char* text) {
    m_text = text ? text : "";
    return *this;
  }
  RWCString& operator=(const RWCSubString& sub) {
    m_text.assign(sub.view());
    return *this;
  }

  std::size_t length() const noexcept { return m_text.size(); }
  bool isNull() const noexcept { return m_text.empty(); }
  // NUL-terminated; may also hold NUL bytes before the terminator.
  const char* data() const noexcept { return m_text.c_str(); }

  const std::string& str() const noexcept { return m_text; }
  std::string& str() noexcept { return m_text; }
  explicit operator std::string() const { return m_text; }
  std::string_view view() const noexcept { return m_text; }

  // Negative, zero or positive as this string orders before, equal to or after `other`.
  // Exact mode is unsigned byte order with a proper prefix first; ignoreCase folds ASCII.
  int compareTo(const RWCString& other, caseCompare mode = exact) const noexcept;

  // Removes the character `c` from the ends named by `where`.
  RWCSubString strip(stripType where = trailing, char c = ' ') const noexcept;

  // Replaces `count` bytes from `position` by the `length` bytes at `bytes`. A position
  // past the end raises RWBoundsErr; a count past the end is cut to the end.
  RWCString& replace(std::size_t position, std::size_t count, const char* bytes,
                     std::size_t length);
  RWCString& append(const char* bytes, std::size_t length) {
    m_text.append(bytes, length);
    return *this;
  }
  RWCString& append(const RWCString& other) {
    m_text.append(other.m_text);
    return *this;
  }
  RWCString& operator+=(const RWCString& other) { return append(other); }

  // The `length` bytes from `start`; raises RWBoundsErr when they do not lie in the string.
  RWCSubString operator()(std::size_t start, std::size_t length) const;

  // First position at or after `start` of the `length` bytes at `pattern`, or RW_NPOS.
  std::size_t index(const char* pattern, std::size_t length, std::size_t start = 0,
                    caseCompare mode = exact) const noexcept;
  std::size_t index(const RWCString& pattern, std::size_t start = 0,
                    caseCompare mode = exact) const noexcept {
    return index(pattern.data(), pattern.length(), start, mode);
  }
  std::size_t first(char c) const noexcept { return m_text.find(c); }
  std::size_t last(char c) const noexcept { return m_text.rfind(c); }

  friend bool operator==(const RWCString& a, const RWCString& b) noexcept {
    return a.m_text == b.m_text;
  }
  friend bool operator==(const RWCString& a, const char* b) noexcept {
    return a.m_text == std::string_view(b ? b : "");
  }
  friend bool operator<(const RWCString& a, const RWCString& b) noexcept {
    return a.compareTo(b) < 0;
  }
  friend RWCString operator+(const RWCString& a, const RWCString& b) {
    std::string text;
    text.reserve(a.length() + b.length());
    text.append(a.m_text).append(b.m_text);
    return RWCString(std::move(text));
  }

 private:
  std::string m_text;
};

std::ostream& operator<<(std::ostream& out, const RWCString& text);
