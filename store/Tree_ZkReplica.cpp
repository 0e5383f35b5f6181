// Tree_ZkReplica: a thread that reads the znode's tree whenever a watch or the session says
// something may have changed, and applies the difference to the local tree.
#include <algorithm>
#include <chrono>
#include <deque>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "store/Tree_ZkOps.h"
#include "store/Tree_ZkReplica.h"
#include "store/Tree_ZkRetry.h"

namespace {

bool SameValue(const Tree_Value* a, const Tree_Value* b) {
  if (a == nullptr || b == nullptr) return a == b;
  return a->Value().str() == b->Value().str();
}

// Gives every value below `node` change flag 1: the whole subtree is new to the host.
void MarkChanged(const Tree_NodePtr& node) {
  node->ExecuteOnEntireSubtree([](Tree_Node* each) {
    if (Tree_Value* value = each->GetTreeValue(); value != nullptr) value->SetIsChange(1);
  });
}

// A change's node: its path and its names below the top node.
void Locate(const Tree_Node* node, Tree_ZkChange& change) {
  change.path = node->GetPath().str();
  for (const Tree_Node* at = node; at->GetParent() != nullptr; at = at->GetParent()) {
    change.names.push_back(at->KeyName().str());
  }
  std::reverse(change.names.begin(), change.names.end());
}

Tree_ZkChange ValueChange(const Tree_Node* node, const Tree_Value* before,
                          const Tree_Value* after) {
  Tree_ZkChange change;
  change.kind = Tree_ZkChange::Kind::kValue;
  Locate(node, change);
  change.had_value = before != nullptr;
  if (before != nullptr) change.old_value = before->Value().str();
  change.has_value = after != nullptr;
  if (after != nullptr) change.new_value = after->Value().str();
  return change;
}

Tree_ZkChange NodeChange(Tree_ZkChange::Kind kind, Tree_Node* node) {
  Tree_ZkChange change;
  change.kind = kind;
  Locate(node, change);
  if (const Tree_Value* value = node->GetTreeValue(); value != nullptr) {
    (kind == Tree_ZkChange::Kind::kAdded ? change.has_value : change.had_value) = true;
    (kind == Tree_ZkChange::Kind::kAdded ? change.new_value : change.old_value) =
        value->Value().str();
  }
  return change;
}

// Makes `local` equal to `remote` node for node. Children are aligned by name: a local child
// whose name the remote still lists further on stays, so one insertion or removal changes one
// slot and not every slot after it, and the nodes the host holds stay in the tree. A child of
// the same name but another kind (leaf or branch) is replaced. Remote nodes that are taken in
// are moved, not copied. Appends what changed to `changes`, a node's own changes before its
// children's. Uses an explicit stack: no recursion on the depth.
void Reconcile(Tree_Node* local_top, Tree_Node* remote_top, std::vector<Tree_ZkChange>& changes) {
  // The steps for one node's children are planned on a list of its slots, then run in slot
  // order, each child's subtree before the next slot's step, so `changes` is in pre-order.
  struct Step {
    enum Kind { kCompare, kDrop, kTakeIn } kind;
    Tree_Node* local;   // kCompare: the node; kDrop, kTakeIn: the parent
    Tree_Node* remote;  // kCompare only
    int slot;
    Tree_NodePtr incoming;  // kTakeIn: the remote node moved in
  };
  std::vector<Step> pending{{Step::kCompare, local_top, remote_top, 0, Tree_NodePtr()}};
  std::vector<Step> planned;
  std::vector<Tree_NodePtr> theirs;
  std::vector<Tree_Node*> slots;
  std::unordered_map<std::string_view, int> names_ahead;
  while (!pending.empty()) {
    Step step = std::move(pending.back());
    pending.pop_back();
    Tree_Node* const local = step.local;
    if (step.kind == Step::kDrop) {
      changes.push_back(
          NodeChange(Tree_ZkChange::Kind::kRemoved, local->GetChildAt(step.slot).get()));
      local->Remove(step.slot);
      continue;
    }
    if (step.kind == Step::kTakeIn) {
      MarkChanged(step.incoming);
      local->Insert(step.incoming, step.slot);
      changes.push_back(NodeChange(Tree_ZkChange::Kind::kAdded, step.incoming.get()));
      continue;
    }
    Tree_Node* const remote = step.remote;
    Tree_Value* const before = local->GetTreeValue();
    const Tree_Value* const after = remote->GetTreeValue();
    if (!SameValue(before, after)) {
      changes.push_back(ValueChange(local, before, after));
      if (after == nullptr) {
        delete local->SetTreeValue(nullptr);
      } else if (before != nullptr) {
        before->SetValue(after->Value());
        before->SetIsChange(1);
      } else {
        delete local->SetTreeValue(new Tree_Value(after->Value(), 1));
      }
    }
    // Taking a remote child in moves it out of `remote`: the plan holds its handles.
    theirs.clear();
    names_ahead.clear();
    for (int i = 0; i < remote->GetChildCount(); ++i) {
      theirs.push_back(remote->GetChildAt(i));
      ++names_ahead[theirs.back()->KeyName().view()];
    }
    slots.clear();
    for (int i = 0; i < local->GetChildCount(); ++i) slots.push_back(local->GetChildAt(i).get());
    planned.clear();
    const auto take_in = [&](int slot, const Tree_NodePtr& incoming) {
      planned.push_back({Step::kTakeIn, local, nullptr, slot, incoming});
      slots.insert(slots.begin() + slot, incoming.get());
    };
    const auto drop = [&](int slot) {
      planned.push_back({Step::kDrop, local, nullptr, slot, Tree_NodePtr()});
      slots.erase(slots.begin() + slot);
    };
    for (int slot = 0; slot < static_cast<int>(theirs.size()); ++slot) {
      const Tree_NodePtr& next = theirs[static_cast<std::size_t>(slot)];
      --names_ahead[next->KeyName().view()];
      for (;;) {
        if (slot >= static_cast<int>(slots.size())) {
          take_in(slot, next);
          break;
        }
        Tree_Node* const mine = slots[static_cast<std::size_t>(slot)];
        if (mine->KeyName() == next->KeyName()) {
          if (mine->IsLeaf() == next->IsLeaf()) {
            planned.push_back({Step::kCompare, mine, next.get(), slot, Tree_NodePtr()});
          } else {
            drop(slot);
            take_in(slot, next);
          }
          break;
        }
        const auto ahead = names_ahead.find(mine->KeyName().view());
        if (ahead != names_ahead.end() && ahead->second > 0) {
          take_in(slot, next);  // new, before a child that comes later
          break;
        }
        drop(slot);  // gone from the remote tree
      }
    }
    while (slots.size() > theirs.size()) drop(static_cast<int>(slots.size()) - 1);
    pending.insert(pending.end(), std::make_move_iterator(planned.rbegin()),
                   std::make_move_iterator(planned.rend()));
  }
}

// Clears the cached checksum of each node in `touched` and of its ancestors, each once.
void InvalidateChecksums(const std::vector<Tree_Node*>& touched) {
  std::unordered_set<Tree_Node*> done;
  for (Tree_Node* node : touched) {
    for (; node != nullptr && done.insert(node).second; node = node->GetParent()) {
      node->SetChecksum(0, true, false);
    }
  }
}

// Makes the subtree under `local_top`, which equals the tree of entry `old_top`, equal to the
// tree of entry `new_top`, reading only what differs: an entry whose bytes are unchanged is
// skipped whole (its bytes hold the ids of every chunk below it), and a reference that both
// sides of a node hold stands for the same local children, which are neither read nor
// compared. Children are aligned by name as Reconcile aligns them, so the nodes the host holds
// stay. `cache` holds the chunks of both trees. Where the local children do not match the old
// entry (the host changed them), that node is reconciled with its new subtree built whole.
// Appends what changed to `changes` and the nodes whose checksums are stale to `touched`.
void Patch(const tree_zk::ChunkCache& cache, Tree_Node* local_top,
           const tree_zk::EntryView& old_top, const tree_zk::EntryView& new_top,
           std::vector<Tree_ZkChange>& changes, std::vector<Tree_Node*>& touched) {
  using tree_zk::ChunkId;
  using tree_zk::EntryView;
  using tree_zk::ItemView;
  // Steps run in order, each matched child's subtree before the next slot's step, so that
  // `changes` is in pre-order. Slots are the parent's child indexes when the step runs.
  struct Work {
    enum Kind { kCompare, kDrop, kTakeIn, kMove } kind;
    Tree_Node* local;  // kCompare: the node; otherwise the parent
    EntryView old_entry;
    EntryView new_entry;  // kCompare, kTakeIn
    int slot = 0;
    int from = 0;  // kMove
  };
  const auto take_in = [&](Tree_Node* parent, int slot, const EntryView& entry) {
    Tree_NodePtr node;
    tree_zk::BuildEntry(cache, entry, node);  // the chunks were checked when read
    MarkChanged(node);
    parent->Insert(node, slot);
    changes.push_back(NodeChange(Tree_ZkChange::Kind::kAdded, node.get()));
  };
  const auto drop = [&](Tree_Node* parent, int slot) {
    changes.push_back(NodeChange(Tree_ZkChange::Kind::kRemoved, parent->GetChildAt(slot).get()));
    parent->Remove(slot);
  };
  std::vector<Work> pending{{Work::kCompare, local_top, old_top, new_top}};
  std::vector<Work> planned;
  std::vector<Tree_Node*> slots;
  while (!pending.empty()) {
    const Work work = pending.back();
    pending.pop_back();
    Tree_Node* const local = work.local;
    if (work.kind == Work::kDrop) {
      drop(local, work.slot);
      continue;
    }
    if (work.kind == Work::kTakeIn) {
      take_in(local, work.slot, work.new_entry);
      continue;
    }
    if (work.kind == Work::kMove) {
      const Tree_NodePtr moved = local->GetChildAt(work.from);
      local->Remove(work.from);
      local->Insert(moved, work.slot);
      continue;
    }
    const EntryView& before_entry = work.old_entry;
    const EntryView& entry = work.new_entry;
    if (before_entry.whole == entry.whole) continue;

    Tree_Value* const before = local->GetTreeValue();
    const bool same = before == nullptr ? !entry.has_value
                                        : entry.has_value && before->Value().view() == entry.value;
    if (!same) {
      Tree_ZkChange change;
      change.kind = Tree_ZkChange::Kind::kValue;
      Locate(local, change);
      change.had_value = before != nullptr;
      if (before != nullptr) change.old_value = before->Value().str();
      change.has_value = entry.has_value;
      change.new_value = std::string(entry.value);
      changes.push_back(std::move(change));
      if (!entry.has_value) {
        delete local->SetTreeValue(nullptr);
      } else if (before != nullptr) {
        before->SetValue(std::string(entry.value));
        before->SetIsChange(1);
      } else {
        delete local->SetTreeValue(new Tree_Value(std::string(entry.value), 1));
      }
      touched.push_back(local);
    }
    if (local->GetKind() != entry.kind) local->SetKind(entry.kind);
    if (entry.leaf) continue;

    // References both sides hold at this node, matched in order of occurrence.
    const std::vector<ItemView> old_items = tree_zk::ItemsOf(before_entry);
    const std::vector<ItemView> new_items = tree_zk::ItemsOf(entry);
    std::unordered_map<ChunkId, int, tree_zk::ChunkIdHash> shared;
    {
      std::unordered_map<ChunkId, int, tree_zk::ChunkIdHash> in_new;
      for (const ItemView& item : new_items) {
        if (item.is_ref) ++in_new[item.ref.id];
      }
      for (const ItemView& item : old_items) {
        if (!item.is_ref) continue;
        const auto found = in_new.find(item.ref.id);
        if (found != in_new.end() && found->second > 0) {
          --found->second;
          ++shared[item.ref.id];
        }
      }
    }
    // The old children: entries, or (null) children a shared reference stands for.
    std::vector<const EntryView*> olds;
    std::deque<EntryView> expanded;
    std::unordered_map<ChunkId, std::vector<std::size_t>, tree_zk::ChunkIdHash> shared_at;
    bool matches = true;
    const auto entries_of = [&](const ChunkId& id) {
      const tree_zk::ChunkCache::Entry* chunk = cache.Find(id);
      std::vector<EntryView> entries;
      if (chunk != nullptr) entries = tree_zk::EntriesOf(*chunk);
      return entries;
    };
    for (const ItemView& item : old_items) {
      if (!item.is_ref) {
        expanded.push_back(item.entry);
        olds.push_back(&expanded.back());
        continue;
      }
      std::vector<std::size_t>& starts = shared_at[item.ref.id];
      const auto found = shared.find(item.ref.id);
      if (found != shared.end() && static_cast<int>(starts.size()) < found->second) {
        starts.push_back(olds.size());
        olds.insert(olds.end(), static_cast<std::size_t>(item.ref.siblings), nullptr);
        continue;
      }
      const std::vector<EntryView> entries = entries_of(item.ref.id);
      matches = matches && entries.size() == item.ref.siblings;
      for (const EntryView& each : entries) {
        expanded.push_back(each);
        olds.push_back(&expanded.back());
      }
    }
    std::vector<Tree_Node*> locals;
    matches = matches && static_cast<std::size_t>(local->GetChildCount()) == olds.size();
    for (std::size_t i = 0; matches && i < olds.size(); ++i) {
      locals.push_back(local->GetChildAt(static_cast<int>(i)).get());
      matches = olds[i] == nullptr || (locals[i]->KeyName().view() == olds[i]->name &&
                                       (locals[i]->IsLeaf() != 0) == olds[i]->leaf);
    }
    if (!matches) {
      Tree_NodePtr remote;
      tree_zk::BuildEntry(cache, entry, remote);
      Reconcile(local, remote.get(), changes);
      local->ExecuteOnEntireSubtree([&](Tree_Node* node) { touched.push_back(node); });
      continue;
    }
    // The new children: an entry, or the local child a shared reference keeps.
    struct Target {
      Tree_Node* keep = nullptr;
      const EntryView* entry = nullptr;
    };
    std::vector<Target> targets;
    std::unordered_map<ChunkId, std::size_t, tree_zk::ChunkIdHash> used;
    for (const ItemView& item : new_items) {
      if (!item.is_ref) {
        expanded.push_back(item.entry);
        targets.push_back({nullptr, &expanded.back()});
        continue;
      }
      const auto starts = shared_at.find(item.ref.id);
      std::size_t& next = used[item.ref.id];
      if (starts != shared_at.end() && next < starts->second.size()) {
        const std::size_t start = starts->second[next++];
        for (std::uint64_t k = 0; k < item.ref.siblings; ++k)
          targets.push_back({locals[start + static_cast<std::size_t>(k)], nullptr});
        continue;
      }
      for (const EntryView& each : entries_of(item.ref.id)) {
        expanded.push_back(each);
        targets.push_back({nullptr, &expanded.back()});
      }
    }
    std::unordered_map<Tree_Node*, const EntryView*> old_of;
    for (std::size_t i = 0; i < locals.size(); ++i) old_of[locals[i]] = olds[i];
    std::unordered_map<std::string_view, int> names_ahead;
    for (const Target& target : targets) {
      if (target.entry != nullptr) ++names_ahead[target.entry->name];
    }
    const auto ahead = [&](Tree_Node* node) {
      const auto found = names_ahead.find(node->KeyName().view());
      return found != names_ahead.end() && found->second > 0;
    };
    planned.clear();
    slots = locals;
    const auto plan_take_in = [&](int slot, const EntryView& incoming) {
      planned.push_back({Work::kTakeIn, local, {}, incoming, slot});
      slots.insert(slots.begin() + slot, nullptr);  // a new node: never matched again
    };
    const auto plan_drop = [&](int slot) {
      planned.push_back({Work::kDrop, local, {}, {}, slot});
      slots.erase(slots.begin() + slot);
    };
    const int count = static_cast<int>(targets.size());
    for (int slot = 0; slot < count; ++slot) {
      const Target& target = targets[static_cast<std::size_t>(slot)];
      if (target.entry != nullptr) --names_ahead[target.entry->name];
      for (;;) {
        if (slot >= static_cast<int>(slots.size())) {
          if (target.entry == nullptr) break;  // not reached: kept children are never dropped
          plan_take_in(slot, *target.entry);
          break;
        }
        Tree_Node* const mine = slots[static_cast<std::size_t>(slot)];
        const auto old = old_of.find(mine);
        const bool kept = old != old_of.end() && old->second == nullptr;
        if (target.keep != nullptr) {
          if (mine == target.keep) break;
          if (mine != nullptr && !kept && !ahead(mine)) {
            plan_drop(slot);
            continue;
          }
          const auto from = std::find(slots.begin() + slot, slots.end(), target.keep);
          if (from == slots.end()) break;  // not reached, as above
          planned.push_back(
              {Work::kMove, local, {}, {}, slot, static_cast<int>(from - slots.begin())});
          slots.erase(from);
          slots.insert(slots.begin() + slot, target.keep);
          break;
        }
        if (mine != nullptr && !kept && old != old_of.end() &&
            mine->KeyName().view() == target.entry->name) {
          if ((mine->IsLeaf() != 0) == target.entry->leaf) {
            planned.push_back({Work::kCompare, mine, *old->second, *target.entry});
          } else {
            plan_drop(slot);
            plan_take_in(slot, *target.entry);
          }
          break;
        }
        if (mine == nullptr || kept || ahead(mine)) {
          plan_take_in(slot, *target.entry);
          break;
        }
        plan_drop(slot);
      }
    }
    while (static_cast<int>(slots.size()) > count) plan_drop(static_cast<int>(slots.size()) - 1);
    if (std::any_of(planned.begin(), planned.end(),
                    [](const Work& step) { return step.kind != Work::kCompare; })) {
      touched.push_back(local);
    }
    pending.insert(pending.end(), planned.rbegin(), planned.rend());
  }
}

}  // namespace

