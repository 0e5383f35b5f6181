// Tree algebra: deep copies, merges, change trees and pruning. Every walk keeps its own stack
// of frames, so no depth of tree reaches the thread's stack, and every new node is linked with
// Insert or Add, so completion counters stay consistent.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Tree/TreeLog.h"
#include "Tree/Tree_Node.h"

namespace {

// A new branch named `name`, owned by a new unprotected family.
Tree_NodePtr NewBranch(const RWCString& name) {
  return Tree_NodePtr(new Tree_Node(name));
}

// A new leaf named `name` holding a new value (`text`, `is_change`), owned by a new
// unprotected family.
Tree_NodePtr NewLeaf(const RWCString& name, const RWCString& text, int is_change) {
  auto value = std::make_unique<Tree_Value>(text, is_change);
  Tree_NodePtr leaf(new Tree_Node(name, value.get()));
  value.release();  // the leaf owns it now
  return leaf;
}

// Merges the first input into a private copy of the second, in place, level by level, on a
// stack of its own. At each level the children of a node of the first input are merged into
// `target`, a node of the copy that has no parent while its level is open, so that every Add
// into it costs the same at any depth. `target`'s children are tracked in slots, in their
// current order: the first `attached` are still in its child vector; every later one is held
// out of the tree and is added back, in slot order, when the level closes. A node that moves
// to the end leaves a dead slot behind and takes a new one. The slots of all open levels share
// one stack, the deepest level's last. Past a few slots, a level chains the live slots of each
// key name in order, so that the first live child of a name is found in constant time; below
// that, a scan is cheaper than the table.
class InPlaceMerge {
 public:
  explicit InPlaceMerge(bool every_depth) : m_every_depth(every_depth) {}

  // For each child A of `first`, in order, looks up the first child of the same name of
  // `copy`, as the children stand at that moment. Without one, a copy of A is appended. With
  // one, and A a branch (every depth only), A is merged into it the same way and it moves to
  // the end.
  void Run(Tree_Node* first, const Tree_NodePtr& copy) {
    Open(first, copy);
    while (!m_levels.empty()) {
      Level& level = m_levels.back();
      if (level.next_first == level.first_count) {
        Close();
        continue;
      }
      Tree_Node* const from_first = level.first->GetChildAt(level.next_first++).get();
      const int match = Find(from_first->KeyName().view());
      if (match < 0) {
        if (level.target->IsLeaf() != 0) {
          Refuse(*level.target, *from_first);
        } else {
          Append(from_first->DuplicateFromHereDown(true));
        }
      } else if (m_every_depth && from_first->IsLeaf() == 0) {
        Open(from_first, MoveToEnd(match));
      }
    }
  }

 private:
  static constexpr int kScanLimit = 8;

  struct Slot {
    Tree_NodePtr node;
    int next_same_name;  // the next live slot with this key name, or -1
    bool live;
  };
  struct Names {
    int first;  // the first live slot of the name, or -1
    int last;   // the last slot of the name
  };
  using NameIndex = std::unordered_map<std::string_view, Names>;
  struct Level {
    Tree_Node* first;
    int first_count;  // read once, when the level opens
    int next_first;
    Tree_NodePtr target;
    int attached;
    std::size_t base;                    // the level's first slot in m_slots
    std::unique_ptr<NameIndex> by_name;  // null while a scan is cheaper
  };

  void Open(Tree_Node* first, Tree_NodePtr target) {
    const int first_count = first->GetChildCount();
    const int attached = first_count > 0 ? target->GetChildCount() : 0;
    m_levels.push_back(
        Level{first, first_count, 0, std::move(target), attached, m_slots.size(), nullptr});
    const Tree_NodePtr& open = m_levels.back().target;
    for (int i = 0; i < attached; ++i) Append(open->GetChildAt(i));
  }

  // Adds the level's live children held out of the tree back to its target, in slot order.
  void Close() {
    const Level& level = m_levels.back();
    const auto base = m_slots.begin() + static_cast<std::ptrdiff_t>(level.base);
    for (auto slot = base + level.attached; slot != m_slots.end(); ++slot) {
      if (slot->live) level.target->Add(slot->node);
    }
    m_slots.erase(base, m_slots.end());
    m_levels.pop_back();
  }

