// Bytes that a reader consumes front to back, either from one string (no copy) or in chunks
// of a bounded buffer from a file descriptor or a stream, so that reading a file costs the
// buffer and not the file. Internal to the formats library.
#pragma once

#include <cstddef>
#include <functional>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

class Tree_ByteInput {
 public:
  // Fills `buffer` with up to `capacity` bytes and returns how many; 0 at the end, -1 on a
  // failure (then `error` says why).
  using Source = std::function<long(char* buffer, std::size_t capacity, std::string& error)>;

  static constexpr std::size_t kChunk = std::size_t{1} << 16;

  // Every byte of `text`, which must outlive this object.
  explicit Tree_ByteInput(std::string_view text)
      : m_begin(text.data()), m_cur(text.data()), m_end(text.data() + text.size()) {}
  // The bytes of `source`, a chunk at a time.
  explicit Tree_ByteInput(Source source) : m_source(std::move(source)), m_buffer(kChunk) {
    m_begin = m_cur = m_end = m_buffer.data();
  }
  // The bytes of `in` (read as binary, a chunk at a time).
  static Tree_ByteInput FromStream(std::istream& in) {
    return Tree_ByteInput(Source([&in](char* buffer, std::size_t capacity, std::string& error) {
      in.read(buffer, static_cast<std::streamsize>(capacity));
      const long got = static_cast<long>(in.gcount());
      if (got == 0 && in.bad()) {
        error = "cannot read the stream";
        return -1L;
      }
      return got;
    }));
  }
  Tree_ByteInput(Tree_ByteInput&&) = default;

  // The unread bytes of the current chunk: [Cur(), End()).
  const char* Cur() const { return m_cur; }
  const char* End() const { return m_end; }
  void SetCur(const char* at) { m_cur = at; }
  void Skip() { ++m_cur; }
  // Makes at least one unread byte available; false at the end of the input or on a read
  // failure (Failed() tells which).
  bool Fill() {
    if (m_cur != m_end) return true;
    if (!m_source || m_failed) return false;
    m_consumed += static_cast<std::size_t>(m_end - m_begin);
    const long got = m_source(m_buffer.data(), m_buffer.size(), m_error);
    m_begin = m_cur = m_end = m_buffer.data();
    if (got < 0) {
      m_failed = true;
      return false;
    }
    m_end += got;
    return got > 0;
  }
  // The next byte (0..255), or -1 at the end.
  int Peek() { return Fill() ? static_cast<unsigned char>(*m_cur) : -1; }
  // The offset of Cur() from the start of the input.
  std::size_t Offset() const { return m_consumed + static_cast<std::size_t>(m_cur - m_begin); }
  bool Failed() const { return m_failed; }
  const std::string& ReadError() const { return m_error; }

 private:
  Source m_source;
  std::vector<char> m_buffer;
  const char* m_begin = nullptr;
  const char* m_cur = nullptr;
  const char* m_end = nullptr;
  std::size_t m_consumed = 0;  // bytes of the chunks before the current one
  bool m_failed = false;
  std::string m_error;
};
