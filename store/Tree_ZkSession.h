// Internal to the store: one ZooKeeper session, and the request pipeline every walk uses.
// Nothing here is installed; the public interface is Tree_ZkStore.h and Tree_ZkReplica.h.
#pragma once

#include <zookeeper/zookeeper.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "formats/Tree_Status.h"
#include "store/Tree_ZkOptions.h"

namespace tree_zk {

// Logs `text` at `level` through QorGLog under the store's module name, with `line`.
void Log(int level, int line, const std::string& text);

// The client error text of `rc`, e.g. "connection loss".
std::string ZkError(int rc);
// Whether `rc` says the connection or the session failed, so that the request may be made
// again on a new connection.
bool IsConnectionError(int rc);
// A status for the client error `rc` met doing `what` ("reading /a"): kDenied for an ACL
// refusal, kNotFound, kUnavailable for connection failures, kConflict for a version check.
// A refusal names `refused_by`, the znode whose ACL refused, when given.
Tree_Status StatusFor(int rc, const std::string& what, const std::string& refused_by = "");

// A session. Open() waits for the server up to the options' timeout. Every request made
// through it is counted (RequestCount), for tests and benchmarks.
class Session {
 public:
  // Called from the client's event thread for every watch and session event.
  using EventFn = std::function<void(int type, int state, const char* path)>;

  explicit Session(const Tree_ZkOptions& options, EventFn on_event = {});
  ~Session();  // closes the session (which removes its watches)
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Connects and authenticates: kUnavailable naming the address and the timeout, or
  // kDenied when the credentials are refused. The credentials never appear in a message.
  Tree_Status Open();
  // Opens when not connected (a new session after an expiry or a failure).
  Tree_Status EnsureOpen();
  void Close();
  zhandle_t* Handle() const { return m_zh; }
  bool IsConnected() const;
  bool IsExpired() const;
  const Tree_ZkOptions& Options() const { return m_options; }
  // The ACL of znodes that hold a tree: the credentials' identity writes when there are any.
  struct ACL_vector* TreeAcl();

  std::uint64_t RequestCount() const { return m_requests.load(); }
  void CountRequests(std::uint64_t count) { m_requests += count; }

  // Synchronous calls, counted.
  int Get(const std::string& path, bool watch, std::string& data, struct Stat& stat);
  int Exists(const std::string& path, bool watch, struct Stat& stat);
  int Create(const std::string& path, const std::string& data, struct ACL_vector* acl);
  int Children(const std::string& path, std::vector<std::string>& names);
  int Multi(std::vector<zoo_op_t>& ops);

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
  std::atomic<std::uint64_t> m_requests{0};
};

// One asynchronous request of a pipeline.
struct Request {
  enum class Kind { kGet, kCreate, kDelete };
  Kind kind = Kind::kGet;
  std::string path;
  std::string data;                  // kCreate
  struct ACL_vector* acl = nullptr;  // kCreate
  int version = -1;                  // kDelete
  std::uint64_t tag = 0;             // the caller's, handed back with the reply
};

struct Reply {
  int rc = ZOK;
  std::uint64_t tag = 0;
  std::string data;  // kGet
  struct Stat stat {};
};

// Runs the requests in `queue`, keeping up to the options' pipeline depth in flight, and calls
// `on_reply` on this thread for each reply in the order the server answered. `on_reply` may
// append to `queue`; returning false stops issuing (the requests in flight are still
// drained). Returns ZOK, or the client error of a request it could not issue. Never returns
// before every issued request has completed.
int RunPipeline(Session& session, std::deque<Request>& queue,
                const std::function<bool(const Reply&)>& on_reply);

}  // namespace tree_zk
