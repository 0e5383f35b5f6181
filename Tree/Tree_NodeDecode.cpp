// Reads a byte block written by GetSerializeIdNodeInfoVec back into an id vector. Every field
// is checked against the bytes left before it is read, and the records must form a tree in
// pre-order, as every vector the library makes does.
#include <cstdint>
#include <memory>
#include <vector>

#include "Tree/TreeLog.h"
#include "Tree/Tree_Node.h"

namespace {

// A cursor over `size` bytes that never reads past them. Each read notes the offset of the
// field it starts on, so that a failure can name the field that broke.
class BlockReader {
 public:
  BlockReader(const char* buf, int size)
      : m_bytes(reinterpret_cast<const unsigned char*>(buf)), m_size(size) {}

  bool AtEnd() const { return m_position == m_size; }
  int FieldOffset() const { return m_field; }

  // A 4-byte big-endian two's-complement int.
  bool ReadInt(int& value) {
    m_field = m_position;
    if (m_size - m_position < 4) return false;
    const unsigned char* at = m_bytes + m_position;
    const std::uint32_t bits = (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) |
                               (std::uint32_t{at[2]} << 8) | std::uint32_t{at[3]};
    value = static_cast<int>(bits);
    m_position += 4;
    return true;
  }

  // A length that fits in the bytes left, then that many bytes; `length` is read first, so a
  // failure names the length field.
  bool ReadLength(int& length) {
    if (!ReadInt(length)) return false;
    return length >= 0 && length <= m_size - m_position;
  }
  const char* TakeBytes(int length) {
    const char* bytes = reinterpret_cast<const char*>(m_bytes + m_position);
    m_position += length;
    return bytes;
  }

 private:
  const unsigned char* m_bytes;
  int m_size;
  int m_position = 0;
  int m_field = 0;
};

// Reads one record. The ids of the previous record and its ancestors are `open`, innermost
// last: a record's parent must be one of them, as pre-order requires, and it then joins them.
bool ReadRecord(BlockReader& reader, bool full_info, int index, std::vector<int>& open,
                Tree_IdNodeInfo& record) {
  int id = 0;
  if (!reader.ReadInt(id) || id != index) return false;
  record.SetId(id);

  int parent_id = 0;
  if (!reader.ReadInt(parent_id)) return false;
  if (index == 0) {
    if (parent_id != -1) return false;
  } else {
    while (!open.empty() && open.back() != parent_id) open.pop_back();
    if (open.empty()) return false;
  }
  open.push_back(id);
  record.SetParentId(parent_id);

  if (full_info) {
    int crc = 0;
    if (!reader.ReadInt(crc)) return false;
    record.SetCRC(static_cast<unsigned int>(crc));
    int complete = 0;
    if (!reader.ReadInt(complete) || (complete != 0 && complete != 1)) return false;
    record.SetNodeComplete(complete == 1);
  }

  int path_length = 0;
  if (!reader.ReadLength(path_length)) return false;
  record.SetPath(reader.TakeBytes(path_length), path_length);

  int value_length = 0;
  if (!reader.ReadLength(value_length)) return false;
  if (value_length > 0) {
    record.SetValue(reader.TakeBytes(value_length), value_length);
    int is_change = 0;
    if (!reader.ReadInt(is_change)) return false;
    record.SetIsChange(is_change);
  }
  return true;
}

}  // namespace

Tree_IdNodeVec* Tree_Node::GetIdNodeInfoVecFromSerialized(const char* buf, int size, bool full_info,
                                                          RWCString& virtual_parent_path,
                                                          int* error_offset) {
  const auto reject = [error_offset](int offset) -> Tree_IdNodeVec* {
    TREE_LOG(3,
             "GetIdNodeInfoVecFromSerialized(const char * buf, int size, bool full_info) : "
             "malformed block at offset %d, return NULL\n",
             offset);
    if (error_offset != nullptr) *error_offset = offset;
    return nullptr;
  };
  if (buf == nullptr || size < 0) return reject(0);

  BlockReader reader(buf, size);
  RWCString header_path;
  if (full_info) {
    int length = 0;
    if (!reader.ReadLength(length)) return reject(reader.FieldOffset());
    header_path = RWCString(reader.TakeBytes(length), static_cast<std::size_t>(length));
  }

  Tree_OwnedIdNodeVec vec(new Tree_IdNodeVec);
  std::vector<int> open;
  while (!reader.AtEnd()) {
    // Default-initialised: every field has its initialiser, so the zeroing that
    // make_unique's value-initialisation adds before them would be wasted.
    std::unique_ptr<Tree_IdNodeInfo> record(new Tree_IdNodeInfo);
    if (!ReadRecord(reader, full_info, static_cast<int>(vec->entries()), open, *record)) {
      return reject(reader.FieldOffset());
    }
    vec->insert(record.get());
    record.release();
  }
  virtual_parent_path = header_path;
  return vec.release();
}
