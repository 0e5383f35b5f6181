// Where a writer puts its bytes: straight into a string, or through a bounded buffer into a
// stream, so that writing a file never holds the whole document. Internal to the formats
// library.
//
// Writers ask for room and write through a plain pointer: Room(n) gives at least n writable
// bytes, Advance(end) marks the bytes before `end` as written. The string is grown ahead of
// the cursor in large steps and cut back to the written bytes by Flush (and the destructor),
// so a line costs one bounds test instead of one per append. A pointer from Room stays valid
// until the next Room, Append or Flush.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>

class Tree_ByteOutput {
 public:
  static constexpr std::size_t kChunk = std::size_t{1} << 16;

  explicit Tree_ByteOutput(std::string& out) : m_out(out) { Settle(out.size()); }
  explicit Tree_ByteOutput(std::ostream& stream) : m_out(m_buffer), m_stream(&stream) {
    m_buffer.reserve(2 * kChunk);
    m_step = kChunk;
    Settle(0);
  }
  ~Tree_ByteOutput() { Flush(); }
  Tree_ByteOutput(const Tree_ByteOutput&) = delete;
  Tree_ByteOutput& operator=(const Tree_ByteOutput&) = delete;

  char* Room(std::size_t count) {
    if (static_cast<std::size_t>(m_limit - m_cursor) < count) Grow(count);
    return m_cursor;
  }
  void Advance(char* end) { m_cursor = end; }

  void Append(char c) { *Room(1) = c, ++m_cursor; }
  void Append(std::string_view text) {
    char* at = Room(text.size());
    if (!text.empty()) std::memcpy(at, text.data(), text.size());
    m_cursor = at + text.size();
  }
  void AppendSpaces(std::size_t count) {
    while (count > 0) {
      const std::size_t step = std::min(count, kChunk);
      char* at = Room(step);
      std::memset(at, ' ', step);
      m_cursor = at + step;
      count -= step;
    }
  }
  // Hands the buffered bytes to the stream once there are enough of them; writers call it
  // after each node. False once the stream has failed.
  bool MaybeFlush() {
    if (m_stream == nullptr) return true;
    if (Written() < kChunk) return !m_stream->fail();
    return Flush();
  }
  // The string holds exactly the bytes written; a stream has been handed all of them.
  bool Flush() {
    const std::size_t written = Written();
    m_out.resize(written);
    if (m_stream == nullptr) {
      Settle(written);
      return true;
    }
    if (written > 0) m_stream->write(m_out.data(), static_cast<std::streamsize>(written));
    m_out.clear();
    Settle(0);
    return !m_stream->fail();
  }

 private:
  std::size_t Written() const { return static_cast<std::size_t>(m_cursor - m_out.data()); }
  void Settle(std::size_t written) {
    m_cursor = m_out.data() + written;
    m_limit = m_out.data() + m_out.size();
  }
  // Makes room for `count` bytes past the cursor; a stream's buffer is handed on first when
  // it holds a chunk. The string's own doubling keeps the copies of its growth linear. The
  // room beyond `count` starts small and doubles up to a chunk, so one short append to a long
  // string (the tool's and the diff's lines) zero-fills little before it is cut back.
  void Grow(std::size_t count) {
    std::size_t written = Written();
    if (m_stream != nullptr && written >= kChunk) {
      m_stream->write(m_out.data(), static_cast<std::streamsize>(written));
      written = 0;
    }
    m_out.resize(written + std::max(count, m_step));
    m_step = std::min(2 * m_step, kChunk);
    Settle(written);
  }

  std::string m_buffer;
  std::string& m_out;
  std::ostream* m_stream = nullptr;
  char* m_cursor = nullptr;
  char* m_limit = nullptr;
  std::size_t m_step = 256;
};
