// Configuration trees kept in Apache ZooKeeper (the multi-threaded C client, zookeeper_mt),
// shared by many hosts and followed by local replicas.
//
// Layout under a znode Z (the pointer):
//   Z                 data: the name of the current version child ("v0000000007"), or empty
//   Z/v0000000007     the tree's root; data: the root record (key name, checksum, node count)
//   Z/v.../00000000a  one znode per tree node, named by position and escaped key name
// Names and data are described in Tree_ZkCodec.h. A push writes a fresh version child, then
// switches Z in one zoo_multi that checks Z's version, then deletes the older versions: a
// reader sees the old tree or the new one, never a mix, and two pushes that overlap are
// detected (the later switch fails and its version is removed). Set and Remove change one
// node in place, in one zoo_multi that also rewrites the root's checksum and checks the
// versions of Z and of the root.
//
// Paths inside a tree are backslash paths relative to the root, as Tree_Node's lookups take
// them: "net\\srv\\port" names the child "port" of "srv" of "net" of the root, the lowest
// position winning among equal names; the empty path names the root.
//
// Failures come back as a Tree_ZkResult whose message says what happened (also logged at
// level 3 through QorGLog): "cannot reach ZooKeeper at HOST:PORT within N ms", "not
// authorised to write Z", "... exceeds the server's request limit ...", "concurrent push to
// Z detected", "no tree at Z", "checksum mismatch". No call waits longer than about the
// options' timeout for a server that does not answer.
//
// Threads: a Tree_ZkStore is used by one thread at a time; different stores are independent.
// Tree_ZkReplica's members may be called from any thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Tree/Tree_Node.h"

struct Tree_ZkOptions {
  // Comma-separated HOST:PORT list, as zookeeper_init takes it.
  std::string connect = "127.0.0.1:2181";
  // How long to wait for a connection, and the session timeout asked of the server.
  int timeout_ms = 5000;
  // "user:password" for digest authentication; empty for none. Znodes pushed with
  // credentials are writable by that identity only.
  std::string auth;
  // Whether everyone may read znodes pushed with credentials.
  bool world_readable = true;
  // The largest request the server accepts (its jute.maxbuffer, 1 MB less one byte by
  // default). Anything larger is refused before a byte is written.
  std::size_t max_request_bytes = 0xfffff;
  // Requests kept in flight by pushes and reads; 1 makes a push one synchronous create at a
  // time.
  int pipeline_depth = 1000;
  // Called by Push after the new version is written and before the switch (for tools that
  // coordinate pushes, and for tests).
  std::function<void()> before_switch;
};

// The outcome of a store operation: ok, or a message saying what failed.
struct Tree_ZkResult {
  bool ok = true;
  std::string message;

  static Tree_ZkResult Ok() { return {}; }
  static Tree_ZkResult Fail(std::string text) { return {false, std::move(text)}; }
  explicit operator bool() const { return ok; }
};

// One difference a replica applied to its tree. `path` is the local node's path (GetPath).
struct Tree_ZkChange {
  enum class Kind { kValue, kAdded, kRemoved };
  Kind kind = Kind::kValue;
  std::string path;
  bool had_value = false;
  std::string old_value;
  bool has_value = false;
  std::string new_value;
};

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

  // Writes the subtree under `tree` as the new content of `znode`, creating `znode` and its
  // parents when missing. Recomputes the subtree's checksums (their caches are cleared) and
  // stores the root's in the root record. Refuses, before writing anything, a null tree, a
  // node whose request would exceed max_request_bytes, and a `znode` that holds data other
  // than a tree pointer. On any failure the previous tree stays current and complete.
  Tree_ZkResult Push(const Tree_NodePtr& tree, const std::string& znode);
  // Reads the current tree of `znode` into `tree` (a new tree the caller owns, unprotected
  // families, checksum verified against the root record). `tree` is untouched on failure.
  Tree_ZkResult Pull(const std::string& znode, Tree_NodePtr& tree);
  // Gives the node `path` names the value `value` with change flag 1, keeping whether it is
  // a leaf. Missing nodes on the way are created, appended to their parents: branches, and
  // a leaf at the end. Refuses a path through a leaf.
  Tree_ZkResult Set(const std::string& znode, const std::string& path, const std::string& value);
  // Removes the node `path` names and its subtree. Refuses the empty path (push instead) and
  // a subtree whose deletion would not fit in one request.
  Tree_ZkResult Remove(const std::string& znode, const std::string& path);

 private:
  Tree_ZkResult Connected();

  std::unique_ptr<tree_zk::Session> m_session;
};