  Slot& At(int slot) { return m_slots[m_levels.back().base + static_cast<std::size_t>(slot)]; }
  int SlotCount() const { return static_cast<int>(m_slots.size() - m_levels.back().base); }

  // The slot of the first live child named `name`, or -1.
  int Find(std::string_view name) {
    const NameIndex* by_name = m_levels.back().by_name.get();
    if (by_name == nullptr) {
      for (int slot = 0; slot < SlotCount(); ++slot) {
        if (At(slot).live && At(slot).node->KeyName().view() == name) return slot;
      }
      return -1;
    }
    const auto found = by_name->find(name);
    return found == by_name->end() ? -1 : found->second.first;
  }

  // Puts `node` after every child (it joins the target when the level closes).
  void Append(const Tree_NodePtr& node) {
    m_slots.push_back(Slot{node, -1, true});
    Level& level = m_levels.back();
    if (level.by_name != nullptr) {
      Chain(SlotCount() - 1);
    } else if (SlotCount() > kScanLimit) {
      level.by_name = std::make_unique<NameIndex>();
      for (int slot = 0; slot < SlotCount(); ++slot) {
        if (At(slot).live) Chain(slot);
      }
    }
  }

  // Appends `slot` to the chain of its key name.
  void Chain(int slot) {
    NameIndex& by_name = *m_levels.back().by_name;
    Names& names =
        by_name.try_emplace(At(slot).node->KeyName().view(), Names{-1, -1}).first->second;
    if (names.first < 0) {
      names.first = slot;
    } else {
      At(names.last).next_same_name = slot;
    }
    names.last = slot;
  }

  // Takes the node of `slot`, the first live slot of its name, out of its place and puts it
  // after every child; returns it, out of the tree until the level closes.
  Tree_NodePtr MoveToEnd(int slot) {
    Level& level = m_levels.back();
    // Children from `slot` on leave the vector from the back, so no removal shifts others.
    while (level.attached > slot) level.target->Remove(--level.attached);
    Slot& old = At(slot);
    old.live = false;
    Tree_NodePtr node = old.node;
    if (level.by_name != nullptr) {
      level.by_name->find(node->KeyName().view())->second.first = old.next_same_name;
    }
    Append(node);
    return node;
  }

  // A leaf refuses a child of the first input: it is offered a stand-in, so that its Insert
  // logs the refusal and the copy it would refuse is never made.
  void Refuse(Tree_Node& leaf, const Tree_Node& from_first) {
    if (m_stand_in.get() == nullptr) m_stand_in = NewBranch(from_first.KeyName());
    leaf.Add(m_stand_in);
  }

  bool m_every_depth;
  std::vector<Level> m_levels;
  std::vector<Slot> m_slots;
  Tree_NodePtr m_stand_in;
};

// The merge of `first` into a copy of `second`, at every depth or among the tops' children
// only. The copy is private, so the merge happens in place rather than on further copies, and
// takes time linear in the size of both inputs.
Tree_NodePtr MergeIntoCopy(const Tree_NodePtr& first, const Tree_NodePtr& second,
                           bool every_depth) {
  if (second.get() == nullptr) return first;
  if (first.get() == nullptr) return second;
  Tree_NodePtr result = second->DuplicateFromHereDown(true);
  InPlaceMerge(every_depth).Run(first.get(), result);
  return result;
}

}  // namespace

