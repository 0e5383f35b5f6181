// The store's byte forms; see Tree_ZkChunk.h for the layouts.
#include "store/Tree_ZkChunk.h"

#include <openssl/evp.h>

#include <cstring>

namespace tree_zk {
namespace {

constexpr char kHex[] = "0123456789abcdef";

Tree_Status Corrupt(std::string text) {
  return Tree_Status(Tree_StatusCode::kCorrupt, std::move(text));
}

void PutU64(std::string& out, std::uint64_t value) {
  for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<char>(value >> shift));
}

std::uint64_t GetU64(std::string_view bytes) {
  std::uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  return value;
}

}  // namespace

ChunkId HashChunk(std::string_view bytes) {
  ChunkId id{};
  unsigned int size = 0;
  EVP_Digest(bytes.data(), bytes.size(), id.data(), &size, EVP_sha256(), nullptr);
  return id;
}

std::string ChunkName(const ChunkId& id) {
  std::string name(64, '0');
  for (std::size_t i = 0; i < id.size(); ++i) {
    name[2 * i] = kHex[id[i] >> 4];
    name[2 * i + 1] = kHex[id[i] & 15];
  }
  return name;
}

bool ParseChunkName(std::string_view name, ChunkId& id) {
  if (name.size() != 64) return false;
  for (std::size_t i = 0; i < 64; ++i) {
    const char* digit = std::strchr(kHex, name[i]);
    if (name[i] == '\0' || digit == nullptr) return false;
    const auto value = static_cast<unsigned char>(digit - kHex);
    id[i / 2] = static_cast<unsigned char>(i % 2 == 0 ? value << 4 : id[i / 2] | value);
  }
  return true;
}

void PutVarint(std::string& out, std::uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<char>((value & 0x7f) | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<char>(value));
}

std::size_t VarintSize(std::uint64_t value) {
  std::size_t size = 1;
  while (value >= 0x80) {
    value >>= 7;
    ++size;
  }
  return size;
}

std::uint64_t ByteReader::Varint() {
  std::uint64_t value = 0;
  for (int shift = 0; ok && shift < 64; shift += 7) {
    if (offset >= bytes.size()) break;
    const auto byte = static_cast<unsigned char>(bytes[offset++]);
    value |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
    if ((byte & 0x80) == 0) {
      // Minimal form only: no trailing zero group, no bits beyond 64.
      if ((byte == 0 && shift > 0) || (shift == 63 && byte > 1)) break;
      return value;
    }
  }
  ok = false;
  return 0;
}

unsigned char ByteReader::Byte() {
  if (!ok || offset >= bytes.size()) {
    ok = false;
    return 0;
  }
  return static_cast<unsigned char>(bytes[offset++]);
}

std::string_view ByteReader::Bytes(std::size_t count) {
  if (!ok || bytes.size() - offset < count) {
    ok = false;
    return {};
  }
  const std::string_view part = bytes.substr(offset, count);
  offset += count;
  return part;
}

bool ReadEntry(ByteReader& reader, EntryView& entry) {
  const std::size_t start = reader.offset;
  const std::uint64_t body = reader.Varint();
  if (!reader.ok || body > reader.bytes.size() - reader.offset) return reader.ok = false;
  const std::size_t end = reader.offset + static_cast<std::size_t>(body);
  const unsigned char flags = reader.Byte();
  const unsigned char kind = reader.Byte();
  if (!reader.ok || (flags & ~(kFlagValue | kFlagLeaf)) != 0 ||
      kind > static_cast<unsigned char>(Tree_NodeKind::kArray) ||
      ((flags & kFlagLeaf) != 0 && (flags & kFlagValue) == 0)) {
    return reader.ok = false;
  }
  entry.has_value = (flags & kFlagValue) != 0;
  entry.leaf = (flags & kFlagLeaf) != 0;
  entry.kind = static_cast<Tree_NodeKind>(kind);
  entry.name = reader.Bytes(static_cast<std::size_t>(reader.Varint()));
  entry.value = {};
  entry.change = 0;
  if (entry.has_value) {
    const std::uint64_t zigzag = reader.Varint();
    if (zigzag > 0xffffffffull) return reader.ok = false;
    const auto raw = static_cast<std::uint32_t>(zigzag);
    entry.change = static_cast<std::int32_t>((raw >> 1) ^ (~(raw & 1) + 1));
    entry.value = reader.Bytes(static_cast<std::size_t>(reader.Varint()));
  }
  if (!reader.ok || reader.offset > end) return reader.ok = false;
  entry.items_at = reader.offset;
  if (entry.leaf && reader.offset != end) return reader.ok = false;
  if (!entry.leaf && reader.offset == end) return reader.ok = false;  // a branch has a count
  entry.whole = reader.bytes.substr(start, end - start);
  entry.items = reader.bytes.substr(entry.items_at, end - entry.items_at);
  reader.offset = end;
  return true;
}

bool ReadRef(ByteReader& reader, RefView& ref) {
  const std::string_view id = reader.Bytes(32);
  if (!reader.ok) return false;
  std::memcpy(ref.id.data(), id.data(), 32);
  ref.siblings = reader.Varint();
  ref.nodes = reader.Varint();
  ref.bytes = reader.Varint();
  const unsigned char names = reader.Byte();
  if (!reader.ok || ref.siblings == 0 || ref.nodes < ref.siblings || names > 1) {
    return reader.ok = false;
  }
  ref.has_names = names == 1;
  ref.names.clear();
  if (ref.has_names) {
    // Each name takes at least one byte: a count beyond the bytes left is refused before any
    // allocation.
    if (ref.siblings > reader.bytes.size() - reader.offset) return reader.ok = false;
    for (std::uint64_t i = 0; reader.ok && i < ref.siblings; ++i) {
      ref.names.push_back(reader.Bytes(static_cast<std::size_t>(reader.Varint())));
    }
  }
  return reader.ok;
}

