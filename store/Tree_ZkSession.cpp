// Sessions and the pipelined walks: every asynchronous request's completion lands in a queue
// that the calling thread drains, so the walks' state is touched by one thread only, and no
// walk returns before each of its requests has completed.
#include "store/Tree_ZkSession.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <utility>

#include "host/Qor_LogFile.h"

namespace tree_zk {

namespace {

constexpr char kModule[] = "store/Tree_ZkStore";

// The client library passes a request's context to the completion thread through its own
// synchronisation, which ThreadSanitizer cannot see (the library is not instrumented). Every
// context is written and read under this mutex, so the hand-off is visible to it as well.
std::mutex& Handoff() {
  static std::mutex handoff;
  return handoff;
}

}  // namespace

void Log(int level, const std::string& text) {
  if (QorGLog.StoreParams(kModule, __LINE__, level, 501, 1)) QorGLog.Log("%s\n", text.c_str());
}

std::string ZkError(int rc) {
  const char* text = zerror(rc);
  return text != nullptr ? text : "error " + std::to_string(rc);
}

Session::Session(const Tree_ZkOptions& options, EventFn on_event)
    : m_options(options), m_on_event(std::move(on_event)) {}

Session::~Session() {
  Close();
}

void Session::Watcher(zhandle_t* /*zh*/, int type, int state, const char* path, void* context) {
  auto* session = static_cast<Session*>(context);
  if (type == ZOO_SESSION_EVENT) {
    std::lock_guard<std::mutex> lock(session->m_mutex);
    session->m_state = state;
    session->m_changed.notify_all();
  }
  if (session->m_on_event) session->m_on_event(type, state, path);
}

Tree_ZkResult Session::Open() {
  Close();
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state = 0;
  }
  const int timeout_ms = std::max(m_options.timeout_ms, 1);
  // The client's own messages go to QorGLog at level 7, not to standard error.
  m_zh = zookeeper_init2(m_options.connect.c_str(), &Session::Watcher, std::max(timeout_ms, 2000),
                         nullptr, this, 0, [](const char* message) { Log(7, message); });
  if (m_zh == nullptr) {
    return Tree_ZkResult::Fail("cannot use ZooKeeper address '" + m_options.connect +
                               "': " + std::string(std::strerror(errno)));
  }
  // By default the client resolves the addresses again on every pass of its I/O loop, one
  // name lookup per request; resolving only when a connection is lost keeps pipelines fast.
  zoo_set_servers_resolution_delay(m_zh, -1);
  {
    std::unique_lock<std::mutex> lock(m_mutex);
    const bool connected = m_changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] {
      return m_state == ZOO_CONNECTED_STATE || m_state == ZOO_EXPIRED_SESSION_STATE ||
             m_state == ZOO_AUTH_FAILED_STATE;
    });
    if (!connected || m_state != ZOO_CONNECTED_STATE) {
      lock.unlock();
      Close();
      return Tree_ZkResult::Fail("cannot reach ZooKeeper at " + m_options.connect + " within " +
                                 std::to_string(timeout_ms) + " ms");
    }
  }
  m_acl_entries.clear();
  if (!m_options.auth.empty()) {
    if (m_options.auth.find(':') == std::string::npos) {
      Close();
      return Tree_ZkResult::Fail("credentials must read USER:PASSWORD");
    }
    struct AuthWait {
      std::mutex mutex;
      std::condition_variable done;
      bool finished = false;
      int rc = ZOK;
    };
    auto wait = std::make_shared<AuthWait>();
    // The completion holds its own reference: it may run after a timed-out wait returned.
    std::shared_ptr<AuthWait>* held = nullptr;
    {
      std::lock_guard<std::mutex> handoff(Handoff());
      held = new std::shared_ptr<AuthWait>(wait);
    }
    const int rc = zoo_add_auth(
        m_zh, "digest", m_options.auth.data(), static_cast<int>(m_options.auth.size()),
        [](int result, const void* data) {
          std::shared_ptr<AuthWait>* shared = nullptr;
          {
            std::lock_guard<std::mutex> handoff(Handoff());
            shared = static_cast<std::shared_ptr<AuthWait>*>(const_cast<void*>(data));
          }
          {
            std::lock_guard<std::mutex> lock((*shared)->mutex);
            (*shared)->finished = true;
            (*shared)->rc = result;
            (*shared)->done.notify_all();
          }
          std::lock_guard<std::mutex> handoff(Handoff());
          delete shared;
        },
        held);
    if (rc != ZOK) {
      std::lock_guard<std::mutex> handoff(Handoff());
      delete held;
      Close();
      return Tree_ZkResult::Fail("authentication with ZooKeeper failed: " + ZkError(rc));
    }
    std::unique_lock<std::mutex> lock(wait->mutex);
    wait->done.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                        [&] { return wait->finished; });
    if (!wait->finished || wait->rc != ZOK) {
      const std::string why = wait->finished ? ZkError(wait->rc) : "no answer";
      lock.unlock();
      Close();
      return Tree_ZkResult::Fail("authentication with ZooKeeper failed: " + why);
    }
    m_acl_entries.push_back(
        ACL{ZOO_PERM_ALL, Id{const_cast<char*>("auth"), const_cast<char*>("")}});
    if (m_options.world_readable) {
      m_acl_entries.push_back(
          ACL{ZOO_PERM_READ, Id{const_cast<char*>("world"), const_cast<char*>("anyone")}});
    }
  }
  return Tree_ZkResult::Ok();
}