Tree_ZkReplica::Tree_ZkReplica(Tree_ZkOptions options, std::string znode, Listener listener)
    : m_options(std::move(options)),
      m_znode(std::move(znode)),
      m_listener(std::move(listener)),
      m_cache(std::make_unique<tree_zk::ChunkCache>()) {}

Tree_ZkReplica::~Tree_ZkReplica() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop = true;
    m_changed.notify_all();
  }
  if (m_thread.joinable()) m_thread.join();
  std::lock_guard<std::mutex> write(m_write_mutex);
  m_session.reset();
}

Tree_Status Tree_ZkReplica::Start() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_thread.joinable()) {
      m_session = std::make_unique<tree_zk::Session>(
          m_options, [this](int type, int state, const char* /*path*/) { OnEvent(type, state); });
      m_thread = std::thread(&Tree_ZkReplica::Run, this);
    }
  }
  std::unique_lock<std::mutex> lock(m_mutex);
  // The first attempt to connect takes up to the timeout; the first read follows it.
  m_changed.wait_for(lock, std::chrono::milliseconds(2 * m_options.timeout_ms + 1000),
                     [this] { return m_current || !m_last_status.IsOk(); });
  if (m_current) return Tree_Status::Ok();
  if (m_last_status.IsOk()) {
    return Tree_Status(Tree_StatusCode::kUnavailable, "replica of " + m_znode + " not current");
  }
  return m_last_status;
}

