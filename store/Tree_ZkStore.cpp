// Push, Pull, Set and Remove on an open session, and the classes and calls built on them.
#include "store/Tree_ZkStore.h"

#include <algorithm>
#include <deque>
#include <unordered_map>
#include <utility>

#include "store/Tree_ZkSession.h"

namespace tree_zk {
namespace {

constexpr int kAttempts = 5;

Tree_ZkResult Failed(std::string text) {
  Log(3, text);
  return Tree_ZkResult::Fail(std::move(text));
}

Tree_ZkResult CheckZnode(const std::string& znode) {
  if (znode.size() < 2 || znode[0] != '/' || znode.back() == '/') {
    return Failed("invalid znode path '" + znode + "': it must start with '/' and name a znode");
  }
  return Tree_ZkResult::Ok();
}

std::string NotAuthorised(const std::string& znode) {
  return "not authorised to write " + znode + " (its ACL does not grant these credentials)";
}

// The record of `node`; root fields are filled in by the caller.
Tree_ZkRecord RecordOf(Tree_Node* node) {
  Tree_ZkRecord record;
  record.is_leaf = node->IsLeaf() != 0;
  if (const Tree_Value* value = node->GetTreeValue(); value != nullptr) {
    record.has_value = true;
    record.value = value->Value().str();
    record.is_change = value->IsChange();
  }
  return record;
}

// The pointer's version child and stat. A missing pointer is "no tree", unless `create`
// asks for it and its parents to be made (empty).
Tree_ZkResult ReadPointer(Session& session, const std::string& znode, bool create, bool watch,
                          std::string& version_name, struct Stat& stat) {
  zhandle_t* zh = session.Handle();
  std::string buffer(64, '\0');
  int length = static_cast<int>(buffer.size());
  int rc = watch ? zoo_wget(zh, znode.c_str(), &Session::Watcher, &session, buffer.data(), &length,
                            &stat)
                 : zoo_get(zh, znode.c_str(), 0, buffer.data(), &length, &stat);
  if (rc == ZNONODE && create) {
    for (std::size_t slash = znode.find('/', 1); rc == ZNONODE;
         slash = znode.find('/', slash + 1)) {
      const std::string prefix = znode.substr(0, slash);
      const int made = zoo_create(zh, prefix.c_str(), "", 0, session.WriteAcl(), 0, nullptr, 0);
      if (made == ZNOAUTH) return Failed(NotAuthorised(prefix));
      if (made != ZOK && made != ZNODEEXISTS) {
        return Failed("creating " + prefix + " failed: " + ZkError(made));
      }
      if (slash == std::string::npos) break;
    }
    length = static_cast<int>(buffer.size());
    rc = zoo_get(zh, znode.c_str(), 0, buffer.data(), &length, &stat);
  }
  if (rc == ZNONODE) {
    if (watch) zoo_wexists(zh, znode.c_str(), &Session::Watcher, &session, &stat);
    return Tree_ZkResult::Fail("no tree at " + znode);
  }
  if (rc == ZNOAUTH) return Failed("not authorised to read " + znode);
  if (rc != ZOK) return Failed("reading " + znode + " failed: " + ZkError(rc));
  std::string error;
  // A pointer is 11 bytes; anything longer came back cut to the buffer and fails as well.
  if (!DecodePointer(buffer.data(), length < 0 ? 0 : static_cast<std::size_t>(length), version_name,
                     error) ||
      stat.dataLength > static_cast<int>(buffer.size())) {
    return Failed(znode + ": " + (error.empty() ? "pointer data too long" : error));
  }
  return Tree_ZkResult::Ok();
}

// A tree read by ReadTree, with one handle per read node (same indexes).
struct BuiltTree {
  std::vector<ReadNode> nodes;
  std::vector<Tree_NodePtr> handles;
  int pointer_version = 0;
  std::string version_name;
};

// Builds the tree of `nodes` bottom-up (every Add links a root, so none walks a long
// ancestry) and checks it against the root record.
Tree_ZkResult Build(BuiltTree& built, const std::string& znode) {
  std::vector<ReadNode>& nodes = built.nodes;
  built.handles.assign(nodes.size(), Tree_NodePtr());
  for (std::size_t i = nodes.size(); i-- > 0;) {
    const Tree_ZkRecord& record = nodes[i].record;
    const std::string& name = i == 0 ? record.key_name : nodes[i].key_name;
    if (record.is_leaf && !nodes[i].children.empty()) {
      return Failed("malformed tree: " + nodes[i].path + " is a leaf with children");
    }
    Tree_NodePtr node =
        record.is_leaf
            ? Tree_NodePtr(new Tree_Node(name, new Tree_Value(record.value, record.is_change)))
            : Tree_NodePtr(new Tree_Node(name));
    if (!record.is_leaf && record.has_value) {
      delete node->SetTreeValue(new Tree_Value(record.value, record.is_change));
    }
    for (const int child : nodes[i].children) node->Add(built.handles[child]);
    built.handles[i] = std::move(node);
  }
  const Tree_ZkRecord& root = nodes[0].record;
  if (root.node_count != nodes.size()) {
    return Tree_ZkResult::Fail("node count mismatch reading " + znode + ": the root record says " +
                               std::to_string(root.node_count) + ", read " +
                               std::to_string(nodes.size()));
  }
  const unsigned long checksum = built.handles[0]->GetChecksum();
  if (checksum != root.checksum) {
    return Tree_ZkResult::Fail("checksum mismatch reading " + znode + ": the root record says " +
                               std::to_string(root.checksum) + ", the tree read gives " +
                               std::to_string(checksum));
  }
  return Tree_ZkResult::Ok();
}

// Reads and builds the current tree of `znode`, retrying when a push or a change overlapped
// the read.
Tree_ZkResult ReadCurrent(Session& session, const std::string& znode, bool watch,
                          BuiltTree& built) {
  Tree_ZkResult last;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    struct Stat stat {};
    Tree_ZkResult pointer = ReadPointer(session, znode, false, watch, built.version_name, stat);
    if (!pointer) return pointer;
    if (built.version_name.empty()) return Tree_ZkResult::Fail("no tree at " + znode);
    built.pointer_version = stat.version;
    int rc = ZOK;
    last = ReadTree(session, znode + "/" + built.version_name, true, watch, built.nodes, rc);
    if (rc == ZNONODE) continue;  // the version was replaced while being read
    if (rc == ZNOAUTH) return Failed("not authorised to read " + znode);
    if (!last) return Failed(last.message);
    last = Build(built, znode);
    if (last) return last;
    // A mismatch that an overlapping change explains is read again.
    struct Stat now {};
    std::string version_now;
    struct Stat root_now {};
    if (!ReadPointer(session, znode, false, false, version_now, now) ||
        now.version != built.pointer_version ||
        zoo_exists(session.Handle(), built.nodes[0].path.c_str(), 0, &root_now) != ZOK ||
        root_now.version != built.nodes[0].data_version) {
      continue;
    }
    return Failed(last.message);
  }
  return Failed(last.message.empty() ? "the tree at " + znode + " kept changing while being read"
                                     : last.message);
}

// Clears the cached checksums of `node` and its ancestors.
void Invalidate(Tree_Node* node) {
  for (; node != nullptr; node = node->GetParent()) node->SetChecksum(0, true, false);
}

// Runs `ops` in one zoo_multi; the strings they point to belong to the caller.
int Multi(Session& session, std::vector<zoo_op_t>& ops) {
  std::vector<zoo_op_result_t> results(ops.size());
  return zoo_multi(session.Handle(), static_cast<int>(ops.size()), ops.data(), results.data());
}

// One change of Set or Remove, prepared against a read tree: the multi's operations, with
// the strings they point to.
struct Edit {
  std::deque<std::string> strings;  // stable addresses for the ops
  std::vector<zoo_op_t> ops;
  std::deque<std::string> created_paths;  // buffers for created paths
  std::size_t bytes = 0;

