// The byte forms of the ZooKeeper store: chunks, the pointer, and chunk names. Decoders read
// bytes anyone with write access to the server may have written: they check everything,
// never read past the bytes given, use no recursion, and accept exactly what the encoders
// write (one canonical form).
//
// Chunk, format version 2 (all integers are unsigned LEB128 varints of minimal length):
//   'T' 'Z' 'C' 2
//   items            varint count (at least 1), then that many items, each an entry (the
//                    top level of a chunk holds entries only)
//   item             byte 0 then an entry, or byte 1 then a reference
//   entry            varint body length, then the body:
//                      byte flags (1 = has a value, 2 = leaf; a leaf has a value), byte kind
//                      (Tree_NodeKind, 0..6), varint name length, name bytes,
//                      with a value: varint zigzag change flag, varint value length, value,
//                      not a leaf: the children as items (a count, then the items)
//   reference        32-byte id of the chunk whose top-level entries stand here,
//                    varint sibling count (its entries, at least 1), varint node count (all
//                    nodes below, at least the sibling count), varint byte count (the
//                    chunk's size less its magic and count: what the entries would take
//                    inline), byte 0 or 1: whether the entries' names follow (each a varint
//                    length and the bytes)
// A chunk's id is the SHA-256 of its bytes; a reference is resolved only to bytes that hash to
// its id and whose counts and names agree with it.
//
// Pointer, format version 2:
//   'T' 'Z' 'P' 2, 32-byte root chunk id, 8-byte big-endian node count, 1 byte n (at most
//   kMaxRecentRoots), then n times a replaced root's 32-byte id and 8-byte big-endian time it
//   was replaced (milliseconds since the epoch).
// Empty data means "no tree yet". The first store layout (a pointer "v" and 10 digits) is
// refused with its own message.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Tree/Tree_NodeKind.h"
#include "formats/Tree_Status.h"

namespace tree_zk {

using ChunkId = std::array<unsigned char, 32>;

inline constexpr char kChunkMagic[4] = {'T', 'Z', 'C', 2};
inline constexpr char kPointerMagic[4] = {'T', 'Z', 'P', 2};
// Roots replaced within the grace period that the pointer remembers: more pushes than this
// within one grace period may collect chunks under a reader of an older root (which then
// starts again from the pointer).
inline constexpr std::size_t kMaxRecentRoots = 64;
// The most nodes a chunk may declare below it. Chunks may be shared (equal subtrees have one
// id), so a few chunks can declare an exponential count; the sums stay far from overflow and
// a reader refuses a tree beyond Tree_ZkOptions::max_nodes before building any of it.
inline constexpr std::uint64_t kMaxDeclaredNodes = std::uint64_t{1} << 40;
inline constexpr unsigned char kFlagValue = 1;
inline constexpr unsigned char kFlagLeaf = 2;
inline constexpr unsigned char kItemEntry = 0;
inline constexpr unsigned char kItemRef = 1;

// SHA-256 of `bytes`.
ChunkId HashChunk(std::string_view bytes);
// The 64 lowercase hexadecimal digits of `id`: the znode name of the chunk.
std::string ChunkName(const ChunkId& id);
// The id whose ChunkName is `name`; false for any other text.
bool ParseChunkName(std::string_view name, ChunkId& id);

// Varint helpers shared by the encoders.
void PutVarint(std::string& out, std::uint64_t value);
std::size_t VarintSize(std::uint64_t value);
inline std::uint64_t ZigZag(std::int32_t value) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(value)) << 1) ^
         (value < 0 ? ~std::uint64_t{0} : 0);
}

// A reader over validated bytes: varints and byte strings, failing (ok false) rather than
// reading past the end or accepting a non-minimal varint.
struct ByteReader {
  std::string_view bytes;
  std::size_t offset = 0;
  bool ok = true;

  std::uint64_t Varint();
  unsigned char Byte();
  std::string_view Bytes(std::size_t count);
  bool AtEnd() const { return offset == bytes.size(); }
};

// What an entry says of its own node; the views point into bytes someone else owns.
struct NodeFields {
  std::string_view name;
  std::string_view value;
  bool has_value = false;
  bool leaf = false;
  Tree_NodeKind kind = Tree_NodeKind::kUntyped;
  std::int32_t change = 0;
};

// One entry as the decoder sees it; views point into the chunk's bytes.
struct EntryView : NodeFields {
  std::string_view whole;    // the entry's encoded bytes, length prefix included
  std::size_t items_at = 0;  // offset of its children (a count, then items) in the reader
  std::string_view items;    // the children's bytes, empty for a leaf
};

struct RefView {
  ChunkId id{};
  std::uint64_t siblings = 0;
  std::uint64_t nodes = 0;
  std::uint64_t bytes = 0;
  bool has_names = false;
  std::vector<std::string_view> names;
};

// Reads the entry whose length prefix starts at `reader.offset` and leaves `reader` after
// it. Checks its fields, not its children.
bool ReadEntry(ByteReader& reader, EntryView& entry);
// Reads a reference's fields (after its tag byte).
bool ReadRef(ByteReader& reader, RefView& ref);

// What validation of a chunk learns.
struct ChunkSummary {
  std::uint64_t siblings = 0;           // top-level entries
  std::uint64_t nodes = 0;              // nodes below, references counted as they declare
  std::uint64_t item_bytes = 0;         // the chunk's size less its magic and count
  std::vector<std::string_view> names;  // the top-level entries' names
  std::vector<RefView> refs;            // every reference, in order
};

// Checks that `bytes` are exactly one chunk of format version 2. Returns kCorrupt with a
// message saying what is wrong otherwise.
Tree_Status ValidateChunk(std::string_view bytes, ChunkSummary& summary);

// Whether a reference's declared counts and names agree with the chunk it names.
bool RefMatches(const RefView& ref, const ChunkSummary& summary);

// The pointer's fields.
struct Pointer {
  ChunkId root{};
  std::uint64_t node_count = 0;
  struct Recent {
    ChunkId root{};
    std::uint64_t replaced_ms = 0;
  };
  std::vector<Recent> recent;
};

std::string EncodePointer(const Pointer& pointer);
// Decodes pointer data: kOk with `has_tree` false for empty data, kOk with the fields, or
// kCorrupt (kInvalidInput for the old layout) with a message.
Tree_Status DecodePointer(std::string_view bytes, bool& has_tree, Pointer& pointer);

}  // namespace tree_zk