void Tree_ZkReplica::OnEvent(int type, int state) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (type == ZOO_SESSION_EVENT) {
    if (state == ZOO_CONNECTED_STATE) {
      // Watches come back with the session, but a read after every reconnection also covers
      // what a restarted server lost.
      m_connected = true;
      m_dirty = true;
    } else if (state == ZOO_EXPIRED_SESSION_STATE || state == ZOO_AUTH_FAILED_STATE) {
      m_connected = false;
      m_expired = true;
    } else {
      m_connected = false;
    }
  } else {
    m_dirty = true;
  }
  m_current = false;
  m_changed.notify_all();
}

void Tree_ZkReplica::Run() {
  bool open = false;
  // Failed reads back off exponentially up to a few seconds; a pointer event ends the wait.
  tree_zk::RetryPolicy backoff(0, 50, 4000);
  while (true) {
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_changed.wait(lock,
                     [&] { return m_stop || m_expired || !open || (m_dirty && m_connected); });
      if (m_stop) return;
    }
    bool expired = false;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      expired = m_expired;
    }
    if (!open || expired) {
      if (expired && open) {
        tree_zk::Log(4, __LINE__,
                     "the session of the replica of " + m_znode +
                         " expired; opening a new one and reading the tree again");
      }
      Tree_Status opened;
      {
        std::lock_guard<std::mutex> write(m_write_mutex);
        opened = m_session->Open();
      }
      std::unique_lock<std::mutex> lock(m_mutex);
      if (!opened) {
        m_last_status = opened;
        m_current = false;
        m_changed.notify_all();
        m_changed.wait_for(lock, backoff.NextDelay(), [this] { return m_stop; });
        continue;
      }
      open = true;
      m_expired = false;
      m_connected = true;
      m_dirty = true;
    }
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (!m_dirty || !m_connected) continue;
      m_dirty = false;
      m_syncing = true;
    }
    const Tree_Status synced = Resync();
    std::unique_lock<std::mutex> lock(m_mutex);
    m_syncing = false;
    if (synced) {
      m_last_status = Tree_Status::Ok();
      m_current = !m_dirty && m_connected;
      backoff.Reset();
    } else {
      if (synced.Message() != m_last_status.Message()) tree_zk::Log(3, __LINE__, synced.Message());
      m_last_status = synced;
      m_current = false;
      // Read again after the backoff, or at once when the pointer changes.
      m_changed.notify_all();
      m_changed.wait_for(lock, backoff.NextDelay(), [this] { return m_stop || m_dirty; });
      m_dirty = true;
      continue;
    }
    m_changed.notify_all();
  }
}

