// Internal to the store: reading pointers and chunks, and building trees from chunks. Shared by
// pull, edits, garbage collection and replicas.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "Tree/Tree_Node.h"
#include "formats/Tree_Status.h"
#include "store/Tree_ZkChunk.h"
#include "store/Tree_ZkSession.h"

namespace tree_zk {

struct ChunkIdHash {
  std::size_t operator()(const ChunkId& id) const {
    std::size_t hash = 0;
    std::memcpy(&hash, id.data(), sizeof hash);
    return hash;
  }
};

// Chunks read and checked: their bytes (which the views of their summaries point into).
struct ChunkCache {
  struct Entry {
    std::string bytes;
    ChunkSummary summary;
  };
  std::unordered_map<ChunkId, Entry, ChunkIdHash> chunks;

  const Entry* Find(const ChunkId& id) const {
    const auto found = chunks.find(id);
    return found == chunks.end() ? nullptr : &found->second;
  }
  // Keeps only the chunks reachable from `roots`.
  void KeepOnly(const std::vector<ChunkId>& roots);
};

// The chunks znode of `znode`, and the znode of one chunk.
inline std::string ChunksPath(const std::string& znode) {
  return znode + "/chunks";
}
inline std::string ChunkPath(const std::string& znode, const ChunkId& id) {
  return znode + "/chunks/" + ChunkName(id);
}

// kInvalidInput unless `znode` is an absolute znode path.
Tree_Status CheckZnode(const std::string& znode);

// Reads the pointer `znode`: `has_tree` false when the znode is missing or empty (kOk), else
// the pointer and the znode's data version. With `watch`, leaves a data watch on the pointer
// (an existence watch when it is missing). `retry` is set for failures worth another attempt.
Tree_Status ReadPointer(Session& session, const std::string& znode, bool watch, bool& has_tree,
                        Pointer& pointer, struct Stat& stat, bool& retry);

// Reads, pipelined, every chunk reachable from `root` that `cache` does not hold, checking each
// against its id and its references. A missing chunk is kNotFound with `retry` set (it may have
// been collected under the reader: the caller starts again from the pointer).
Tree_Status FetchReachable(Session& session, const std::string& znode, const ChunkId& root,
                           ChunkCache& cache, bool& retry);
// Reads the chunks `ids` (those not in `cache`) without descending.
Tree_Status FetchChunks(Session& session, const std::string& znode, const std::vector<ChunkId>& ids,
                        ChunkCache& cache, bool& retry);

// Builds the subtree of the entry that starts at `entry.whole` (references resolved through
// `cache`, which must hold them) as new unprotected nodes with change flags as stored. Uses an
// explicit stack.
Tree_Status BuildEntry(const ChunkCache& cache, const EntryView& entry, Tree_NodePtr& tree);
// The root chunk's single entry.
Tree_Status RootEntry(const ChunkCache& cache, const ChunkId& root, EntryView& entry);

// One item of an entry's children: an entry or a reference.
struct ItemView {
  bool is_ref = false;
  EntryView entry;
  RefView ref;
};
// The children items of `entry` (none for a leaf).
std::vector<ItemView> ItemsOf(const EntryView& entry);
// The top-level entries of a cached chunk.
std::vector<EntryView> EntriesOf(const ChunkCache::Entry& chunk);

}  // namespace tree_zk
