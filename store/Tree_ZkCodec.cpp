// The store's byte forms; see Tree_ZkCodec.h for the layouts.
#include "store/Tree_ZkCodec.h"

#include <cstring>

namespace tree_zk {
namespace {

constexpr char kHexUpper[] = "0123456789ABCDEF";
constexpr char kHexLower[] = "0123456789abcdef";
constexpr unsigned char kHasValue = 1;
constexpr unsigned char kLeaf = 2;
constexpr unsigned char kRoot = 4;

// Whether the byte `c` stands for itself in a znode name.
bool PassesLiterally(unsigned char c) {
  return c >= 0x21 && c <= 0x7E && c != '%' && c != '/';
}

int HexValue(char c, const char* digits) {
  const char* found = std::strchr(digits, c);
  return (c != '\0' && found != nullptr) ? static_cast<int>(found - digits) : -1;
}

void PutU32(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(value >> shift));
}

// Reads 4 big-endian bytes at `offset` when they lie within `size`.
bool GetU32(const char* bytes, std::size_t size, std::size_t& offset, std::uint32_t& value) {
  if (size - offset < 4) return false;
  value = 0;
  for (int i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[offset + i]);
  offset += 4;
  return true;
}

}  // namespace

std::string EncodeChildName(std::uint32_t index, std::string_view key_name) {
  std::string name(kIndexDigits, '0');
  for (int i = kIndexDigits - 1; i >= 0; --i, index >>= 4) name[i] = kHexLower[index & 15u];
  for (const char byte : key_name) {
    const auto c = static_cast<unsigned char>(byte);
    if (PassesLiterally(c)) {
      name.push_back(byte);
    } else {
      name.push_back('%');
      name.push_back(kHexUpper[c >> 4]);
      name.push_back(kHexUpper[c & 15u]);
    }
  }
  return name;
}

bool DecodeChildName(std::string_view znode_name, std::uint32_t& index, std::string& key_name,
                     std::string& error) {
  if (znode_name.size() <= static_cast<std::size_t>(kIndexDigits)) {
    error = "znode name too short for a tree node: " + std::string(znode_name);
    return false;
  }
  index = 0;
  for (int i = 0; i < kIndexDigits; ++i) {
    const int digit = HexValue(znode_name[i], kHexLower);
    if (digit < 0) {
      error = "znode name without a position prefix: " + std::string(znode_name);
      return false;
    }
    index = (index << 4) | static_cast<std::uint32_t>(digit);
  }
  key_name.clear();
  for (std::size_t i = kIndexDigits; i < znode_name.size(); ++i) {
    const auto c = static_cast<unsigned char>(znode_name[i]);
    if (c != '%') {
      if (!PassesLiterally(c)) {
        error = "znode name with an unescaped byte: " + std::string(znode_name);
        return false;
      }
      key_name.push_back(static_cast<char>(c));
      continue;
    }
    const int high = i + 2 < znode_name.size() ? HexValue(znode_name[i + 1], kHexUpper) : -1;
    const int low = high >= 0 ? HexValue(znode_name[i + 2], kHexUpper) : -1;
    const auto decoded = static_cast<unsigned char>(high * 16 + low);
    if (low < 0 || PassesLiterally(decoded)) {
      error = "znode name with a bad escape: " + std::string(znode_name);
      return false;
    }
    key_name.push_back(static_cast<char>(decoded));
    i += 2;
  }
  return true;
}

std::string EncodeRecord(const Tree_ZkRecord& record) {
  std::string out = {'T', 'Z', 1, 0};
  out[3] = static_cast<char>((record.has_value ? kHasValue : 0) | (record.is_leaf ? kLeaf : 0) |
                             (record.is_root ? kRoot : 0));
  if (record.is_root) {
    PutU32(out, record.checksum);
    PutU32(out, record.node_count);
    PutU32(out, static_cast<std::uint32_t>(record.key_name.size()));
    out += record.key_name;
  }
  if (record.has_value) {
    PutU32(out, static_cast<std::uint32_t>(record.is_change));
    out += record.value;
  }
  return out;
}

bool DecodeRecord(const char* bytes, std::size_t size, Tree_ZkRecord& record, std::string& error) {
  if (bytes == nullptr || size < kRecordHeaderSize) {
    error = "tree node data too short";
    return false;
  }
  if (bytes[0] != 'T' || bytes[1] != 'Z') {
    error = "not tree node data (bad magic)";
    return false;
  }
  if (bytes[2] != 1) {
    error =
        "tree node data of unknown version " + std::to_string(static_cast<unsigned char>(bytes[2]));
    return false;
  }
  const auto flags = static_cast<unsigned char>(bytes[3]);
  if ((flags & ~(kHasValue | kLeaf | kRoot)) != 0) {
    error = "tree node data with unknown flags";
    return false;
  }
  record = Tree_ZkRecord();
  record.has_value = (flags & kHasValue) != 0;
  record.is_leaf = (flags & kLeaf) != 0;
  record.is_root = (flags & kRoot) != 0;
  if (record.is_leaf && !record.has_value) {
    error = "tree node data: a leaf without a value";
    return false;
  }
  std::size_t offset = kRecordHeaderSize;
  if (record.is_root) {
    std::uint32_t name_length = 0;
    if (!GetU32(bytes, size, offset, record.checksum) ||
        !GetU32(bytes, size, offset, record.node_count) ||
        !GetU32(bytes, size, offset, name_length) || size - offset < name_length) {
      error = "tree root data truncated";
      return false;
    }
    if (record.node_count == 0) {
      error = "tree root data with a node count of 0";
      return false;
    }
    record.key_name.assign(bytes + offset, name_length);
    offset += name_length;
  }
  if (record.has_value) {
    std::uint32_t change = 0;
    if (!GetU32(bytes, size, offset, change)) {
      error = "tree node data truncated before the change flag";
      return false;
    }
    record.is_change = static_cast<int>(change);
    record.value.assign(bytes + offset, size - offset);
  } else if (offset != size) {
    error = "tree node data with trailing bytes";
    return false;
  }
  return true;
}

bool DecodePointer(const char* bytes, std::size_t size, std::string& version_name,
                   std::string& error) {
  version_name.clear();
  if (bytes == nullptr || size == 0) return true;
  bool ok = size == 11 && bytes[0] == 'v';
  for (std::size_t i = 1; ok && i < size; ++i) ok = bytes[i] >= '0' && bytes[i] <= '9';
  if (!ok) {
    error = "the znode holds data that is not a tree pointer";
    return false;
  }
  version_name.assign(bytes, size);
  return true;
}

}  // namespace tree_zk