  const std::string& Keep(std::string text) {
    strings.push_back(std::move(text));
    return strings.back();
  }
  void Create(Session& session, std::string path, std::string data) {
    bytes += RequestBytes(path.size(), data.size());
    const std::string& kept_path = Keep(std::move(path));
    const std::string& kept_data = Keep(std::move(data));
    created_paths.emplace_back(kept_path.size() + 16, '\0');
    zoo_op_t op;
    zoo_create_op_init(&op, kept_path.c_str(), kept_data.data(), static_cast<int>(kept_data.size()),
                       session.WriteAcl(), 0, created_paths.back().data(),
                       static_cast<int>(created_paths.back().size()));
    ops.push_back(op);
  }
  void SetData(std::string path, std::string data, int version) {
    bytes += RequestBytes(path.size(), data.size());
    const std::string& kept_path = Keep(std::move(path));
    const std::string& kept_data = Keep(std::move(data));
    zoo_op_t op;
    zoo_set_op_init(&op, kept_path.c_str(), kept_data.data(), static_cast<int>(kept_data.size()),
                    version, nullptr);
    ops.push_back(op);
  }
  void Delete(std::string path) {
    bytes += RequestBytes(path.size(), 0);
    const std::string& kept_path = Keep(std::move(path));
    zoo_op_t op;
    zoo_delete_op_init(&op, kept_path.c_str(), -1);
    ops.push_back(op);
  }
  void Check(std::string path, int version) {
    bytes += RequestBytes(path.size(), 0);
    const std::string& kept_path = Keep(std::move(path));
    zoo_op_t op;
    zoo_check_op_init(&op, kept_path.c_str(), version);
    ops.push_back(op);
  }
};

// The path's elements; empty elements name the node reached so far and are dropped.
std::vector<std::string> Elements(const std::string& path) {
  std::vector<std::string> elements;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('\\', start), path.size());
    if (end > start) elements.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return elements;
}