void Session::Close() {
  if (m_zh != nullptr) zookeeper_close(m_zh);
  m_zh = nullptr;
}

bool Session::IsConnected() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_zh != nullptr && m_state == ZOO_CONNECTED_STATE;
}

bool Session::IsExpired() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_state == ZOO_EXPIRED_SESSION_STATE || m_state == ZOO_AUTH_FAILED_STATE;
}

struct ACL_vector* Session::WriteAcl() {
  if (m_acl_entries.empty()) return &ZOO_OPEN_ACL_UNSAFE;
  m_acl.count = static_cast<std::int32_t>(m_acl_entries.size());
  m_acl.data = m_acl_entries.data();
  return &m_acl;
}

namespace {

// The completions of one walk. Each completion function gets a pointer to a Ticket that
// lives in the walk's deque until the walk has seen every completion.
struct Completions {
  struct Done {
    int ticket = 0;
    int rc = ZOK;
    std::string data;
    std::vector<std::string> names;
    int version = 0;
    int child_count = 0;
  };
  struct Ticket {
    Completions* owner;
    int id;
  };

  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<Done> done;
  std::deque<Ticket> tickets;
  int in_flight = 0;

  Ticket* NewTicket(int id) {
    std::lock_guard<std::mutex> handoff(Handoff());
    tickets.push_back(Ticket{this, id});
    ++in_flight;
    return &tickets.back();
  }
  // A request that the client refused to queue: no completion will come.
  void Withdraw() { --in_flight; }
  void Deliver(Done item) {
    std::lock_guard<std::mutex> lock(mutex);
    done.push_back(std::move(item));
    arrived.notify_all();
  }
  // Waits for at least one completion and moves all that arrived into `out`.
  void Take(std::deque<Done>& out) {
    std::unique_lock<std::mutex> lock(mutex);
    arrived.wait(lock, [this] { return !done.empty(); });
    out.swap(done);
    in_flight -= static_cast<int>(out.size());
  }
};

// The owner and id of a request's ticket, read under the hand-off mutex.
Completions::Ticket Claim(const void* data) {
  std::lock_guard<std::mutex> handoff(Handoff());
  return *static_cast<const Completions::Ticket*>(data);
}

void OnData(int rc, const char* value, int value_len, const struct Stat* stat, const void* data) {
  const Completions::Ticket ticket = Claim(data);
  Completions::Done done;
  done.ticket = ticket.id;
  done.rc = rc;
  if (rc == ZOK && value != nullptr && value_len > 0) done.data.assign(value, value_len);
  if (rc == ZOK && stat != nullptr) {
    done.version = stat->version;
    done.child_count = stat->numChildren;
  }
  ticket.owner->Deliver(std::move(done));
}

void OnChildren(int rc, const struct String_vector* strings, const struct Stat* /*stat*/,
                const void* data) {
  const Completions::Ticket ticket = Claim(data);
  Completions::Done done;
  done.ticket = ticket.id;
  done.rc = rc;
  if (rc == ZOK && strings != nullptr) {
    for (int i = 0; i < strings->count; ++i) done.names.emplace_back(strings->data[i]);
  }
  ticket.owner->Deliver(std::move(done));
}

void OnVoid(int rc, const void* data) {
  const Completions::Ticket ticket = Claim(data);
  Completions::Done done;
  done.ticket = ticket.id;
  done.rc = rc;
  ticket.owner->Deliver(std::move(done));
}

void OnString(int rc, const char* /*value*/, const void* data) {
  OnVoid(rc, data);
}

int Depth(const Session& session) {
  return std::max(session.Options().pipeline_depth, 1);
}

}  // namespace