Tree_Status Tree_ZkReplica::Resync() {
  bool retry = false;
  bool has_tree = false;
  tree_zk::Pointer pointer;
  struct Stat stat {};
  // The one watch: on the pointer's data (or its existence while it is missing).
  Tree_Status read =
      tree_zk::ReadPointer(*m_session, m_znode, true, has_tree, pointer, stat, retry);
  if (!read) return read;
  if (!has_tree) {
    return Tree_Status(Tree_StatusCode::kNotFound,
                       m_have_root ? "no tree at " + m_znode + " any more (deleted)"
                                   : "no tree at " + m_znode + " yet");
  }
  if (m_have_root && pointer.root == m_root) return Tree_Status::Ok();
  read = tree_zk::CheckNodeCount(*m_session, m_znode, pointer, nullptr);
  if (!read) return read;
  // Only chunks not held are read: unchanged subtrees keep their ids.
  read = tree_zk::FetchReachable(*m_session, m_znode, pointer.root, *m_cache, retry);
  if (read) read = tree_zk::CheckNodeCount(*m_session, m_znode, pointer, m_cache.get());
  if (!read) return read;
  tree_zk::EntryView root;
  read = tree_zk::RootEntry(*m_cache, pointer.root, root);
  if (!read) return read;
  tree_zk::EntryView old_root;
  if (!m_have_root || !tree_zk::RootEntry(*m_cache, m_root, old_root) || !Patch(old_root, root)) {
    Tree_NodePtr remote;
    read = tree_zk::BuildEntry(*m_cache, root, remote);
    if (!read) return read;
    Apply(std::move(remote));
  }
  m_root = pointer.root;
  m_have_root = true;
  m_cache->KeepOnly({m_root});
  return Tree_Status::Ok();
}