Tree_NodePtr Tree_Node::DuplicateFromHereDown(bool /*deep*/) const {
  // Pre-order: each copy joins its parent's copy as soon as it is made, through AdoptCopy,
  // which is what Insert does for a new parentless node that is complete (every copy is: its
  // flags start set), without Insert's checks, which such a node always passes. Each children
  // vector is sized to the source's count once, and its count of complete children set to it
  // then: every child to come is complete, and until the copy is returned no one sees the
  // count run ahead of the children (should an allocation fail, the copy is destroyed). No
  // copy has notifiers, so no callback runs while the copy is incomplete.
  struct Frame {
    const Tree_Node* source;
    Tree_Node* copy;
    int next_child;
    int child_count;
  };
  // The longest text a string holds in its own buffer, without an allocation.
  const std::size_t in_place = std::string().capacity();
  const auto copy_of = [in_place](const Tree_Node& source) {
    std::unique_ptr<Tree_Value> value;
    if (source.IsLeaf() != 0) {
      const Tree_Value& from = *source.m_tree_value;  // a leaf always holds one
      if (from.Value().length() <= in_place) {
        // A short text is copied once into the value's own buffer, where passing it by value
        // would copy it and then move it, byte by byte again.
        value.reset(new Tree_Value(RWCString(), from.IsChange()));
        value->SetValue(from.Value());
      } else {
        value.reset(new Tree_Value(from.Value(), from.IsChange()));  // exact capacity
      }
    }
    Tree_Node* const node = new Tree_Node(source.m_key_name, value.get(), KeptName{});
    value.release();  // the node's now
    node->m_kind = source.m_kind;
    return FirstHandle(node);
  };
  Tree_NodePtr top = copy_of(*this);
  std::vector<Frame> frames;
  const auto open = [&frames](const Tree_Node* source, Tree_Node* copy) {
    const int child_count = source->GetChildCount();
    if (child_count == 0) return;
    copy->m_children.reserve(child_count);
    copy->m_complete_sons = child_count;
    frames.push_back(Frame{source, copy, 0, child_count});
  };
  open(this, top.get());
  while (!frames.empty()) {
    Frame& frame = frames.back();
    if (frame.next_child == frame.child_count) {
      frames.pop_back();
      continue;
    }
    const Tree_Node* const child = frame.source->ChildHandle(frame.next_child++).get();
    Tree_NodePtr copy = copy_of(*child);
    Tree_Node* const copied = copy.get();
    frame.copy->AdoptCopy(std::move(copy));
    open(child, copied);  // may move the frames: `frame` is not used after this
  }
  return top;
}

Tree_NodePtr Tree_Node::Merge(const Tree_NodePtr& first, const Tree_NodePtr& second) {
  return MergeIntoCopy(first, second, true);
}

Tree_NodePtr Tree_Node::MergeOneLevel(const Tree_NodePtr& first, const Tree_NodePtr& second) {
  return MergeIntoCopy(first, second, false);
}

Tree_NodePtr Tree_Node::GetChangesTreeNode(const Tree_NodePtr& node) {
  if (node.get() == nullptr) {
    TREE_LOG(3, "GetChangesTreeNode(Tree_NodePtr & node) : node is NULL, return NULL\n");
    return NULL_TREE_NODE_PTR;
  }
  // Post-order. A frame's top is created at its first changed leaf, so an unchanged subtree
  // allocates nothing.
  struct Frame {
    const Tree_Node* source;
    Tree_NodePtr changes;
    int next_child;
  };
  const auto append = [](Frame& frame, const Tree_NodePtr& child) {
    if (frame.changes.get() == nullptr) {
      frame.changes = NewBranch(frame.source->KeyName());
      frame.changes->SetKind(frame.source->GetKind());
    }
    frame.changes->Insert(child, frame.changes->GetChildCount());
  };
  std::vector<Frame> frames;
  frames.push_back(Frame{node.get(), Tree_NodePtr(), 0});
  while (true) {
    Frame& top = frames.back();
    if (top.next_child < top.source->GetChildCount()) {
      const Tree_Node& child = *top.source->ChildHandle(top.next_child++);
      if (child.m_allows_children != 0) {
        frames.push_back(Frame{&child, Tree_NodePtr(), 0});
      } else if (child.m_tree_value->IsChange() != 0) {
        Tree_NodePtr leaf = NewLeaf(child.m_key_name, child.m_tree_value->Value(), 1);
        leaf->SetKind(child.m_kind);
        append(top, leaf);
      }
      continue;
    }
    Tree_NodePtr changes = std::move(top.changes);
    frames.pop_back();
    if (frames.empty()) return changes;
    if (changes.get() != nullptr) append(frames.back(), changes);
  }
}