Tree_ZkResult ReadTree(Session& session, const std::string& top, bool with_data, bool watch,
                       std::vector<ReadNode>& nodes, int& rc) {
  nodes.clear();
  rc = ZOK;
  zhandle_t* zh = session.Handle();
  Completions completions;
  std::string failure;
  ReadNode top_node;
  top_node.path = top;
  nodes.push_back(std::move(top_node));
  // Requests waiting to be issued: node index * 2, plus 1 for the data request. Each node's
  // data comes first; its children are listed only when its stat counts some (or, for a
  // watching read, when it is a branch, which may gain some), so a leaf costs one request.
  std::deque<int> pending{1};
  const int depth = Depth(session);
  std::deque<Completions::Done> arrived;
  while (!pending.empty() || completions.in_flight > 0) {
    while (rc == ZOK && failure.empty() && !pending.empty() && completions.in_flight < depth) {
      const int request = pending.front();
      pending.pop_front();
      const std::string& path = nodes[request / 2].path;
      Completions::Ticket* ticket = completions.NewTicket(request);
      int issued;
      if (request % 2 == 1) {
        issued = watch ? zoo_awget(zh, path.c_str(), &Session::Watcher, &session, OnData, ticket)
                       : zoo_aget(zh, path.c_str(), 0, OnData, ticket);
      } else {
        issued = watch ? zoo_awget_children2(zh, path.c_str(), &Session::Watcher, &session,
                                             OnChildren, ticket)
                       : zoo_aget_children2(zh, path.c_str(), 0, OnChildren, ticket);
      }
      if (issued != ZOK) {
        completions.Withdraw();
        rc = issued;
      }
    }
    if (rc != ZOK || !failure.empty()) pending.clear();
    if (completions.in_flight == 0) break;
    completions.Take(arrived);
    for (Completions::Done& done : arrived) {
      if (done.rc != ZOK) {
        if (rc == ZOK) rc = done.rc;
        continue;
      }
      if (rc != ZOK || !failure.empty()) continue;
      const int node = done.ticket / 2;
      if (done.ticket % 2 == 1) {
        std::string error;
        if (!with_data) {
          // Listing only: nothing to decode.
        } else if (!DecodeRecord(done.data.data(), done.data.size(), nodes[node].record, error)) {
          failure = nodes[node].path + ": " + error;
        } else if (nodes[node].record.is_root != (node == 0)) {
          failure = nodes[node].path + ": root record in the wrong place";
        }
        nodes[node].data_version = done.version;
        const bool branch = with_data ? !nodes[node].record.is_leaf : done.child_count > 0;
        if (failure.empty() && (done.child_count > 0 || (watch && branch))) {
          pending.push_back(node * 2);
        }
        continue;
      }
      std::sort(done.names.begin(), done.names.end());
      for (const std::string& name : done.names) {
        ReadNode child;
        std::string error;
        if (!DecodeChildName(name, child.index, child.key_name, error)) {
          failure = nodes[node].path + ": " + error;
          break;
        }
        if (!nodes[node].children.empty() &&
            nodes[nodes[node].children.back()].index == child.index) {
          failure = nodes[node].path + ": two children at position " + std::to_string(child.index);
          break;
        }
        child.path = nodes[node].path + "/" + name;
        child.parent = node;
        const int id = static_cast<int>(nodes.size());
        nodes[node].children.push_back(id);
        nodes.push_back(std::move(child));
        pending.push_back(id * 2 + 1);
      }
    }
    arrived.clear();
  }
  if (rc != ZOK) return Tree_ZkResult::Fail("reading " + top + " failed: " + ZkError(rc));
  if (!failure.empty()) return Tree_ZkResult::Fail("malformed tree: " + failure);
  return Tree_ZkResult::Ok();
}