void Tree_ZkReplica::Apply(Tree_NodePtr remote) {
  std::lock_guard<std::recursive_mutex> lock(m_tree_mutex);
  std::vector<Tree_ZkChange> changes;
  const bool first = !m_first_read_done;
  if (m_tree.get() == nullptr || m_tree->KeyName() != remote->KeyName() ||
      m_tree->IsLeaf() != remote->IsLeaf()) {
    if (m_tree.get() != nullptr)
      changes.push_back(NodeChange(Tree_ZkChange::Kind::kRemoved, m_tree.get()));
    if (!first) {
      MarkChanged(remote);
      changes.push_back(NodeChange(Tree_ZkChange::Kind::kAdded, remote.get()));
    }
    m_tree = std::move(remote);
  } else {
    Reconcile(m_tree.get(), remote.get(), changes);
    if (!changes.empty()) {
      m_tree->ExecuteOnEntireSubtree([](Tree_Node* node) { node->SetChecksum(0, true, false); });
    }
  }
  m_first_read_done = true;
  if (m_listener && (first || !changes.empty())) m_listener(changes);
}

bool Tree_ZkReplica::Patch(const tree_zk::EntryView& old_root, const tree_zk::EntryView& root) {
  std::lock_guard<std::recursive_mutex> lock(m_tree_mutex);
  if (m_tree.get() == nullptr || m_tree->KeyName().view() != root.name ||
      (m_tree->IsLeaf() != 0) != root.leaf || old_root.name != root.name ||
      old_root.leaf != root.leaf) {
    return false;  // another root: replaced whole
  }
  std::vector<Tree_ZkChange> changes;
  std::vector<Tree_Node*> touched;
  ::Patch(*m_cache, m_tree.get(), old_root, root, changes, touched);
  InvalidateChecksums(touched);
  if (m_listener && !changes.empty()) m_listener(changes);
  return true;
}