// Follows `elements` from the root as the tree's lookups do (lowest position wins); stops at
// the first element that names no child. Returns the index of the last node reached and
// stores in `matched` how many elements were consumed.
int Walk(const std::vector<ReadNode>& nodes, const std::vector<std::string>& elements,
         std::size_t& matched) {
  int current = 0;
  for (matched = 0; matched < elements.size(); ++matched) {
    int next = -1;
    for (const int child : nodes[current].children) {
      if (nodes[child].key_name == elements[matched]) {
        next = child;
        break;
      }
    }
    if (next < 0) break;
    current = next;
  }
  return current;
}

// Finishes an edit: the root's new checksum and count, the version checks, the size check,
// the multi. Returns ZOK, a client error, or -1 with `result` set.
int Commit(Session& session, const std::string& znode, BuiltTree& built, Edit& edit,
           Tree_ZkRecord root_record, Tree_ZkResult& result) {
  root_record.checksum = static_cast<std::uint32_t>(built.handles[0]->GetChecksum());
  edit.SetData(built.nodes[0].path, EncodeRecord(root_record), built.nodes[0].data_version);
  edit.Check(znode, built.pointer_version);
  if (edit.bytes + 64 > session.Options().max_request_bytes) {
    result = Failed("the change to " + znode + " needs " + std::to_string(edit.bytes) +
                    " bytes in one request, more than the server's limit of " +
                    std::to_string(session.Options().max_request_bytes) + "; nothing was written");
    return -1;
  }
  return Multi(session, edit.ops);
}

// Runs `prepare` against freshly read trees until its multi commits or fails for a reason
// other than an overlapping change.
template <class Prepare>
Tree_ZkResult EditLoop(Session& session, const std::string& znode, const Prepare& prepare) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    BuiltTree built;
    Tree_ZkResult read = ReadCurrent(session, znode, false, built);
    if (!read) return read;
    Edit edit;
    Tree_ZkResult result;
    const int rc = prepare(built, edit, result);
    if (rc == ZOK) return Tree_ZkResult::Ok();
    if (rc == -1) return result;
    if (rc == ZNOAUTH) return Failed(NotAuthorised(znode));
    if (rc != ZBADVERSION && rc != ZNONODE && rc != ZNODEEXISTS) {
      return Failed("changing " + znode + " failed: " + ZkError(rc));
    }
  }
  return Failed("changing " + znode + " failed: other changes kept overlapping it");
}

}  // namespace

