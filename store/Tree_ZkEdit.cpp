// Pull, Set and Remove. An edit reads the pointer and only the chunks on the path to the node
// it changes (a reference whose listed names exclude the key is not read), changes the
// decoded part, cuts it again (unread parts stay references) and switches the pointer with a
// version check. Arrays stay arrays: a new child of an array must be its next index, and the
// removal of an element also reads the elements after it, to rename them.
#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_set>

#include "formats/Tree_JsonMapping.h"
#include "store/Tree_ZkOps.h"

namespace tree_zk {
namespace {

constexpr std::size_t kRequestOverhead = 512;

Tree_Status NoTree(const std::string& znode) {
  return Tree_Status(Tree_StatusCode::kNotFound, "no tree at " + znode);
}

// The names joined by backslashes, for messages.
std::string Joined(const std::vector<std::string>& names) {
  std::string path;
  for (const std::string& name : names) {
    if (!path.empty()) path += '\\';
    path += name;
  }
  return path;
}

// Refuses a name that no node can have: empty, or with a blank at either end.
Tree_Status CheckNames(const std::vector<std::string>& names, const char* what) {
  for (const std::string& name : names) {
    if (name.empty() || !Tree_Node::IsKeptKeyName(name)) {
      return Tree_Status(
          Tree_StatusCode::kInvalidInput,
          std::string("cannot ") + what + " '" + Joined(names) + "': " +
              (name.empty() ? "an empty name" : "key names cannot begin or end with blanks"));
    }
  }
  return Tree_Status::Ok();
}

// Appends the top-level entries of `chunk`, with everything inline below them, to `model`;
// returns their indexes.
std::vector<int> Decode(const ChunkCache::Entry& chunk, Model& model) {
  std::vector<int> tops;
  struct Frame {
    int node;
    std::vector<ItemView> items;
    std::size_t next = 0;
  };
  std::vector<Frame> stack;
  const auto add = [&](const EntryView& entry) {
    const int index = static_cast<int>(model.nodes.size());
    model.nodes.emplace_back();
    ModelNode& node = model.nodes.back();
    node.name = entry.name;
    node.value = entry.value;
    node.has_value = entry.has_value;
    node.leaf = entry.leaf;
    node.kind = entry.kind;
    node.change = entry.change;
    if (!entry.leaf) stack.push_back({index, ItemsOf(entry)});
    return index;
  };
  for (const EntryView& entry : EntriesOf(chunk)) {
    tops.push_back(add(entry));
    while (!stack.empty()) {
      Frame& frame = stack.back();
      if (frame.next == frame.items.size()) {
        stack.pop_back();
        continue;
      }
      const int parent = frame.node;
      const ItemView item = frame.items[frame.next++];
      if (item.is_ref) {
        ModelRef ref;
        ref.id = item.ref.id;
        ref.siblings = item.ref.siblings;
        ref.nodes = item.ref.nodes;
        ref.bytes = item.ref.bytes;
        ref.has_names = item.ref.has_names;
        ref.names = item.ref.names;
        model.refs.push_back(std::move(ref));
        model.nodes[static_cast<std::size_t>(parent)].items.push_back(
            ModelItem{-1, static_cast<int>(model.refs.size()) - 1});
      } else {
        const int child = add(item.entry);  // may grow the stack: `frame` is not used after
        model.nodes[static_cast<std::size_t>(parent)].items.push_back(ModelItem{child, -1});
      }
    }
  }
  return tops;
}

// The part of a stored tree an edit has read.
struct EditView {
  Pointer pointer;
  struct Stat stat {};
  Model model;
  std::unordered_set<ChunkId, ChunkIdHash> read;  // chunks the model came from
  std::vector<int> path;                          // nodes from the root to the last matched
};

// Replaces the reference that is item `at` of node `parent` by the top-level entries of its
// chunk, which `cache` holds, after checking the chunk against the reference.
Tree_Status Splice(const std::string& znode, const ChunkCache& cache, int parent, std::size_t at,
                   EditView& view) {
  const ModelRef ref = view.model.refs[view.model.nodes[parent].items[at].ref];
  const ChunkCache::Entry* chunk = cache.Find(ref.id);
  if (!RefMatches(ref, chunk->summary)) {
    return Tree_Status(Tree_StatusCode::kCorrupt, "chunk " + ChunkName(ref.id) + " of " + znode +
                                                      " does not match the reference to it");
  }
  view.read.insert(ref.id);
  const std::vector<int> tops = Decode(*chunk, view.model);  // grows the nodes
  std::vector<ModelItem>& items = view.model.nodes[parent].items;
  items.erase(items.begin() + static_cast<std::ptrdiff_t>(at));
  for (std::size_t k = 0; k < tops.size(); ++k) {
    items.insert(items.begin() + static_cast<std::ptrdiff_t>(at + k), ModelItem{tops[k], -1});
  }
  return Tree_Status::Ok();
}

// Decodes every reference among the items of node `parent` from item `from` on, reading
// their chunks in one pipeline, so that all of those children are nodes of the view.
Tree_Status ReadTail(Session& session, const std::string& znode, int parent, std::size_t from,
                     ChunkCache& cache, EditView& view, bool& retry) {
  std::vector<ChunkId> ids;
  const std::vector<ModelItem>& items = view.model.nodes[parent].items;
  for (std::size_t i = from; i < items.size(); ++i) {
    if (items[i].ref >= 0) ids.push_back(view.model.refs[items[i].ref].id);
  }
  if (ids.empty()) return Tree_Status::Ok();
  if (Tree_Status fetched = FetchChunks(session, znode, ids, cache, retry); !fetched) {
    return fetched;
  }
  for (std::size_t i = from; i < view.model.nodes[parent].items.size();) {
    if (view.model.nodes[parent].items[i].ref < 0) {
      ++i;
    } else if (Tree_Status spliced = Splice(znode, cache, parent, i, view); !spliced) {
      return spliced;
    }
  }
  return Tree_Status::Ok();
}

// The position among the children of node `parent` of its item `at` (a reference stands for
// the siblings its chunk holds); with `at` past the last item, the number of children.
std::uint64_t PositionOf(const Model& model, int parent, std::size_t at) {
  std::uint64_t position = 0;
  const std::vector<ModelItem>& items = model.nodes[parent].items;
  for (std::size_t i = 0; i < at; ++i) {
    position += items[i].node >= 0 ? 1 : model.refs[items[i].ref].siblings;
  }
  return position;
}

// Reads the pointer and the root chunk, then follows `elements` as the tree's lookups do (the
// lowest position wins among equal names), reading a referenced chunk only when its listed
// names include the key or it lists none. Stops at the first element that names no child.
Tree_Status Follow(Session& session, const std::string& znode,
                   const std::vector<std::string>& elements, ChunkCache& cache, EditView& view,
                   bool& retry) {
  bool has_tree = false;
  Tree_Status read = ReadPointer(session, znode, false, has_tree, view.pointer, view.stat, retry);
  if (!read) return read;
  if (!has_tree) return NoTree(znode);
  if (Tree_Status fetched = FetchChunks(session, znode, {view.pointer.root}, cache, retry);
      !fetched) {
    return fetched;
  }
  const ChunkCache::Entry* root = cache.Find(view.pointer.root);
  if (root->summary.siblings != 1 || root->summary.nodes != view.pointer.node_count) {
    return Tree_Status(Tree_StatusCode::kCorrupt,
                       "the root chunk of " + znode + " does not match its pointer");
  }
  view.read.insert(view.pointer.root);
  view.model.root = Decode(*root, view.model)[0];
  view.path = {view.model.root};
  for (const std::string& element : elements) {
    const int current = view.path.back();
    int found = -1;
    for (std::size_t i = 0; found < 0 && i < view.model.nodes[current].items.size(); ++i) {
      const ModelItem item = view.model.nodes[current].items[i];
      if (item.node >= 0) {
        if (view.model.nodes[item.node].name == element) found = item.node;
        continue;
      }
      const ModelRef ref = view.model.refs[item.ref];
      if (ref.has_names &&
          std::find(ref.names.begin(), ref.names.end(), element) == ref.names.end()) {
        continue;
      }
      if (Tree_Status fetched = FetchChunks(session, znode, {ref.id}, cache, retry); !fetched) {
        return fetched;
      }
      if (Tree_Status spliced = Splice(znode, cache, current, i, view); !spliced) return spliced;
      --i;  // look at the first spliced entry next
    }
    if (found < 0) break;
    view.path.push_back(found);
  }
  return Tree_Status::Ok();
}

// The display path of the first `count` nodes of the view's path.
std::string PathText(const EditView& view, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) text += '\\';
    text += view.model.nodes[view.path[i]].name;
  }
  return text;
}