bool Tree_Node::RemoveEmptyBranches() {
  // Post-order, children from the last index down, so a removal never shifts a child still to
  // be visited. Each frame holds a handle, so a callback fired by a removal cannot pull a node
  // away mid-walk.
  //
  // A node that no notifier can watch (none on it or on any ancestor) defers its removals and
  // makes them in one compacting pass when its frame closes, so pruning n children costs
  // O(n), not O(n^2). Nothing can tell the difference: no callback runs while removals are
  // deferred, and before a watched node is entered every deferred removal is made, so its
  // callbacks see the tree exactly as one removal at a time would leave it. Deferred slots
  // all lie above the frame's cursor, so making them never moves a child still to be visited.
  struct Frame {
    Tree_NodePtr node;
    int next_child;  // counts down to -1
    int remaining;
    bool watched;         // a notifier list on this node or an ancestor is not empty
    std::size_t removed;  // the frame's first deferred slot in `deferred`
  };
  std::vector<int> deferred;  // the slots each frame still has to remove, frame after frame
  std::vector<int> slots;
  std::vector<Frame> frames;
  // Makes the deferred removals of `frames[f]` (everything above `end` in `deferred`).
  const auto flush = [&](std::size_t f, std::size_t end) {
    Frame& frame = frames[f];
    if (frame.removed == end) return;
    Tree_Node* const node = frame.node.get();
    slots.assign(deferred.begin() + static_cast<std::ptrdiff_t>(frame.removed),
                 deferred.begin() + static_cast<std::ptrdiff_t>(end));
    int complete_removed = 0;
    for (int slot : slots) {
      Tree_Node* const child = node->ChildHandle(slot).get();
      child->m_parent = nullptr;
      if (child->m_subtree_complete) ++complete_removed;
    }
    node->m_children.removeSlots(slots);
    node->m_complete_sons -= complete_removed;  // no notifier to tell
    node->UpdateCompletionStatus();
  };
  const auto flush_all = [&] {
    for (std::size_t f = frames.size(); f-- > 0;) {
      const std::size_t end = f + 1 < frames.size() ? frames[f + 1].removed : deferred.size();
      flush(f, end);
    }
    for (Frame& frame : frames) frame.removed = 0;
    deferred.clear();
  };
  const auto watched_from_here = [](const Tree_Node* node, bool parent_watched) {
    return parent_watched || node->HasNotifiers();
  };

  bool watched = false;
  for (const Tree_Node* at = m_parent; at != nullptr && !watched; at = at->m_parent) {
    watched = at->HasNotifiers();
  }
  Tree_NodePtr self(this);
  self.Disown();
  frames.push_back(Frame{std::move(self), GetChildCount() - 1, GetChildCount(),
                         watched_from_here(this, watched), 0});
  // Removes the child of the top frame at `index`, now or deferred.
  const auto remove_child = [&](Frame& frame, int index) {
    if (frame.watched) {
      frame.node->Remove(index);
    } else {
      deferred.push_back(index);
    }
    --frame.remaining;
  };
  while (true) {
    Frame& top = frames.back();
    Tree_Node* const node = top.node.get();
    if (top.next_child >= 0) {
      const int index = top.next_child--;
      const Tree_NodePtr& child = node->ChildHandle(index);
      if (child->m_allows_children == 0) continue;
      if (child->GetChildCount() > 0) {
        const int count = child->GetChildCount();
        const bool child_watched = watched_from_here(child.get(), top.watched);
        Tree_NodePtr entered = child;
        if (child_watched && !top.watched) flush_all();
        frames.push_back(
            Frame{std::move(entered), count - 1, count, child_watched, deferred.size()});
      } else {
        remove_child(top, index);
      }
      continue;
    }
    flush(frames.size() - 1, deferred.size());
    deferred.resize(top.removed);
    // GetTreeValue logs "GetTreeValue(): return NULL" when the node is left empty.
    const bool holds_something = top.remaining > 0 || node->GetTreeValue() != nullptr;
    const Tree_NodePtr finished = std::move(top.node);
    frames.pop_back();
    if (frames.empty()) return holds_something;
    Frame& parent = frames.back();
    if (finished->GetChildCount() == 0) remove_child(parent, parent.next_child + 1);
  }
}
