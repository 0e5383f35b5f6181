// Feeds any bytes to the ZooKeeper store's decoders: the first byte picks the node record,
// the znode name or the pointer reader, the rest is the input. None may read outside the
// bytes, and whatever a decoder accepts must encode back to exactly the same bytes (each
// accepts only the canonical form its encoder writes).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "store/Tree_ZkCodec.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const char* bytes = reinterpret_cast<const char*>(data) + 1;
  const std::size_t length = size - 1;
  const std::string_view input(bytes, length);
  std::string error;
  switch (data[0] % 3) {
    case 0: {
      Tree_ZkRecord record;
      if (tree_zk::DecodeRecord(length == 0 ? nullptr : bytes, length, record, error)) {
        Check(tree_zk::EncodeRecord(record) == input);
        Check(!record.is_leaf || record.has_value);
      } else {
        Check(!error.empty());
      }
      break;
    }
    case 1: {
      std::uint32_t index = 0;
      std::string key_name;
      if (tree_zk::DecodeChildName(input, index, key_name, error)) {
        Check(tree_zk::EncodeChildName(index, key_name) == input);
        Check(!key_name.empty());
      } else {
        Check(!error.empty());
      }
      break;
    }
    default: {
      std::string version_name;
      if (tree_zk::DecodePointer(bytes, length, version_name, error)) {
        Check(tree_zk::EncodePointer(version_name) == input);
      } else {
        Check(!error.empty());
      }
      break;
    }
  }
  return 0;
}
