// Internal to the store: one ZooKeeper session, and the pipelined walks the store builds on.
// Nothing here is installed; the public interface is Tree_ZkStore.h.
#pragma once

#include <zookeeper/zookeeper.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "store/Tree_ZkCodec.h"
#include "store/Tree_ZkStore.h"

namespace tree_zk {

// Logs `text` at `level` through QorGLog under the store's module name.
void Log(int level, const std::string& text);

// The client error text of `rc`, e.g. "connection loss".
std::string ZkError(int rc);

// A connected session. Open() waits for the server up to the options' timeout.
class Session {
 public:
  // Called from the client's event thread for every watch and session event.
  using EventFn = std::function<void(int type, int state, const char* path)>;

  explicit Session(const Tree_ZkOptions& options, EventFn on_event = {});
  ~Session();  // closes the session (which removes its ephemeral state and watches)
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Connects and authenticates; the failure message names the address and the timeout.
  Tree_ZkResult Open();
  // Closes the session, if any, and forgets it.
  void Close();
  zhandle_t* Handle() const { return m_zh; }
  bool IsConnected() const;
  bool IsExpired() const;
  const Tree_ZkOptions& Options() const { return m_options; }
  // The ACL pushed znodes get: only the credentials' identity writes when there are any.
  struct ACL_vector* WriteAcl();
  // The watcher and context to pass to the zoo_w* calls.
  static void Watcher(zhandle_t* zh, int type, int state, const char* path, void* context);

 private:
  Tree_ZkOptions m_options;
  EventFn m_on_event;
  zhandle_t* m_zh = nullptr;
  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  int m_state = 0;
  std::vector<struct ACL> m_acl_entries;
  struct ACL_vector m_acl {};
};

// One znode read by ReadTree, in breadth-first order: parents before children.
struct ReadNode {
  std::string path;         // full znode path
  int parent = -1;          // index in the result, -1 for the top
  std::uint32_t index = 0;  // position among its siblings (from the znode name)
  std::string key_name;
  Tree_ZkRecord record;
  int data_version = 0;
  std::vector<int> children;  // indexes in the result, in position order
};

// Reads the znode `top` and everything below it, keeping up to the options' pipeline depth
// of requests in flight. With `with_data` false the records are not decoded. With `watch` set,
// every read leaves a data and a child watch behind on the session's watcher. Fails with
// `rc` set to the client error (ZNONODE when a znode vanished during the walk), or with
// `rc` ZOK and a message when a znode name or record does not decode.
Tree_ZkResult ReadTree(Session& session, const std::string& top, bool with_data, bool watch,
                       std::vector<ReadNode>& nodes, int& rc);

// One znode to create: full path and data.
struct CreateRequest {
  std::string path;
  std::string data;
};

// Creates the znodes in order (parents first), pipelined up to the options' depth, or one
// synchronous create at a time when the depth is 1. Stops issuing after the first failure;
// `created` counts the znodes known to exist afterwards (a prefix of `requests`).
Tree_ZkResult CreateAll(Session& session, const std::vector<CreateRequest>& requests,
                        std::size_t& created, int& rc);

// Deletes the znode `top` and everything below it; missing znodes count as deleted.
Tree_ZkResult DeleteTree(Session& session, const std::string& top);

// The bytes a request with a path of `path_size` and `data_size` data bytes takes on the wire
// (an upper bound including the ACL), compared with Tree_ZkOptions::max_request_bytes.
inline std::size_t RequestBytes(std::size_t path_size, std::size_t data_size) {
  return path_size + data_size + 256;
}

// The store's operations on an open session (Tree_ZkStore and Tree_ZkReplica share them).
// PullOn with `watch` leaves watches on the pointer and on every znode of the tree.
Tree_ZkResult PushOn(Session& session, const Tree_NodePtr& tree, const std::string& znode);
Tree_ZkResult PullOn(Session& session, const std::string& znode, bool watch, Tree_NodePtr& tree);
Tree_ZkResult SetOn(Session& session, const std::string& znode, const std::string& path,
                    const std::string& value);
Tree_ZkResult RemoveOn(Session& session, const std::string& znode, const std::string& path);

}  // namespace tree_zk