Tree_ZkResult PushOn(Session& session, const Tree_NodePtr& tree, const std::string& znode) {
  if (tree.get() == nullptr) return Failed("nothing to push to " + znode + ": no tree");
  if (Tree_ZkResult valid = CheckZnode(znode); !valid) return valid;

  // Every record is encoded, and checked against the request limit, before anything is sent.
  tree->ExecuteOnEntireSubtree([](Tree_Node* node) { node->SetChecksum(0, true, false); });
  Tree_ZkRecord root_record = RecordOf(tree.get());
  root_record.is_root = true;
  root_record.checksum = static_cast<std::uint32_t>(tree->GetChecksum());
  root_record.node_count = static_cast<std::uint32_t>(tree->GetNodeNum());
  root_record.key_name = tree->KeyName().str();
  const std::size_t version_path_size = znode.size() + 12;  // "/v" and 10 digits
  const std::size_t limit = session.Options().max_request_bytes;

  std::vector<CreateRequest> requests;  // paths relative to the version znode
  requests.push_back(CreateRequest{"", EncodeRecord(root_record)});
  std::vector<std::pair<Tree_Node*, std::size_t>> stack{{tree.get(), 0}};
  while (!stack.empty()) {
    const auto [node, request] = stack.back();
    stack.pop_back();
    const std::size_t bytes = RequestBytes(version_path_size + requests[request].path.size(),
                                           requests[request].data.size());
    if (bytes > limit) {
      return Failed("node '" + node->GetPath().str() + "' needs " + std::to_string(bytes) +
                    " bytes in one request, more than the server's limit of " +
                    std::to_string(limit) + "; nothing was written to " + znode);
    }
    const std::string parent_path = requests[request].path;
    const std::size_t first = requests.size();
    for (int i = 0; i < node->GetChildCount(); ++i) {
      Tree_Node* child = node->GetChildAt(i).get();
      requests.push_back(
          CreateRequest{parent_path + "/" +
                            EncodeChildName(static_cast<std::uint32_t>(i), child->KeyName().str()),
                        EncodeRecord(RecordOf(child))});
    }
    // Pre-order: the first child is visited next.
    for (std::size_t i = requests.size(); i-- > first;) {
      stack.emplace_back(node->GetChildAt(static_cast<int>(i - first)).get(), i);
    }
  }

  std::string old_version;
  struct Stat pointer_stat {};
  if (Tree_ZkResult pointer = ReadPointer(session, znode, true, false, old_version, pointer_stat);
      !pointer) {
    return pointer;
  }
  zhandle_t* zh = session.Handle();
  std::string version_path(version_path_size + 16, '\0');
  const std::string version_prefix = znode + "/v";
  int rc = zoo_create(zh, version_prefix.c_str(), requests[0].data.data(),
                      static_cast<int>(requests[0].data.size()), session.WriteAcl(), ZOO_SEQUENCE,
                      version_path.data(), static_cast<int>(version_path.size()));
  if (rc == ZNOAUTH) return Failed(NotAuthorised(znode));
  if (rc != ZOK) return Failed("push to " + znode + " failed: " + ZkError(rc));
  version_path.resize(version_path.find('\0'));
  const std::string version_name = version_path.substr(znode.size() + 1);

  std::vector<CreateRequest> below(requests.size() - 1);
  for (std::size_t i = 1; i < requests.size(); ++i) {
    below[i - 1] = CreateRequest{version_path + requests[i].path, std::move(requests[i].data)};
  }
  std::size_t created = 0;
  Tree_ZkResult written = CreateAll(session, below, created, rc);
  if (!written) {
    if (session.IsConnected()) DeleteTree(session, version_path);
    return Failed("push to " + znode + " failed after writing " + std::to_string(created + 1) +
                  " of " + std::to_string(requests.size()) + " nodes (" + written.message +
                  "); the previous tree is unchanged");
  }
  if (session.Options().before_switch) session.Options().before_switch();

  Edit edit;
  edit.Check(version_path, 0);
  edit.SetData(znode, EncodePointer(version_name), pointer_stat.version);
  rc = Multi(session, edit.ops);
  if (rc != ZOK) {
    if (session.IsConnected()) DeleteTree(session, version_path);
    if (rc == ZBADVERSION || rc == ZNONODE) {
      return Failed("concurrent push to " + znode +
                    " detected: it changed while this push was written; this push was "
                    "discarded");
    }
    if (rc == ZNOAUTH) return Failed(NotAuthorised(znode));
    return Failed("push to " + znode + " failed at the switch: " + ZkError(rc) +
                  "; the previous tree is unchanged");
  }

  // Older versions: the one replaced, and any left by pushes that failed or lost the race.
  // Sequence numbers only grow, so nothing newer than this push is touched.
  struct String_vector children {};
  if (zoo_get_children(zh, znode.c_str(), 0, &children) == ZOK) {
    for (int i = 0; i < children.count; ++i) {
      const std::string name = children.data[i];
      std::string parsed;
      std::string error;
      if (DecodePointer(name.data(), name.size(), parsed, error) && !parsed.empty() &&
          name < version_name) {
        if (Tree_ZkResult removed = DeleteTree(session, znode + "/" + name); !removed) {
          Log(3, "push to " + znode + " succeeded; " + removed.message);
        }
      }
    }
    deallocate_String_vector(&children);
  }
  return Tree_ZkResult::Ok();
}

