// Push: cut the tree into chunks, write the ones the server lacks, switch the pointer in one
// multi that checks its version and that every reused chunk still exists. Garbage
// collection of chunks no current or recent root reaches.
#include <chrono>
#include <deque>
#include <unordered_set>

#include "store/Tree_ZkOps.h"

namespace tree_zk {
namespace {

// Room left in a request for a chunk's path and the request's own fields.
constexpr std::size_t kRequestOverhead = 512;

Tree_Status Conflict(const std::string& znode) {
  return Tree_Status(Tree_StatusCode::kConflict,
                     "concurrent push to " + znode +
                         " detected: it changed while this push was written; this push was "
                         "discarded");
}

}  // namespace

std::uint64_t NowMs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count());
}

Pointer NextPointer(bool had_tree, const Pointer& old, const ChunkId& root,
                    std::uint64_t node_count, int grace_ms) {
  Pointer next;
  next.root = root;
  next.node_count = node_count;
  if (!had_tree) return next;
  const std::uint64_t now = NowMs();
  const auto grace = static_cast<std::uint64_t>(std::max(grace_ms, 0));
  next.recent.push_back({old.root, now});
  for (const Pointer::Recent& recent : old.recent) {
    if (next.recent.size() == kMaxRecentRoots) break;
    if (recent.root != root && recent.replaced_ms + grace > now) next.recent.push_back(recent);
  }
  return next;
}

Tree_Status CreatePointer(Session& session, const std::string& znode, bool& retry) {
  std::vector<std::string> paths;
  for (std::size_t slash = znode.find('/', 1); slash != std::string::npos;
       slash = znode.find('/', slash + 1)) {
    paths.push_back(znode.substr(0, slash));
  }
  const std::size_t parents = paths.size();
  paths.push_back(znode);
  paths.push_back(ChunksPath(znode));
  for (std::size_t i = 0; i < paths.size(); ++i) {
    struct Stat stat {};
    int rc = session.Exists(paths[i], false, stat);
    if (rc == ZNONODE) {
      rc = session.Create(paths[i], "", i < parents ? &ZOO_OPEN_ACL_UNSAFE : session.TreeAcl());
      if (rc == ZNODEEXISTS) rc = ZOK;
    }
    if (rc != ZOK) {
      retry = IsConnectionError(rc);
      // Creating a child is the parent's ACL's to grant: a refusal names the parent.
      const std::size_t slash = paths[i].rfind('/');
      return StatusFor(rc, "creating " + paths[i], slash == 0 ? "/" : paths[i].substr(0, slash));
    }
  }
  return Tree_Status::Ok();
}

Tree_Status PushOn(Session& session, const Tree_NodePtr& tree, const std::string& znode,
                   PushState& state, bool& retry) {
  const Tree_ZkOptions& options = session.Options();
  if (!state.cut) {
    Model model;
    ModelFromTree(tree.get(), model);
    const std::size_t limit = options.max_request_bytes -
                              std::min(options.max_request_bytes, znode.size() + kRequestOverhead);
    Tree_Status cut = Cut(model, std::min(options.chunk_bytes, limit), limit, state.chunks);
    if (!cut) {
      return Tree_Status(cut.Code(), cut.Message() + "; nothing was written to " + znode);
    }
    state.cut = true;
  }
  const ChunkId root = state.chunks.chunks.back().id;

  bool has_tree = false;
  Pointer pointer;
  struct Stat stat {};
  Tree_Status read = ReadPointer(session, znode, false, has_tree, pointer, stat, retry);
  if (!read && read.Code() != Tree_StatusCode::kNotFound) return read;
  if (!has_tree) {
    if (Tree_Status made = CreatePointer(session, znode, retry); !made) return made;
    read = ReadPointer(session, znode, false, has_tree, pointer, stat, retry);
    if (!read) return read;
  }
  if (!state.have_version) {
    state.have_version = true;
    state.version = stat.version;
  } else if (stat.version != state.version) {
    // An earlier attempt whose switch landed before its connection was lost, or another push.
    if (has_tree && pointer.root == root) return Tree_Status::Ok();
    return Conflict(znode);
  }
  if (has_tree && pointer.root == root) return Tree_Status::Ok();

  std::vector<std::string> names;
  if (const int rc = session.Children(ChunksPath(znode), names); rc != ZOK) {
    retry = IsConnectionError(rc);
    return StatusFor(rc, "listing " + ChunksPath(znode));
  }
  const std::unordered_set<std::string> present(names.begin(), names.end());
  std::unordered_set<std::string> queued;
  std::deque<Request> queue;
  std::vector<std::string> reused;
  for (const Chunk& chunk : state.chunks.chunks) {
    const std::string name = ChunkName(chunk.id);
    if (!queued.insert(name).second) continue;
    if (present.count(name) != 0) {
      reused.push_back(ChunksPath(znode) + "/" + name);
      continue;
    }
    Request request;
    request.kind = Request::Kind::kCreate;
    request.path = ChunksPath(znode) + "/" + name;
    request.data = chunk.bytes;
    request.acl = session.TreeAcl();
    queue.push_back(std::move(request));
  }
  std::size_t written = 0;
  int failed = ZOK;
  const int issued = RunPipeline(session, queue, [&](const Reply& reply) {
    if (reply.rc == ZOK || reply.rc == ZNODEEXISTS) {
      ++written;
      return true;
    }
    failed = reply.rc;
    return false;
  });
  if (failed == ZOK) failed = issued;
  if (failed != ZOK) {
    retry = IsConnectionError(failed);
    Tree_Status why = StatusFor(failed, "writing the chunks of " + znode, ChunksPath(znode));
    return Tree_Status(why.Code(), why.Message() + " after " + std::to_string(written) +
                                       " chunks; the previous tree is unchanged");
  }
  if (options.before_switch) options.before_switch();

  const std::string data = EncodePointer(
      NextPointer(has_tree, pointer, root, state.chunks.node_count, session.Options().gc_grace_ms));
  std::vector<zoo_op_t> ops(reused.size() + 1);
  for (std::size_t i = 0; i < reused.size(); ++i) zoo_check_op_init(&ops[i], reused[i].c_str(), -1);
  zoo_set_op_init(&ops.back(), znode.c_str(), data.data(), static_cast<int>(data.size()),
                  stat.version, nullptr);
  const int rc = session.Multi(ops);
  if (rc == ZOK) return Tree_Status::Ok();
  if (rc == ZBADVERSION) return Conflict(znode);
  if (rc == ZNONODE) {
    retry = true;  // a reused chunk was collected meanwhile: write it again
    return Tree_Status(Tree_StatusCode::kNotFound, "a chunk of " + znode + " was collected");
  }
  retry = IsConnectionError(rc);
  Tree_Status why = StatusFor(rc, "switching " + znode);
  return Tree_Status(why.Code(), why.Message() + "; the previous tree is unchanged");
}

