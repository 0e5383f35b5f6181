// Feeds arbitrary bytes to the byte block decoder. The lowest bit of the first byte chooses
// the layout (set: full_info); the other bytes are the block. The decoder accepts only what
// the writer can produce, so whatever it decodes must write back to exactly the same bytes;
// whatever it rejects must name an offset inside the block.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "Tree/Tree_Node.h"
#include "host/Qor_LogFile.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  QorGLog.SetMaxLevel(0);  // rejected blocks are the common case: keep them quiet
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size - 1 > static_cast<std::size_t>(INT_MAX)) return 0;
  const bool full_info = (data[0] & 1u) != 0;
  const char* const block = reinterpret_cast<const char*>(data + 1);
  const int block_size = static_cast<int>(size - 1);

  RWCString virtual_parent_path;
  int error_offset = -1;
  RWTPtrOrderedVector<Tree_IdNodeInfo>* vec = Tree_Node::GetIdNodeInfoVecFromSerialized(
      block, block_size, full_info, virtual_parent_path, &error_offset);
  if (vec == nullptr) {
    if (error_offset < 0 || error_offset > block_size) std::abort();
    return 0;
  }
  int written_size = -1;
  const std::unique_ptr<char[]> written(
      Tree_Node::GetSerializeIdNodeInfoVec(vec, written_size, virtual_parent_path, full_info));
  if (written_size != block_size) std::abort();
  if (block_size != 0 && std::memcmp(written.get(), block, static_cast<std::size_t>(block_size)))
    std::abort();
  return 0;
}
