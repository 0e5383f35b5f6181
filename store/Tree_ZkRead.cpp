// Reading pointers and chunks, and building trees from chunks.
#include "store/Tree_ZkRead.h"

#include <deque>
#include <unordered_set>
#include <utility>

namespace tree_zk {

void ChunkCache::KeepOnly(const std::vector<ChunkId>& roots) {
  std::unordered_set<ChunkId, ChunkIdHash> reachable;
  std::vector<ChunkId> pending(roots.begin(), roots.end());
  while (!pending.empty()) {
    const ChunkId id = pending.back();
    pending.pop_back();
    const Entry* entry = Find(id);
    if (entry == nullptr || !reachable.insert(id).second) continue;
    for (const RefView& ref : entry->summary.refs) pending.push_back(ref.id);
  }
  for (auto it = chunks.begin(); it != chunks.end();) {
    it = reachable.count(it->first) != 0 ? std::next(it) : chunks.erase(it);
  }
}

Tree_Status CheckZnode(const std::string& znode) {
  if (znode.size() < 2 || znode[0] != '/' || znode.back() == '/' ||
      znode.find("//") != std::string::npos) {
    return Tree_Status(
        Tree_StatusCode::kInvalidInput,
        "invalid znode path '" + znode + "': it must start with '/' and name a znode");
  }
  return Tree_Status::Ok();
}

Tree_Status ReadPointer(Session& session, const std::string& znode, bool watch, bool& has_tree,
                        Pointer& pointer, struct Stat& stat, bool& retry) {
  has_tree = false;
  std::string data;
  int rc = session.Get(znode, watch, data, stat);
  if (rc == ZNONODE) {
    // Watch for its creation; a creation between the two calls is seen by the exists call.
    if (watch) {
      rc = session.Exists(znode, true, stat);
      if (rc == ZOK) {
        retry = true;
        return Tree_Status(Tree_StatusCode::kUnavailable, znode + " appeared while being read");
      }
    }
    if (rc == ZNONODE) return Tree_Status::Ok();
  }
  if (rc != ZOK) {
    retry = IsConnectionError(rc);
    return StatusFor(rc, "reading " + znode);
  }
  Tree_Status decoded = DecodePointer(data, has_tree, pointer);
  if (!decoded) return Tree_Status(decoded.Code(), znode + " " + decoded.Message());
  return Tree_Status::Ok();
}

namespace {

// Checks a chunk read for `id` and files it in `cache`.
Tree_Status Admit(const std::string& znode, const ChunkId& id, std::string bytes,
                  ChunkCache& cache) {
  if (HashChunk(bytes) != id) {
    return Tree_Status(Tree_StatusCode::kCorrupt,
                       "chunk " + ChunkName(id) + " of " + znode + " does not match its id");
  }
  ChunkCache::Entry entry;
  entry.bytes = std::move(bytes);
  auto [slot, inserted] = cache.chunks.emplace(id, std::move(entry));
  if (!inserted) return Tree_Status::Ok();
  // The summary's views point into the bytes where they now stay.
  Tree_Status valid = ValidateChunk(slot->second.bytes, slot->second.summary);
  if (!valid) {
    cache.chunks.erase(slot);
    return Tree_Status(Tree_StatusCode::kCorrupt,
                       "chunk " + ChunkName(id) + " of " + znode + ": " + valid.Message());
  }
  return Tree_Status::Ok();
}

}  // namespace

Tree_Status FetchChunks(Session& session, const std::string& znode, const std::vector<ChunkId>& ids,
                        ChunkCache& cache, bool& retry) {
  std::deque<Request> queue;
  std::vector<ChunkId> asked;
  for (const ChunkId& id : ids) {
    if (cache.Find(id) != nullptr) continue;
    Request request;
    request.path = ChunkPath(znode, id);
    request.tag = asked.size();
    asked.push_back(id);
    queue.push_back(std::move(request));
  }
  Tree_Status failure;
  const int issued = RunPipeline(session, queue, [&](const Reply& reply) {
    const ChunkId& id = asked[reply.tag];
    if (reply.rc == ZNONODE) {
      retry = true;
      failure = Tree_Status(Tree_StatusCode::kNotFound,
                            "chunk " + ChunkName(id) + " of " + znode + " is missing");
    } else if (reply.rc != ZOK) {
      retry = IsConnectionError(reply.rc);
      failure = StatusFor(reply.rc, "reading " + ChunkPath(znode, id));
    } else {
      failure = Admit(znode, id, reply.data, cache);
    }
    return failure.IsOk();
  });
  if (issued != ZOK && failure.IsOk()) {
    retry = IsConnectionError(issued);
    return StatusFor(issued, "reading the chunks of " + znode);
  }
  return failure;
}

Tree_Status FetchReachable(Session& session, const std::string& znode, const ChunkId& root,
                           ChunkCache& cache, bool& retry) {
  std::vector<ChunkId> level{root};
  std::unordered_set<ChunkId, ChunkIdHash> seen{root};
  while (!level.empty()) {
    if (Tree_Status fetched = FetchChunks(session, znode, level, cache, retry); !fetched) {
      return fetched;
    }
    std::vector<ChunkId> next;
    for (const ChunkId& id : level) {
      for (const RefView& ref : cache.Find(id)->summary.refs) {
        // Chunks held already were checked with everything below them; their references are
        // still checked against what they name once it is read.
        if (seen.insert(ref.id).second) next.push_back(ref.id);
      }
    }
    if (Tree_Status fetched = FetchChunks(session, znode, next, cache, retry); !fetched) {
      return fetched;
    }
    for (const ChunkId& id : level) {
      for (const RefView& ref : cache.Find(id)->summary.refs) {
        if (!RefMatches(ref, cache.Find(ref.id)->summary)) {
          return Tree_Status(Tree_StatusCode::kCorrupt,
                             "chunk " + ChunkName(id) + " of " + znode + " refers to chunk " +
                                 ChunkName(ref.id) + " with counts or names it does not have");
        }
      }
    }
    level.clear();
    for (const ChunkId& id : next) {
      if (!cache.Find(id)->summary.refs.empty()) level.push_back(id);
    }
  }
  const ChunkCache::Entry* top = cache.Find(root);
  if (top->summary.siblings != 1) {
    return Tree_Status(Tree_StatusCode::kCorrupt,
                       "the root chunk of " + znode + " holds more than one entry");
  }
  return Tree_Status::Ok();
}

std::vector<ItemView> ItemsOf(const EntryView& entry) {
  std::vector<ItemView> items;
  if (entry.leaf) return items;
  ByteReader reader{entry.items};
  const std::uint64_t count = reader.Varint();
  items.reserve(static_cast<std::size_t>(count));
  for (std::uint64_t i = 0; reader.ok && i < count; ++i) {
    ItemView item;
    item.is_ref = reader.Byte() == kItemRef;
    if (item.is_ref) {
      ReadRef(reader, item.ref);
    } else {
      ReadEntry(reader, item.entry);
    }
    items.push_back(std::move(item));
  }
  return items;
}

std::vector<EntryView> EntriesOf(const ChunkCache::Entry& chunk) {
  std::vector<EntryView> entries;
  ByteReader reader{chunk.bytes, 4};
  const std::uint64_t count = reader.Varint();
  for (std::uint64_t i = 0; reader.ok && i < count; ++i) {
    reader.Byte();
    entries.emplace_back();
    ReadEntry(reader, entries.back());
  }
  return entries;
}

Tree_Status RootEntry(const ChunkCache& cache, const ChunkId& root, EntryView& entry) {
  const ChunkCache::Entry* chunk = cache.Find(root);
  if (chunk == nullptr) return Tree_Status(Tree_StatusCode::kNotFound, "root chunk not read");
  const std::vector<EntryView> entries = EntriesOf(*chunk);
  if (entries.size() != 1) {
    return Tree_Status(Tree_StatusCode::kCorrupt, "the root chunk holds more than one entry");
  }
  entry = entries[0];
  return Tree_Status::Ok();
}

Tree_Status BuildEntry(const ChunkCache& cache, const EntryView& top, Tree_NodePtr& tree) {
  const auto make = [](const EntryView& entry) {
    Tree_NodePtr node(entry.leaf
                          ? new Tree_Node(std::string(entry.name),
                                          new Tree_Value(std::string(entry.value), entry.change))
                          : new Tree_Node(std::string(entry.name)));
    if (!entry.leaf && entry.has_value) {
      delete node->SetTreeValue(new Tree_Value(std::string(entry.value), entry.change));
    }
    node->SetKind(entry.kind);
    return node;
  };
  // One frame per open branch: its node and its items, spliced with the entries of the chunks
  // its references name, consumed from the front.
  struct Frame {
    Tree_NodePtr node;
    std::vector<ItemView> items;
    std::size_t next = 0;
  };
  std::vector<Frame> stack;
  tree = make(top);
  if (!top.leaf) stack.push_back({tree, ItemsOf(top)});
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next == frame.items.size()) {
      stack.pop_back();
      continue;
    }
    const ItemView item = frame.items[frame.next++];
    if (item.is_ref) {
      const ChunkCache::Entry* chunk = cache.Find(item.ref.id);
      if (chunk == nullptr) {
        return Tree_Status(Tree_StatusCode::kNotFound,
                           "chunk " + ChunkName(item.ref.id) + " is missing");
      }
      std::vector<ItemView> spliced;
      for (const EntryView& entry : EntriesOf(*chunk)) {
        ItemView each;
        each.entry = entry;
        spliced.push_back(std::move(each));
      }
      frame.items.insert(frame.items.begin() + static_cast<std::ptrdiff_t>(frame.next),
                         spliced.begin(), spliced.end());
      continue;
    }
    Tree_NodePtr child = make(item.entry);
    // Added while childless: Add never walks a long ancestry of an unfinished subtree.
    frame.node->Add(child);
    if (!item.entry.leaf) stack.push_back({child, ItemsOf(item.entry)});
  }
  return Tree_Status::Ok();
}

}  // namespace tree_zk
