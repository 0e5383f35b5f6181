// A local tree that follows a znode of the store (layout in Tree_ZkStore.h).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Tree/Tree_Node.h"
#include "formats/Tree_Status.h"
#include "store/Tree_ZkChunk.h"
#include "store/Tree_ZkOptions.h"
#include "store/Tree_ZkStore.h"

namespace tree_zk {
class Session;
struct ChunkCache;
}  // namespace tree_zk

// The replica keeps one watch on the server: a data watch on the pointer (an existence watch
// while there is none). On a change it reads the new root chunk and only the chunks it does
// not hold, compares the new tree with the local one and applies the differences through
// Tree_Node's members, so the host's notifiers run as for its own changes and the nodes it
// holds stay in the tree. A changed or added value gets change flag 1. Reconnection, session
// expiry (a new session) and server restarts resynchronise from the pointer. A read that fails
// (corrupt or missing chunks, denied, no tree) keeps the last good tree, sets LastError() and
// IsCurrent() false, and is tried again after a backoff doubling up to 4 s, or at once when the
// pointer changes. Reads run on the replica's own thread.
class Tree_ZkReplica {
 public:
  // Called on the replica's thread, with the tree lock held, after the first read (with no
  // changes) and after each later batch of changes.
  using Listener = std::function<void(const std::vector<Tree_ZkChange>&)>;

  Tree_ZkReplica(Tree_ZkOptions options, std::string znode, Listener listener = {});
  // Stops the thread and closes the session; handles to the tree stay valid.
  ~Tree_ZkReplica();
  Tree_ZkReplica(const Tree_ZkReplica&) = delete;
  Tree_ZkReplica& operator=(const Tree_ZkReplica&) = delete;

  // Connects and reads the tree. Returns the status of the first attempt, within twice the
  // options' timeout and a second: kUnavailable when the server cannot be reached, kNotFound
  // when the znode holds no tree yet; the replica keeps trying in the background and becomes
  // current once it succeeds.
  Tree_Status Start();
  // Whether the last read succeeded, the session is connected and no event is waiting.
  bool IsCurrent() const;
  // Waits up to `timeout_ms` for IsCurrent().
  bool WaitUntilCurrent(int timeout_ms) const;
  // The status of the last read: ok after a successful one.
  Tree_Status LastError() const;
  // Requests the replica's session has sent so far.
  std::uint64_t RequestCount() const;

  // The tree lock: hold it while reading Tree() or its nodes. Re-entrant.
  std::unique_lock<std::recursive_mutex> Lock() const;
  // The local root (null before the first read). A push of a tree with another root name
  // replaces the root; otherwise it stays the same node.
  Tree_NodePtr Tree() const;

  // Writes to the followed znode, as Tree_ZkStore's members of the same name.
  Tree_Status Push(const Tree_NodePtr& tree);
  Tree_Status Set(const std::string& path, const std::string& value, bool force_string = false);
  Tree_Status Remove(const std::string& path);

 private:
  void Run();
  void OnEvent(int type, int state);
  Tree_Status Resync();
  void Apply(Tree_NodePtr remote);

  Tree_ZkOptions m_options;
  std::string m_znode;
  Listener m_listener;

  mutable std::recursive_mutex m_tree_mutex;
  Tree_NodePtr m_tree;
  bool m_first_read_done = false;
  // Read thread only: the root held and the chunks it reaches.
  std::unique_ptr<tree_zk::ChunkCache> m_cache;
  tree_zk::ChunkId m_root{};
  bool m_have_root = false;

  mutable std::mutex m_mutex;  // guards the fields below
  mutable std::condition_variable m_changed;
  bool m_stop = false;
  bool m_dirty = true;
  bool m_syncing = false;
  bool m_connected = false;
  bool m_expired = false;
  bool m_current = false;
  Tree_Status m_last_status;
  std::unique_ptr<tree_zk::Session> m_session;
  mutable std::mutex m_write_mutex;  // guards opening and closing the session
  std::thread m_thread;
};