bool Tree_ZkReplica::IsCurrent() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_current && m_connected && !m_dirty && !m_syncing;
}

bool Tree_ZkReplica::WaitUntilCurrent(int timeout_ms) const {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                            [this] { return m_current && m_connected && !m_dirty && !m_syncing; });
}

Tree_Status Tree_ZkReplica::LastError() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_last_status;
}

std::uint64_t Tree_ZkReplica::RequestCount() const {
  std::lock_guard<std::mutex> write(m_write_mutex);
  return m_session != nullptr ? m_session->RequestCount() : 0;
}

std::unique_lock<std::recursive_mutex> Tree_ZkReplica::Lock() const {
  return std::unique_lock<std::recursive_mutex>(m_tree_mutex);
}

Tree_NodePtr Tree_ZkReplica::Tree() const {
  std::lock_guard<std::recursive_mutex> lock(m_tree_mutex);
  return m_tree;
}

Tree_Status Tree_ZkReplica::Push(const Tree_NodePtr& tree) {
  return Tree_ZkStore(m_options).Push(tree, m_znode);
}

Tree_Status Tree_ZkReplica::Set(const std::string& path, const std::string& value,
                                bool force_string) {
  return Tree_ZkStore(m_options).Set(m_znode, path, value, force_string);
}

Tree_Status Tree_ZkReplica::Remove(const std::string& path) {
  return Tree_ZkStore(m_options).Remove(m_znode, path);
}