// Cuts the edited view, writes the chunks it did not read and switches the pointer.
Tree_Status Commit(Session& session, const std::string& znode, EditView& view, bool& retry) {
  const Tree_ZkOptions& options = session.Options();
  const std::size_t limit = options.max_request_bytes -
                            std::min(options.max_request_bytes, znode.size() + kRequestOverhead);
  CutResult result;
  if (Tree_Status cut = Cut(view.model, std::min(options.chunk_bytes, limit), limit, result);
      !cut) {
    return Tree_Status(cut.Code(), cut.Message() + "; nothing was written to " + znode);
  }
  std::deque<Request> queue;
  std::unordered_set<ChunkId, ChunkIdHash> queued;
  for (const Chunk& chunk : result.chunks) {
    if (view.read.count(chunk.id) != 0 || !queued.insert(chunk.id).second) continue;
    Request request;
    request.kind = Request::Kind::kCreate;
    request.path = ChunkPath(znode, chunk.id);
    request.data = chunk.bytes;
    request.acl = session.TreeAcl();
    queue.push_back(std::move(request));
  }
  int failed = ZOK;
  const int issued = RunPipeline(session, queue, [&](const Reply& reply) {
    if (reply.rc == ZOK || reply.rc == ZNODEEXISTS) return true;
    failed = reply.rc;
    return false;
  });
  if (failed == ZOK) failed = issued;
  if (failed != ZOK) {
    retry = IsConnectionError(failed);
    return StatusFor(failed, "writing the chunks of " + znode, ChunksPath(znode));
  }
  const std::string data =
      EncodePointer(NextPointer(true, view.pointer, result.chunks.back().id, result.node_count,
                                session.Options().gc_grace_ms));
  std::vector<zoo_op_t> ops(1);
  zoo_set_op_init(&ops[0], znode.c_str(), data.data(), static_cast<int>(data.size()),
                  view.stat.version, nullptr);
  const int rc = session.Multi(ops);
  if (rc == ZOK) return Tree_Status::Ok();
  retry = rc == ZBADVERSION || IsConnectionError(rc);
  if (rc == ZBADVERSION) {
    return Tree_Status(Tree_StatusCode::kConflict,
                       "changing " + znode + " failed: other changes kept overlapping it");
  }
  return StatusFor(rc, "switching " + znode);
}

}  // namespace

