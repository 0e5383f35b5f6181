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

void Log(int level, int line, const std::string& text) {
  if (QorGLog.StoreParams(kModule, line, level, 501, 1)) QorGLog.Log("%s\n", text.c_str());
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

Tree_Status Session::Open() {
  Close();
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state = 0;
  }
  const int timeout_ms = std::max(m_options.timeout_ms, 1);
  // The client's own messages go to QorGLog at level 7, not to standard error.
  m_zh = zookeeper_init2(m_options.connect.c_str(), &Session::Watcher, std::max(timeout_ms, 2000),
                         nullptr, this, 0, [](const char* message) { Log(7, __LINE__, message); });
  if (m_zh == nullptr) {
    return Tree_Status(Tree_StatusCode::kInvalidInput,
                       "cannot use ZooKeeper address '" + m_options.connect +
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
      return Tree_Status(Tree_StatusCode::kUnavailable, "cannot reach ZooKeeper at " +
                                                            m_options.connect + " within " +
                                                            std::to_string(timeout_ms) + " ms");
    }
  }
  m_acl_entries.clear();
  if (!m_options.auth.empty()) {
    if (m_options.auth.find(':') == std::string::npos) {
      Close();
      return Tree_Status(Tree_StatusCode::kInvalidInput, "credentials must read USER:PASSWORD");
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
      return Tree_Status(Tree_StatusCode::kDenied,
                         "authentication with ZooKeeper failed: " + ZkError(rc));
    }
    std::unique_lock<std::mutex> lock(wait->mutex);
    wait->done.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                        [&] { return wait->finished; });
    if (!wait->finished || wait->rc != ZOK) {
      const std::string why = wait->finished ? ZkError(wait->rc) : "no answer";
      lock.unlock();
      Close();
      return Tree_Status(wait->finished ? Tree_StatusCode::kDenied : Tree_StatusCode::kUnavailable,
                         "authentication with ZooKeeper failed: " + why);
    }
    m_acl_entries.push_back(
        ACL{ZOO_PERM_ALL, Id{const_cast<char*>("auth"), const_cast<char*>("")}});
    if (m_options.world_readable) {
      m_acl_entries.push_back(
          ACL{ZOO_PERM_READ, Id{const_cast<char*>("world"), const_cast<char*>("anyone")}});
    }
  }
  return Tree_Status::Ok();
}