Tree_ZkResult CreateAll(Session& session, const std::vector<CreateRequest>& requests,
                        std::size_t& created, int& rc) {
  zhandle_t* zh = session.Handle();
  struct ACL_vector* acl = session.WriteAcl();
  created = 0;
  rc = ZOK;
  if (Depth(session) == 1) {
    for (const CreateRequest& request : requests) {
      rc = zoo_create(zh, request.path.c_str(), request.data.data(),
                      static_cast<int>(request.data.size()), acl, 0, nullptr, 0);
      if (rc != ZOK) break;
      ++created;
    }
  } else {
    Completions completions;
    std::deque<Completions::Done> arrived;
    std::size_t next = 0;
    const int depth = Depth(session);
    bool stop = false;
    // Requests of one session are applied in order, so a create may follow its parent's
    // without waiting for it; completions come back in the same order.
    while (true) {
      while (!stop && next < requests.size() && completions.in_flight < depth) {
        const CreateRequest& request = requests[next];
        Completions::Ticket* ticket = completions.NewTicket(static_cast<int>(next));
        const int issued =
            zoo_acreate(zh, request.path.c_str(), request.data.data(),
                        static_cast<int>(request.data.size()), acl, 0, OnString, ticket);
        if (issued != ZOK) {
          completions.Withdraw();
          if (rc == ZOK) rc = issued;
          stop = true;
          break;
        }
        ++next;
      }
      if (completions.in_flight == 0) break;
      completions.Take(arrived);
      for (const Completions::Done& done : arrived) {
        if (done.rc == ZOK && rc == ZOK) {
          ++created;
        } else if (done.rc != ZOK && rc == ZOK) {
          rc = done.rc;
          stop = true;
        }
      }
      arrived.clear();
    }
  }
  if (rc != ZOK) {
    return Tree_ZkResult::Fail("creating " + requests[created].path + " failed: " + ZkError(rc));
  }
  return Tree_ZkResult::Ok();
}

Tree_ZkResult DeleteTree(Session& session, const std::string& top) {
  std::vector<ReadNode> nodes;
  int rc = ZOK;
  Tree_ZkResult listed = ReadTree(session, top, false, false, nodes, rc);
  if (rc == ZNONODE) return Tree_ZkResult::Ok();
  // A listing that stopped on a name the store does not write still deletes nothing.
  if (!listed) return listed;
  zhandle_t* zh = session.Handle();
  Completions completions;
  std::deque<Completions::Done> arrived;
  const int depth = Depth(session);
  // Breadth-first order reversed: every child goes before its parent.
  int next = static_cast<int>(nodes.size()) - 1;
  int failed = ZOK;
  while (true) {
    while (failed == ZOK && next >= 0 && completions.in_flight < depth) {
      Completions::Ticket* ticket = completions.NewTicket(next);
      const int issued = zoo_adelete(zh, nodes[next].path.c_str(), -1, OnVoid, ticket);
      if (issued != ZOK) {
        completions.Withdraw();
        failed = issued;
        break;
      }
      --next;
    }
    if (completions.in_flight == 0) break;
    completions.Take(arrived);
    for (const Completions::Done& done : arrived) {
      if (done.rc != ZOK && done.rc != ZNONODE && failed == ZOK) failed = done.rc;
    }
    arrived.clear();
  }
  if (failed != ZOK) return Tree_ZkResult::Fail("deleting " + top + " failed: " + ZkError(failed));
  return Tree_ZkResult::Ok();
}

}  // namespace tree_zk