std::vector<std::string> PathNames(const std::string& path) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('\\', start), path.size());
    if (end > start) names.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

Tree_Status PullOn(Session& session, const std::string& znode, ChunkCache& cache,
                   Tree_NodePtr& tree, bool& retry) {
  bool has_tree = false;
  Pointer pointer;
  struct Stat stat {};
  Tree_Status read = ReadPointer(session, znode, false, has_tree, pointer, stat, retry);
  if (!read) return read;
  if (!has_tree) return NoTree(znode);
  if (Tree_Status counted = CheckNodeCount(session, znode, pointer, nullptr); !counted) {
    return counted;
  }
  if (Tree_Status fetched = FetchReachable(session, znode, pointer.root, cache, retry); !fetched) {
    return fetched;
  }
  if (Tree_Status counted = CheckNodeCount(session, znode, pointer, &cache); !counted) {
    return counted;
  }
  EntryView root;
  if (Tree_Status found = RootEntry(cache, pointer.root, root); !found) return found;
  return BuildEntry(cache, root, tree);
}

Tree_Status SetOn(Session& session, const std::string& znode,
                  const std::vector<std::string>& elements, const std::string& value,
                  bool force_string, ChunkCache& cache, bool& retry) {
  if (Tree_Status named = CheckNames(elements, "set"); !named) return named;
  const std::string path = Joined(elements);
  EditView view;
  if (Tree_Status followed = Follow(session, znode, elements, cache, view, retry); !followed) {
    return followed;
  }
  Model& model = view.model;
  const std::size_t matched = view.path.size() - 1;
  if (matched == elements.size()) {
    ModelNode& node = model.nodes[view.path.back()];
    node.kind = Tree_JsonMapping::KindAfterSet(node.kind, value, force_string);
    node.value = model.Keep(value);
    node.has_value = true;
    node.change = 1;
  } else {
    if (model.nodes[view.path.back()].leaf) {
      return Tree_Status(Tree_StatusCode::kInvalidInput,
                         "cannot set '" + path + "' in " + znode + ": '" +
                             PathText(view, view.path.size()) + "' is a leaf");
    }
    int parent = view.path.back();
    if (model.nodes[parent].kind == Tree_NodeKind::kArray) {
      // An array stays one: its children keep the names 0..n-1, so it grows by appends only.
      const std::uint64_t count = PositionOf(model, parent, model.nodes[parent].items.size());
      if (elements[matched] != std::to_string(count)) {
        return Tree_Status(Tree_StatusCode::kInvalidInput,
                           "cannot set '" + path + "' in " + znode + ": '" +
                               PathText(view, view.path.size()) + "' is an array of " +
                               std::to_string(count) + (count == 1 ? " element" : " elements") +
                               "; a new element must be named " + std::to_string(count));
      }
    }
    for (std::size_t i = matched; i < elements.size(); ++i) {
      const bool last = i + 1 == elements.size();
      ModelNode node;
      node.name = model.Keep(elements[i]);
      node.leaf = node.has_value = last;
      if (last) {
        node.value = model.Keep(value);
        node.change = 1;
        node.kind = Tree_JsonMapping::KindOfNewValue(value, force_string);
      } else if (model.nodes[parent].kind != Tree_NodeKind::kUntyped) {
        node.kind = Tree_NodeKind::kObject;  // a typed tree stays typed
      }
      const int index = static_cast<int>(model.nodes.size());
      model.nodes.push_back(std::move(node));
      model.nodes[parent].items.push_back(ModelItem{index, -1});
      parent = index;
    }
  }
  return Commit(session, znode, view, retry);
}

