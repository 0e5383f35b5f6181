// Configuration trees kept in Apache ZooKeeper (the multi-threaded C client, zookeeper_mt),
// shared by many hosts and followed by local replicas (Tree_ZkReplica.h).
//
// Layout under a znode Z (the pointer):
//   Z                 data: the root chunk's id, the node count, recently replaced roots
//   Z/chunks/ID       one chunk: a node and as many of its descendants as fit in about
//                     Tree_ZkOptions::chunk_bytes, referring to the chunks of the rest by id;
//                     ID is the SHA-256 of the chunk's bytes (Tree_ZkChunk.h)
// A push writes only the chunks the server lacks, then switches Z in one zoo_multi that checks
// Z's version and that every chunk it reuses still exists: a reader sees the old tree or the
// new one, never a mix, and two pushes that overlap are detected. Set and Remove read the
// chunks on the path to their node, write new chunks for that path and switch Z the same way,
// trying again with randomised backoff when another writer won, until the timeout. Chunks no
// current or recent root reaches are collected after a push (CollectGarbage).
//
// Paths inside a tree are backslash paths relative to the root, as Tree_Node's lookups take
// them: "net\\srv\\port" names the child "port" of "srv" of "net" of the root, the lowest
// position winning among equal names; the empty path names the root.
//
// Failures come back as a Tree_Status with a code (kInvalidInput, kNotFound, kUnavailable,
// kDenied, kConflict, kTooLarge, kCorrupt) and a message, logged once at level 3 through QorGLog
// by the public member that returns it. Retries are logged at level 4. Credentials never
// appear in a message.
//
// Threads: a Tree_ZkStore is used by one thread at a time; different stores are independent.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Tree/Tree_Node.h"
#include "formats/Tree_Status.h"
#include "store/Tree_ZkOptions.h"

namespace tree_zk {
class Session;
}

class Tree_ZkStore {
 public:
  explicit Tree_ZkStore(Tree_ZkOptions options);
  // Closes the session, if one was opened.
  ~Tree_ZkStore();
  Tree_ZkStore(const Tree_ZkStore&) = delete;
  Tree_ZkStore& operator=(const Tree_ZkStore&) = delete;

  // Writes the subtree under `tree` as the new content of `znode`, creating `znode` (with the
  // tree's ACL) and its missing parents (with the open ACL). Refuses, before writing, a null
  // tree (kInvalidInput), a node too large for one chunk (kTooLarge), and a `znode` that holds
  // other data (kCorrupt, or kInvalidInput for the first store layout). Then collects garbage.
  // On any failure the previous tree stays current and complete.
  Tree_Status Push(const Tree_NodePtr& tree, const std::string& znode);
  // Reads the current tree of `znode` into `tree` (new nodes the caller owns, kinds and change
  // flags as pushed). kNotFound when there is no tree; `tree` is untouched on failure.
  Tree_Status Pull(const std::string& znode, Tree_NodePtr& tree);
  // Gives the node `path` names the value `value` with change flag 1. Its kind follows
  // Tree_JsonMapping::KindAfterSet (a new leaf: KindOfNewValue); `force_string` makes it a
  // string. Missing nodes on the way are created, appended to their parents. Refuses a path
  // through a leaf (kInvalidInput), and a new child of an array (kind kArray) other than its
  // next element, named by the element count (kInvalidInput): an array stays one.
  Tree_Status Set(const std::string& znode, const std::string& path, const std::string& value,
                  bool force_string = false);
  // Removes the node `path` names and its subtree (kNotFound when there is none). Refuses the
  // empty path. An element of an array (kind kArray, named by its position) takes the later
  // elements down one place, renamed so that the names stay 0..n-1: this reads and writes the
  // chunks of the whole tail of the array, not only those on the path.
  Tree_Status Remove(const std::string& znode, const std::string& path);
  // Set and Remove with the path given as its names, so that a name may hold a backslash; an
  // empty name is refused (kInvalidInput), where the backslash path drops an empty element.
  Tree_Status SetByNames(const std::string& znode, const std::vector<std::string>& names,
                         const std::string& value, bool force_string = false);
  Tree_Status RemoveByNames(const std::string& znode, const std::vector<std::string>& names);
  // Deletes the chunks of `znode` that neither the current root nor a root replaced within the
  // grace period reaches and that are older than the grace period; never a chunk the current
  // root reaches. Stores the number deleted in `deleted` when given.
  Tree_Status CollectGarbage(const std::string& znode, std::uint64_t* deleted = nullptr);

  // Requests sent to the server through this store so far.
  std::uint64_t RequestCount() const;

 private:
  std::unique_ptr<tree_zk::Session> m_session;
};
