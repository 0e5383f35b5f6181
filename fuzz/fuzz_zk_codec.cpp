// Feeds any bytes to the ZooKeeper store's decoders: the first byte picks the chunk validator,
// the pointer reader or the chunk-name parser, the rest is the input. None may read outside
// the bytes; a chunk accepted must have its entries readable, a pointer accepted must encode
// back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "store/Tree_ZkChunk.h"
#include "store/Tree_ZkRead.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 3) {
    case 0: {
      tree_zk::ChunkCache::Entry entry;
      entry.bytes.assign(input);
      const Tree_Status valid = tree_zk::ValidateChunk(entry.bytes, entry.summary);
      if (valid) {
        Check(tree_zk::EntriesOf(entry).size() == entry.summary.siblings);
      } else {
        Check(valid.Code() == Tree_StatusCode::kCorrupt && !valid.Message().empty());
      }
      break;
    }
    case 1: {
      bool has_tree = false;
      tree_zk::Pointer pointer;
      if (tree_zk::DecodePointer(input, has_tree, pointer) && has_tree) {
        Check(tree_zk::EncodePointer(pointer) == input);
      }
      break;
    }
    default: {
      tree_zk::ChunkId id;
      if (tree_zk::ParseChunkName(input, id)) Check(tree_zk::ChunkName(id) == input);
      break;
    }
  }
  return 0;
}