Tree_Status RemoveOn(Session& session, const std::string& znode,
                     const std::vector<std::string>& elements, ChunkCache& cache, bool& retry) {
  if (Tree_Status named = CheckNames(elements, "remove"); !named) return named;
  const std::string path = Joined(elements);
  if (elements.empty()) {
    return Tree_Status(Tree_StatusCode::kInvalidInput,
                       "cannot remove the root of " + znode + "; push another tree instead");
  }
  EditView view;
  if (Tree_Status followed = Follow(session, znode, elements, cache, view, retry); !followed) {
    return followed;
  }
  if (view.path.size() - 1 != elements.size()) {
    return Tree_Status(Tree_StatusCode::kNotFound,
                       "cannot remove '" + path + "' from " + znode + ": no such node");
  }
  Model& model = view.model;
  const int doomed = view.path.back();
  const int parent = view.path[view.path.size() - 2];
  const std::vector<ModelItem>& found = model.nodes[parent].items;
  const std::size_t at = static_cast<std::size_t>(
      std::find_if(found.begin(), found.end(),
                   [&](const ModelItem& item) { return item.node == doomed; }) -
      found.begin());
  const std::uint64_t position = PositionOf(model, parent, at);
  if (model.nodes[parent].kind == Tree_NodeKind::kArray &&
      model.nodes[doomed].name == std::to_string(position)) {
    // The elements after it move down one place and are renamed to match: all of them are
    // read and written again, the price of keeping the names 0..n-1.
    if (Tree_Status read = ReadTail(session, znode, parent, at + 1, cache, view, retry); !read) {
      return read;
    }
    const std::vector<ModelItem>& tail = model.nodes[parent].items;
    for (std::size_t i = at + 1; i < tail.size(); ++i) {
      ModelNode& element = model.nodes[tail[i].node];
      const std::uint64_t old_position = position + (i - at);
      if (element.name == std::to_string(old_position)) {
        element.name = model.Keep(std::to_string(old_position - 1));
      }
    }
  }
  std::vector<ModelItem>& items = model.nodes[parent].items;
  items.erase(items.begin() + static_cast<std::ptrdiff_t>(at));
  return Commit(session, znode, view, retry);
}

}  // namespace tree_zk