Tree_ZkResult PullOn(Session& session, const std::string& znode, bool watch, Tree_NodePtr& tree) {
  if (Tree_ZkResult valid = CheckZnode(znode); !valid) return valid;
  BuiltTree built;
  Tree_ZkResult read = ReadCurrent(session, znode, watch, built);
  if (read) tree = built.handles[0];
  return read;
}

Tree_ZkResult SetOn(Session& session, const std::string& znode, const std::string& path,
                    const std::string& value) {
  if (Tree_ZkResult valid = CheckZnode(znode); !valid) return valid;
  const std::vector<std::string> elements = Elements(path);
  const std::size_t limit = session.Options().max_request_bytes;
  if (RequestBytes(znode.size() + path.size() * 3 + 32, value.size() + 16) > limit) {
    return Failed("the value for '" + path + "' needs more than the server's limit of " +
                  std::to_string(limit) + " bytes in one request; nothing was written to " + znode);
  }
  for (const std::string& element : elements) {
    if (Tree_Node(element).KeyName().str() != element) {
      return Failed("cannot set '" + path + "': key names cannot begin or end with blanks");
    }
  }
  return EditLoop(session, znode, [&](BuiltTree& built, Edit& edit, Tree_ZkResult& result) {
    std::size_t matched = 0;
    const int found = Walk(built.nodes, elements, matched);
    Tree_ZkRecord root_record = built.nodes[0].record;
    if (matched == elements.size()) {
      Tree_ZkRecord record = built.nodes[found].record;
      record.has_value = true;
      record.value = value;
      record.is_change = 1;
      Tree_Node* node = built.handles[found].get();
      delete node->SetTreeValue(new Tree_Value(value, 1));
      Invalidate(node);
      if (found == 0) {
        root_record = record;
      } else {
        edit.SetData(built.nodes[found].path, EncodeRecord(record),
                     built.nodes[found].data_version);
      }
    } else {
      if (built.nodes[found].record.is_leaf) {
        result = Failed("cannot set '" + path + "' in " + znode + ": '" +
                        built.handles[found]->GetPath().str() + "' is a leaf");
        return -1;
      }
      const std::vector<int>& siblings = built.nodes[found].children;
      std::uint32_t index = siblings.empty() ? 0 : built.nodes[siblings.back()].index + 1;
      std::string parent_path = built.nodes[found].path;
      Tree_NodePtr parent = built.handles[found];
      Invalidate(parent.get());
      for (std::size_t i = matched; i < elements.size(); ++i, index = 0) {
        const bool last = i + 1 == elements.size();
        Tree_ZkRecord record;
        record.is_leaf = record.has_value = last;
        record.value = last ? value : "";
        record.is_change = last ? 1 : 0;
        parent_path.append("/").append(EncodeChildName(index, elements[i]));
        edit.Create(session, parent_path, EncodeRecord(record));
        Tree_NodePtr child =
            last ? Tree_NodePtr(new Tree_Node(elements[i], new Tree_Value(value, 1)))
                 : Tree_NodePtr(new Tree_Node(elements[i]));
        parent->Add(child);
        parent = child;
        ++root_record.node_count;
      }
    }
    return Commit(session, znode, built, edit, root_record, result);
  });
}