// A local tree that follows a znode. It reads the whole tree when it starts, then on every
// watch event (data and child watches on every znode, re-armed by each read), after every
// reconnection, and with a new session after an expiry; each read is compared with the local
// tree and only the differences are applied, through Tree_Node's members, so the host's
// notifiers run as for its own changes. A changed or added value gets change flag 1. Reads
// run on the replica's own thread.
class Tree_ZkReplica {
 public:
  // Called on the replica's thread, with the tree lock held, after each batch of changes.
  using Listener = std::function<void(const std::vector<Tree_ZkChange>&)>;

  Tree_ZkReplica(Tree_ZkOptions options, std::string znode, Listener listener = {});
  // Stops the thread and closes the session; handles to the tree stay valid.
  ~Tree_ZkReplica();
  Tree_ZkReplica(const Tree_ZkReplica&) = delete;
  Tree_ZkReplica& operator=(const Tree_ZkReplica&) = delete;

  // Connects and reads the tree. Fails, within twice the options' timeout and a second, when
  // the server cannot be reached or `znode` holds no tree; the replica keeps trying in the
  // background (every 100 ms) and becomes current once it succeeds.
  Tree_ZkResult Start();
  // Whether the last read succeeded, the session is connected and no event is waiting.
  bool IsCurrent() const;
  // Waits up to `timeout_ms` for IsCurrent().
  bool WaitUntilCurrent(int timeout_ms) const;
  // The message of the last failed read, empty after a successful one.
  std::string LastError() const;

  // The tree lock: hold it while reading Tree() or its nodes. Re-entrant.
  std::unique_lock<std::recursive_mutex> Lock() const;
  // The local root (null before the first read). A push of a tree with another root name
  // replaces the root; otherwise it stays the same node.
  Tree_NodePtr Tree() const;

  // Writes through the replica's session, as Tree_ZkStore's members of the same name.
  Tree_ZkResult Push(const Tree_NodePtr& tree);
  Tree_ZkResult Set(const std::string& path, const std::string& value);
  Tree_ZkResult Remove(const std::string& path);

 private:
  void Run();
  void OnEvent(int type, int state);
  Tree_ZkResult Resync();
  void Apply(Tree_NodePtr remote);

  Tree_ZkOptions m_options;
  std::string m_znode;
  Listener m_listener;

  mutable std::recursive_mutex m_tree_mutex;
  Tree_NodePtr m_tree;
  bool m_first_read_done = false;

  mutable std::mutex m_mutex;  // guards the fields below
  mutable std::condition_variable m_changed;
  bool m_stop = false;
  bool m_dirty = true;
  bool m_syncing = false;
  bool m_connected = false;
  bool m_expired = false;
  bool m_current = false;
  std::string m_last_error;
  std::unique_ptr<tree_zk::Session> m_session;
  std::mutex m_write_mutex;  // one write through the session at a time
  std::thread m_thread;
};

// The calls the command-line tool makes: each opens a session of its own.
namespace tree_zk {
Tree_ZkResult Push(const Tree_ZkOptions& options, const Tree_NodePtr& tree,
                   const std::string& znode);
Tree_ZkResult Pull(const Tree_ZkOptions& options, const std::string& znode, Tree_NodePtr& tree);
Tree_ZkResult Set(const Tree_ZkOptions& options, const std::string& znode, const std::string& path,
                  const std::string& value);
Tree_ZkResult Remove(const Tree_ZkOptions& options, const std::string& znode,
                     const std::string& path);
// Follows `znode` with a replica and calls `on_change` after the first read (with no
// changes) and for every batch of changes, until it returns false. Returns the failure of
// the first read, or Ok once `on_change` asked to stop.
Tree_ZkResult Watch(
    const Tree_ZkOptions& options, const std::string& znode,
    const std::function<bool(const Tree_NodePtr& tree, const std::vector<Tree_ZkChange>& changes)>&
        on_change);
}  // namespace tree_zk