Tree_Status CollectOn(Session& session, const std::string& znode, ChunkCache& cache,
                      std::uint64_t& deleted) {
  deleted = 0;
  bool retry = false;
  bool has_tree = false;
  Pointer pointer;
  struct Stat stat {};
  if (Tree_Status read = ReadPointer(session, znode, false, has_tree, pointer, stat, retry);
      !read) {
    return read;
  }
  if (!has_tree) return Tree_Status::Ok();
  if (Tree_Status read = FetchReachable(session, znode, pointer.root, cache, retry); !read) {
    return read;
  }
  std::vector<ChunkId> roots{pointer.root};
  const std::uint64_t now = NowMs();
  const auto grace = static_cast<std::uint64_t>(std::max(session.Options().gc_grace_ms, 0));
  for (const Pointer::Recent& recent : pointer.recent) {
    if (recent.replaced_ms + grace <= now) continue;
    bool ignored = false;
    // A recent root already collected in part keeps what is left of it.
    if (FetchReachable(session, znode, recent.root, cache, ignored)) roots.push_back(recent.root);
  }
  cache.KeepOnly(roots);

  std::vector<std::string> names;
  if (const int rc = session.Children(ChunksPath(znode), names); rc != ZOK) {
    return StatusFor(rc, "listing " + ChunksPath(znode));
  }
  std::vector<std::string> doomed;
  for (const std::string& name : names) {
    ChunkId id;
    if (!ParseChunkName(name, id) || cache.Find(id) != nullptr) continue;
    struct Stat chunk {};
    const std::string path = ChunksPath(znode) + "/" + name;
    // Younger than the grace period before the last switch: a push in progress may need it.
    if (session.Exists(path, false, chunk) != ZOK ||
        static_cast<std::uint64_t>(chunk.ctime) + grace > static_cast<std::uint64_t>(stat.mtime)) {
      continue;
    }
    doomed.push_back(path);
  }
  // In batches, each checking that the pointer has not moved: a push that switched meanwhile
  // may reuse a chunk this collection took for garbage.
  constexpr std::size_t kBatch = 64;
  for (std::size_t first = 0; first < doomed.size(); first += kBatch) {
    const std::size_t last = std::min(doomed.size(), first + kBatch);
    std::vector<zoo_op_t> ops(last - first + 1);
    zoo_check_op_init(&ops[0], znode.c_str(), stat.version);
    for (std::size_t i = first; i < last; ++i) {
      zoo_delete_op_init(&ops[i - first + 1], doomed[i].c_str(), -1);
    }
    const int rc = session.Multi(ops);
    if (rc == ZBADVERSION) return Tree_Status::Ok();  // the next collection goes on
    if (rc != ZOK && rc != ZNONODE) return StatusFor(rc, "collecting the chunks of " + znode);
    if (rc == ZOK) deleted += last - first;
  }
  return Tree_Status::Ok();
}

}  // namespace tree_zk
