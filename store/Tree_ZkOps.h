// Internal to the store: the operations on an open session, which Tree_ZkStore and
// Tree_ZkReplica wrap. Each makes one attempt; `retry` says whether another attempt may
// succeed (a connection loss, a lost version check, a chunk collected under a reader).
// Nothing here logs; the public members log what they return.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Tree/Tree_Node.h"
#include "formats/Tree_Status.h"
#include "store/Tree_ZkCut.h"
#include "store/Tree_ZkRead.h"
#include "store/Tree_ZkSession.h"

namespace tree_zk {

// What a push carries from one attempt to the next.
struct PushState {
  bool cut = false;
  CutResult chunks;
  bool have_version = false;  // the pointer's version the push started from
  int version = -1;
};

Tree_Status PushOn(Session& session, const Tree_NodePtr& tree, const std::string& znode,
                   PushState& state, bool& retry);
Tree_Status PullOn(Session& session, const std::string& znode, ChunkCache& cache,
                   Tree_NodePtr& tree, bool& retry);
// The names of the backslash path `path`; empty elements name the node reached so far, as in
// the tree's own lookups, and are dropped.
std::vector<std::string> PathNames(const std::string& path);
// Sets the value of the node `names` names, creating what is missing; `cache` keeps what the
// attempts read. An empty name is refused (kInvalidInput).
Tree_Status SetOn(Session& session, const std::string& znode, const std::vector<std::string>& names,
                  const std::string& value, bool force_string, ChunkCache& cache, bool& retry);
Tree_Status RemoveOn(Session& session, const std::string& znode,
                     const std::vector<std::string>& names, ChunkCache& cache, bool& retry);

// Deletes the chunks of `znode` that neither the current root nor a root replaced less than
// the grace period ago reaches, and that are older than the grace period. `cache` holds chunks
// already read (a push's own among them) and keeps the reachable ones. Counts what it deleted.
Tree_Status CollectOn(Session& session, const std::string& znode, ChunkCache& cache,
                      std::uint64_t& deleted);

// Creates the missing parents of `znode` with the open ACL and `znode` itself and its chunks
// znode with the tree's; a refusal names the znode whose ACL refused.
Tree_Status CreatePointer(Session& session, const std::string& znode, bool& retry);

// The milliseconds since the epoch, as replaced roots are stamped.
std::uint64_t NowMs();
// The pointer that replaces `old` (when there was a tree) by `root`: the old root joins the
// recent roots, which keep those replaced less than `grace_ms` ago, the newest
// kMaxRecentRoots of them, so a reader of any of them keeps its chunks for the grace period.
Pointer NextPointer(bool had_tree, const Pointer& old, const ChunkId& root,
                    std::uint64_t node_count, int grace_ms);

}  // namespace tree_zk