Tree_Status ValidateChunk(std::string_view bytes, ChunkSummary& summary) {
  summary = ChunkSummary();
  if (bytes.size() < 4 || std::memcmp(bytes.data(), kChunkMagic, 3) != 0) {
    return Corrupt("not a tree chunk (bad magic)");
  }
  if (bytes[3] != kChunkMagic[3]) {
    return Corrupt("tree chunk of unknown format version " +
                   std::to_string(static_cast<unsigned char>(bytes[3])));
  }
  ByteReader reader{bytes, 4};
  // One frame per open items list: how many items remain and where its entry ends.
  struct Frame {
    std::uint64_t remaining;
    std::size_t end;
  };
  std::vector<Frame> frames;
  const std::uint64_t top = reader.Varint();
  if (!reader.ok || top == 0 || top > bytes.size()) return Corrupt("tree chunk without entries");
  frames.push_back({top, bytes.size()});
  summary.siblings = top;
  summary.item_bytes = bytes.size() - reader.offset;
  EntryView entry;
  RefView ref;
  while (!frames.empty()) {
    Frame& frame = frames.back();
    if (frame.remaining == 0) {
      if (reader.offset != frame.end) return Corrupt("tree chunk entry with trailing bytes");
      frames.pop_back();
      continue;
    }
    --frame.remaining;
    const bool top_level = frames.size() == 1;
    const unsigned char tag = reader.Byte();
    if (tag == kItemRef && !top_level) {
      if (!ReadRef(reader, ref)) return Corrupt("tree chunk with a malformed reference");
      summary.nodes += ref.nodes;
      summary.refs.push_back(ref);
      if (reader.offset > frame.end) return Corrupt("tree chunk reference overruns its entry");
      continue;
    }
    if (tag != kItemEntry || !reader.ok) return Corrupt("tree chunk with an unknown item");
    if (!ReadEntry(reader, entry) || reader.offset > frame.end) {
      return Corrupt("tree chunk with a malformed entry");
    }
    ++summary.nodes;
    if (top_level) summary.names.push_back(entry.name);
    if (!entry.leaf) {
      const std::size_t end = reader.offset;
      reader.offset = entry.items_at;
      const std::uint64_t count = reader.Varint();
      if (!reader.ok || count > end - reader.offset) {
        return Corrupt("tree chunk with a malformed child count");
      }
      frames.push_back({count, end});
    }
  }
  if (!reader.AtEnd()) return Corrupt("tree chunk with trailing bytes");
  return Tree_Status::Ok();
}

bool RefMatches(const RefView& ref, const ChunkSummary& summary) {
  if (ref.siblings != summary.siblings || ref.nodes != summary.nodes ||
      ref.bytes != summary.item_bytes) {
    return false;
  }
  if (!ref.has_names) return true;
  if (ref.names.size() < summary.names.size()) return false;
  for (std::size_t i = 0; i < summary.names.size(); ++i) {
    if (ref.names[i] != summary.names[i]) return false;
  }
  return true;
}

std::string EncodePointer(const Pointer& pointer) {
  std::string out(kPointerMagic, 4);
  out.append(reinterpret_cast<const char*>(pointer.root.data()), 32);
  PutU64(out, pointer.node_count);
  const std::size_t recent = std::min(pointer.recent.size(), kMaxRecentRoots);
  out.push_back(static_cast<char>(recent));
  for (std::size_t i = 0; i < recent; ++i) {
    out.append(reinterpret_cast<const char*>(pointer.recent[i].root.data()), 32);
    PutU64(out, pointer.recent[i].replaced_ms);
  }
  return out;
}

Tree_Status DecodePointer(std::string_view bytes, bool& has_tree, Pointer& pointer) {
  has_tree = false;
  pointer = Pointer();
  if (bytes.empty()) return Tree_Status::Ok();
  bool old_layout = bytes.size() == 11 && bytes[0] == 'v';
  for (std::size_t i = 1; old_layout && i < bytes.size(); ++i) {
    old_layout = bytes[i] >= '0' && bytes[i] <= '9';
  }
  if (old_layout) {
    return Tree_Status(Tree_StatusCode::kInvalidInput,
                       "holds a tree in the store's first layout, which this version does not "
                       "read; delete the znode and push the tree again");
  }
  if (bytes.size() < 45 || std::memcmp(bytes.data(), kPointerMagic, 3) != 0) {
    return Corrupt("holds data that is not a tree pointer");
  }
  if (bytes[3] != kPointerMagic[3]) {
    return Corrupt("holds a tree pointer of unknown format version " +
                   std::to_string(static_cast<unsigned char>(bytes[3])));
  }
  const auto recent = static_cast<unsigned char>(bytes[44]);
  if (recent > kMaxRecentRoots || bytes.size() != 45 + 40 * std::size_t{recent}) {
    return Corrupt("holds a malformed tree pointer");
  }
  std::memcpy(pointer.root.data(), bytes.data() + 4, 32);
  pointer.node_count = GetU64(bytes.substr(36, 8));
  if (pointer.node_count == 0) return Corrupt("holds a tree pointer with a node count of 0");
  for (std::size_t i = 0; i < recent; ++i) {
    Pointer::Recent entry;
    std::memcpy(entry.root.data(), bytes.data() + 45 + 40 * i, 32);
    entry.replaced_ms = GetU64(bytes.substr(45 + 40 * i + 32, 8));
    pointer.recent.push_back(entry);
  }
  has_tree = true;
  return Tree_Status::Ok();
}

}  // namespace tree_zk