Tree_Status Session::EnsureOpen() {
  if (m_zh != nullptr) {
    // A session that lost its connection reconnects by itself (to another server of an
    // ensemble): wait for that before giving up the session.
    std::unique_lock<std::mutex> lock(m_mutex);
    const bool settled = m_changed.wait_for(
        lock, std::chrono::milliseconds(std::max(m_options.timeout_ms, 1)), [this] {
          return m_state == ZOO_CONNECTED_STATE || m_state == ZOO_EXPIRED_SESSION_STATE ||
                 m_state == ZOO_AUTH_FAILED_STATE;
        });
    if (settled && m_state == ZOO_CONNECTED_STATE) return Tree_Status::Ok();
  }
  return Open();
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

struct ACL_vector* Session::TreeAcl() {
  if (m_acl_entries.empty()) return &ZOO_OPEN_ACL_UNSAFE;
  m_acl.count = static_cast<std::int32_t>(m_acl_entries.size());
  m_acl.data = m_acl_entries.data();
  return &m_acl;
}

bool IsConnectionError(int rc) {
  return rc == ZCONNECTIONLOSS || rc == ZOPERATIONTIMEOUT || rc == ZSESSIONEXPIRED ||
         rc == ZINVALIDSTATE || rc == ZCLOSING || rc == ZSESSIONMOVED;
}

Tree_Status StatusFor(int rc, const std::string& what, const std::string& refused_by) {
  Tree_StatusCode code = Tree_StatusCode::kUnavailable;
  if (rc == ZNOAUTH) code = Tree_StatusCode::kDenied;
  if (rc == ZNONODE) code = Tree_StatusCode::kNotFound;
  if (rc == ZBADVERSION || rc == ZNODEEXISTS) code = Tree_StatusCode::kConflict;
  if (rc == ZBADARGUMENTS) code = Tree_StatusCode::kInvalidInput;
  if (rc == ZNOAUTH) {
    return Tree_Status(code,
                       what + " refused: " +
                           (refused_by.empty() ? "the znode's ACL" : "the ACL of " + refused_by) +
                           " does not grant it");
  }
  return Tree_Status(code, what + " failed: " + ZkError(rc));
}

int Session::Get(const std::string& path, bool watch, std::string& data, struct Stat& stat) {
  CountRequests(1);
  data.assign(std::max<std::size_t>(m_options.max_request_bytes, 1024), '\0');
  int length = static_cast<int>(data.size());
  const int rc =
      watch ? zoo_wget(m_zh, path.c_str(), &Session::Watcher, this, data.data(), &length, &stat)
            : zoo_get(m_zh, path.c_str(), 0, data.data(), &length, &stat);
  data.resize(rc == ZOK && length > 0 ? static_cast<std::size_t>(length) : 0);
  return rc;
}

int Session::Exists(const std::string& path, bool watch, struct Stat& stat) {
  CountRequests(1);
  return watch ? zoo_wexists(m_zh, path.c_str(), &Session::Watcher, this, &stat)
               : zoo_exists(m_zh, path.c_str(), 0, &stat);
}

int Session::Create(const std::string& path, const std::string& data, struct ACL_vector* acl) {
  CountRequests(1);
  return zoo_create(m_zh, path.c_str(), data.data(), static_cast<int>(data.size()), acl, 0, nullptr,
                    0);
}

int Session::Children(const std::string& path, std::vector<std::string>& names) {
  CountRequests(1);
  names.clear();
  struct String_vector children {};
  const int rc = zoo_get_children(m_zh, path.c_str(), 0, &children);
  if (rc == ZOK) {
    for (int i = 0; i < children.count; ++i) names.emplace_back(children.data[i]);
    deallocate_String_vector(&children);
  }
  return rc;
}

int Session::Multi(std::vector<zoo_op_t>& ops) {
  CountRequests(1);
  std::vector<zoo_op_result_t> results(ops.size());
  return zoo_multi(m_zh, static_cast<int>(ops.size()), ops.data(), results.data());
}

namespace {

// The replies of one pipeline. Each completion function gets a pointer to a Ticket that lives
// in the pipeline's deque until the pipeline has seen every completion.
struct Completions {
  struct Ticket {
    Completions* owner;
    std::uint64_t tag;
  };

  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<Reply> done;
  std::deque<Ticket> tickets;
  int in_flight = 0;

  Ticket* NewTicket(std::uint64_t tag) {
    std::lock_guard<std::mutex> handoff(Handoff());
    tickets.push_back(Ticket{this, tag});
    ++in_flight;
    return &tickets.back();
  }
  void Deliver(Reply reply) {
    std::lock_guard<std::mutex> lock(mutex);
    done.push_back(std::move(reply));
    arrived.notify_all();
  }
  void Take(std::deque<Reply>& out) {
    std::unique_lock<std::mutex> lock(mutex);
    arrived.wait(lock, [this] { return !done.empty(); });
    out.swap(done);
    in_flight -= static_cast<int>(out.size());
  }
};

Completions::Ticket Claim(const void* data) {
  std::lock_guard<std::mutex> handoff(Handoff());
  return *static_cast<const Completions::Ticket*>(data);
}

void OnData(int rc, const char* value, int value_len, const struct Stat* stat, const void* data) {
  const Completions::Ticket ticket = Claim(data);
  Reply reply;
  reply.tag = ticket.tag;
  reply.rc = rc;
  if (rc == ZOK && value != nullptr && value_len > 0) reply.data.assign(value, value_len);
  if (rc == ZOK && stat != nullptr) reply.stat = *stat;
  ticket.owner->Deliver(std::move(reply));
}

void OnVoid(int rc, const void* data) {
  const Completions::Ticket ticket = Claim(data);
  Reply reply;
  reply.tag = ticket.tag;
  reply.rc = rc;
  ticket.owner->Deliver(std::move(reply));
}

void OnString(int rc, const char* /*value*/, const void* data) {
  OnVoid(rc, data);
}

}  // namespace

int RunPipeline(Session& session, std::deque<Request>& queue,
                const std::function<bool(const Reply&)>& on_reply) {
  zhandle_t* zh = session.Handle();
  Completions completions;
  std::deque<Reply> arrived;
  const int depth = std::max(session.Options().pipeline_depth, 1);
  int failed = ZOK;
  bool stop = false;
  while (true) {
    while (!stop && failed == ZOK && !queue.empty() && completions.in_flight < depth) {
      const Request request = std::move(queue.front());
      queue.pop_front();
      Completions::Ticket* ticket = completions.NewTicket(request.tag);
      int issued = ZOK;
      switch (request.kind) {
        case Request::Kind::kGet:
          issued = zoo_aget(zh, request.path.c_str(), 0, OnData, ticket);
          break;
        case Request::Kind::kCreate:
          issued =
              zoo_acreate(zh, request.path.c_str(), request.data.data(),
                          static_cast<int>(request.data.size()), request.acl, 0, OnString, ticket);
          break;
        case Request::Kind::kDelete:
          issued = zoo_adelete(zh, request.path.c_str(), request.version, OnVoid, ticket);
          break;
      }
      session.CountRequests(1);
      if (issued != ZOK) {
        // Refused before it was queued: no completion will come.
        std::lock_guard<std::mutex> handoff(Handoff());
        --completions.in_flight;
        failed = issued;
      }
    }
    if (completions.in_flight == 0) break;
    completions.Take(arrived);
    for (const Reply& reply : arrived) {
      if (!stop && !on_reply(reply)) stop = true;
    }
    arrived.clear();
  }
  return failed;
}

}  // namespace tree_zk
