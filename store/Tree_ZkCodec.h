// The byte forms the ZooKeeper store writes: the name of a node's znode, the data of a
// node's znode, and the data of the pointer znode. The decoders read bytes that anyone with
// write access to the server may have written; they check everything and never read past the
// bytes they are given.
//
// Znode name of a tree node: 8 lowercase hexadecimal digits, the node's position among its
// siblings, then its key name escaped. Bytes 0x21..0x7E pass as they are except '%' and '/';
// every other byte (NUL, blanks, control characters, bytes of 0x7F and above) is written as
// '%' and two uppercase hexadecimal digits. The position prefix keeps every name apart from
// "." and "..", and ZooKeeper's sorted-free listing is put back in order by it.
//
// Znode data of a tree node, version 1:
//   byte 0-1  'T' 'Z'
//   byte 2    1 (the version of this layout)
//   byte 3    flags: 1 = has a value, 2 = leaf, 4 = root record; other bits must be 0
//   root record only: u32 checksum of the tree, u32 node count, u32 key name length, key name
//   with a value only: i32 change flag, then the value's bytes up to the end
// Integers are big-endian. A leaf always has a value. Nothing may follow a record without a
// value.
//
// Pointer znode data: empty (no tree yet) or "v" and the 10 digits ZooKeeper appends to a
// sequential znode, naming the child that holds the current tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// What one znode's data says about its tree node.
struct Tree_ZkRecord {
  bool has_value = false;
  bool is_leaf = false;
  int is_change = 0;
  std::string value;
  // Root record only.
  bool is_root = false;
  std::uint32_t checksum = 0;
  std::uint32_t node_count = 0;
  std::string key_name;
};

namespace tree_zk {

inline constexpr int kIndexDigits = 8;
inline constexpr std::size_t kRecordHeaderSize = 4;

// The znode name of the child at `index` (0 <= index) named `key_name`.
std::string EncodeChildName(std::uint32_t index, std::string_view key_name);
// Splits a znode name written by EncodeChildName into position and key name. Returns false,
// with `error` saying why, for any other name (wrong prefix, bad or non-canonical escape,
// empty key name).
bool DecodeChildName(std::string_view znode_name, std::uint32_t& index, std::string& key_name,
                     std::string& error);

// The data bytes of `record`; the root fields are written only when `record.is_root`.
std::string EncodeRecord(const Tree_ZkRecord& record);
// Decodes `size` bytes at `bytes` into `record`. Returns false, with `error` saying why and
// `record` unspecified, when the bytes are not exactly one version-1 record. A null `bytes`
// is accepted only with `size` 0 (and then refused as too short).
bool DecodeRecord(const char* bytes, std::size_t size, Tree_ZkRecord& record, std::string& error);

// The pointer data naming version child `version_name` ("v" and 10 digits).
inline std::string EncodePointer(std::string_view version_name) {
  return std::string(version_name);
}
// Checks pointer data: true with `version_name` empty for no tree, or with the version
// child's name; false, with `error`, for anything else.
bool DecodePointer(const char* bytes, std::size_t size, std::string& version_name,
                   std::string& error);

}  // namespace tree_zk