Tree_ZkResult RemoveOn(Session& session, const std::string& znode, const std::string& path) {
  if (Tree_ZkResult valid = CheckZnode(znode); !valid) return valid;
  const std::vector<std::string> elements = Elements(path);
  if (elements.empty()) {
    return Failed("cannot remove the root of " + znode + "; push another tree instead");
  }
  return EditLoop(session, znode, [&](BuiltTree& built, Edit& edit, Tree_ZkResult& result) {
    std::size_t matched = 0;
    const int found = Walk(built.nodes, elements, matched);
    if (matched != elements.size()) {
      result = Failed("cannot remove '" + path + "' from " + znode + ": no such node");
      return -1;
    }
    std::vector<int> subtree{found};
    for (std::size_t i = 0; i < subtree.size(); ++i) {
      for (const int child : built.nodes[subtree[i]].children) subtree.push_back(child);
    }
    // Breadth-first indexes grow downwards: descending order deletes children first.
    std::sort(subtree.rbegin(), subtree.rend());
    for (const int node : subtree) edit.Delete(built.nodes[node].path);
    Tree_ZkRecord root_record = built.nodes[0].record;
    root_record.node_count -= static_cast<std::uint32_t>(subtree.size());
    Tree_Node* parent = built.handles[found]->GetParent();
    parent->Remove(built.handles[found]);
    Invalidate(parent);
    return Commit(session, znode, built, edit, root_record, result);
  });
}

}  // namespace tree_zk

// ---- Tree_ZkStore ------------------------------------------------------------------------

Tree_ZkStore::Tree_ZkStore(Tree_ZkOptions options)
    : m_session(std::make_unique<tree_zk::Session>(options)) {}

Tree_ZkStore::~Tree_ZkStore() = default;

Tree_ZkResult Tree_ZkStore::Connected() {
  if (m_session->IsConnected()) return Tree_ZkResult::Ok();
  Tree_ZkResult opened = m_session->Open();
  if (!opened) tree_zk::Log(3, opened.message);
  return opened;
}

Tree_ZkResult Tree_ZkStore::Push(const Tree_NodePtr& tree, const std::string& znode) {
  if (tree.get() == nullptr) return tree_zk::PushOn(*m_session, tree, znode);
  Tree_ZkResult connected = Connected();
  return connected ? tree_zk::PushOn(*m_session, tree, znode) : connected;
}

Tree_ZkResult Tree_ZkStore::Pull(const std::string& znode, Tree_NodePtr& tree) {
  Tree_ZkResult connected = Connected();
  return connected ? tree_zk::PullOn(*m_session, znode, false, tree) : connected;
}

Tree_ZkResult Tree_ZkStore::Set(const std::string& znode, const std::string& path,
                                const std::string& value) {
  Tree_ZkResult connected = Connected();
  return connected ? tree_zk::SetOn(*m_session, znode, path, value) : connected;
}

Tree_ZkResult Tree_ZkStore::Remove(const std::string& znode, const std::string& path) {
  Tree_ZkResult connected = Connected();
  return connected ? tree_zk::RemoveOn(*m_session, znode, path) : connected;
}

// ---- The tool's calls ----------------------------------------------------------------------

namespace tree_zk {

Tree_ZkResult Push(const Tree_ZkOptions& options, const Tree_NodePtr& tree,
                   const std::string& znode) {
  return Tree_ZkStore(options).Push(tree, znode);
}

Tree_ZkResult Pull(const Tree_ZkOptions& options, const std::string& znode, Tree_NodePtr& tree) {
  return Tree_ZkStore(options).Pull(znode, tree);
}

Tree_ZkResult Set(const Tree_ZkOptions& options, const std::string& znode, const std::string& path,
                  const std::string& value) {
  return Tree_ZkStore(options).Set(znode, path, value);
}

Tree_ZkResult Remove(const Tree_ZkOptions& options, const std::string& znode,
                     const std::string& path) {
  return Tree_ZkStore(options).Remove(znode, path);
}

}  // namespace tree_zk
