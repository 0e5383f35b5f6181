// Where a writer puts its bytes: straight into a string, or through a bounded buffer into a
// stream, so that writing a file never holds the whole document. Internal to the formats
// library.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>

class Tree_ByteOutput {
 public:
  static constexpr std::size_t kChunk = std::size_t{1} << 16;

  explicit Tree_ByteOutput(std::string& out) : m_out(out) {}
  explicit Tree_ByteOutput(std::ostream& stream) : m_out(m_buffer), m_stream(&stream) {
    m_buffer.reserve(2 * kChunk);
  }
  ~Tree_ByteOutput() { Flush(); }
  Tree_ByteOutput(const Tree_ByteOutput&) = delete;
  Tree_ByteOutput& operator=(const Tree_ByteOutput&) = delete;

  std::string& Bytes() { return m_out; }
  void Append(char c) { m_out += c; }
  void Append(std::string_view text) { m_out.append(text.data(), text.size()); }
  void AppendSpaces(std::size_t count) { m_out.append(count, ' '); }
  // Hands the buffered bytes to the stream once there are enough of them; writers call it
  // after each node. False once the stream has failed.
  bool MaybeFlush() {
    if (m_stream == nullptr || m_out.size() < kChunk) return true;
    return Flush();
  }
  bool Flush() {
    if (m_stream == nullptr) return true;
    if (!m_out.empty()) {
      m_stream->write(m_out.data(), static_cast<std::streamsize>(m_out.size()));
      m_out.clear();
    }
    return !m_stream->fail();
  }

 private:
  std::string m_buffer;
  std::string& m_out;
  std::ostream* m_stream = nullptr;
};
