// Tree algebra: deep copies, merges, change trees and pruning. Every walk keeps its own stack
// of frames, so no depth of tree reaches the thread's stack, and every new node is linked with
// Insert or Add, so completion counters stay consistent.
#include <memory>
#include <string_view>
#include <type_traits>
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

// A childless copy of `source` with fresh bookkeeping: a leaf keeps its value text and change
// flag; a branch is copied without the value that may have been set on it.
Tree_NodePtr CopyOfNode(const Tree_Node& source) {
  if (source.IsLeaf() == 0) return NewBranch(source.KeyName());
  const Tree_Value& value = *source.GetTreeValue();  // a leaf always holds one
  return NewLeaf(source.KeyName(), value.Value(), value.IsChange());
}

// One level of an in-place merge: the children of `first` are merged into `target`, a private
// node with no parent. `target`'s children are tracked in slots, in their current order. The
// first `m_attached` slots are still in `target`'s child vector; every later slot is held here,
// out of the tree, and is added back, in slot order, when the level is finished. A node that
// moves to the end leaves a dead slot behind and takes a new one. Past a few slots, the live
// slots of each key name are chained in order, so the first live child of a name is found in
// constant time; below that, a scan is cheaper than the table.
class MergeLevel {
 public:
  MergeLevel(Tree_Node* first, Tree_NodePtr target)
      : m_first(first),
        m_first_count(first->GetChildCount()),
        m_target(std::move(target)),
        m_attached(m_first_count > 0 ? m_target->GetChildCount() : 0) {
    m_slots.reserve(static_cast<std::size_t>(m_attached));
    for (int i = 0; i < m_attached; ++i) Append(m_target->GetChildAt(i));
  }

  Tree_Node& Target() const { return *m_target; }
  // The next child of `first` to merge in, or null when every child is done.
  Tree_Node* NextFirstChild() {
    return m_next_first < m_first_count ? m_first->GetChildAt(m_next_first++).get() : nullptr;
  }

  // The slot of the first live child named `name`, or -1.
  int Find(std::string_view name) const {
    if (!m_indexed) {
      for (std::size_t i = 0; i < m_slots.size(); ++i) {
        if (m_slots[i].live && m_slots[i].node->KeyName().view() == name)
          return static_cast<int>(i);
      }
      return -1;
    }
    const auto found = m_by_name.find(name);
    return found == m_by_name.end() ? -1 : found->second.first;
  }

  // Puts `node` after every child (it joins `target` when the level is finished).
  void Append(const Tree_NodePtr& node) {
    m_slots.push_back(Slot{node, -1, true});
    if (m_indexed) {
      Chain(static_cast<int>(m_slots.size()) - 1);
    } else if (m_slots.size() > kScanLimit) {
      m_indexed = true;
      for (std::size_t i = 0; i < m_slots.size(); ++i) {
        if (m_slots[i].live) Chain(static_cast<int>(i));
      }
    }
  }

  // Takes the node of `slot`, which must be the first live slot of its name, out of its place
  // and puts it after every child; returns it, out of the tree until the level is finished.
  Tree_NodePtr MoveToEnd(int slot) {
    // Children from `slot` on leave the vector from the back, so no removal shifts others.
    while (m_attached > slot) m_target->Remove(--m_attached);
    Slot& old = m_slots[static_cast<std::size_t>(slot)];
    old.live = false;
    Tree_NodePtr node = old.node;
    if (m_indexed) m_by_name.find(node->KeyName().view())->second.first = old.next_same_name;
    Append(node);
    return node;
  }

  // Adds every live child held out of the tree back to `target`, in slot order.
  void Finish() {
    for (std::size_t i = static_cast<std::size_t>(m_attached); i < m_slots.size(); ++i) {
      if (m_slots[i].live) m_target->Add(m_slots[i].node);
    }
  }

 private:
  static constexpr std::size_t kScanLimit = 8;

  struct Slot {
    Tree_NodePtr node;
    int next_same_name;  // the next live slot with this key name, or -1
    bool live;
  };
  struct Names {
    int first;  // the first live slot of the name, or -1
    int last;   // the last slot of the name
  };

  // Appends `slot` to the chain of its key name.
  void Chain(int slot) {
    const std::string_view name = m_slots[static_cast<std::size_t>(slot)].node->KeyName().view();
    Names& names = m_by_name.try_emplace(name, Names{-1, -1}).first->second;
    if (names.first < 0) {
      names.first = slot;
    } else {
      m_slots[static_cast<std::size_t>(names.last)].next_same_name = slot;
    }
    names.last = slot;
  }

  Tree_Node* m_first;
  int m_first_count;
  int m_next_first = 0;
  Tree_NodePtr m_target;
  int m_attached;
  std::vector<Slot> m_slots;
  bool m_indexed = false;
  std::unordered_map<std::string_view, Names> m_by_name;
};
// Levels are kept in a vector that grows by moving them.
static_assert(std::is_nothrow_move_constructible_v<MergeLevel>);

// The merge of `first` into a copy of `second`, at every depth or among the tops' children
// only. For each child A of `first`, in order, the copy's first child of the same name, as the
// children stand at that moment, is looked up. Without one, a copy of A is appended. With one,
// and A a branch (every depth only), A is merged into it the same way and it moves to the end.
// The copy is private, so this happens in place rather than on further copies, and the whole
// merge takes time linear in the size of both inputs.
Tree_NodePtr MergeIntoCopy(const Tree_NodePtr& first, const Tree_NodePtr& second,
                           bool every_depth) {
  if (second.get() == nullptr) return first;
  if (first.get() == nullptr) return second;
  Tree_NodePtr result = second->DuplicateFromHereDown(true);
  // Offered, in place of a copy, to a leaf that has to refuse a child: its Insert logs the
  // refusal, and the copy it would have refused is never made.
  Tree_NodePtr stand_in;
  std::vector<MergeLevel> levels;
  levels.emplace_back(first.get(), result);
  while (!levels.empty()) {
    MergeLevel& level = levels.back();
    Tree_Node* const from_first = level.NextFirstChild();
    if (from_first == nullptr) {
      level.Finish();
      levels.pop_back();
      continue;
    }
    const int match = level.Find(from_first->KeyName().view());
    if (match < 0) {
      if (level.Target().IsLeaf() != 0) {
        if (stand_in.get() == nullptr) stand_in = NewBranch(from_first->KeyName());
        level.Target().Add(stand_in);
      } else {
        level.Append(from_first->DuplicateFromHereDown(true));
      }
      continue;
    }
    if (!every_depth || from_first->IsLeaf() != 0) continue;
    Tree_NodePtr matched = level.MoveToEnd(match);
    levels.emplace_back(from_first, std::move(matched));
  }
  return result;
}

}  // namespace

Tree_NodePtr Tree_Node::DuplicateFromHereDown(bool /*deep*/) const {
  // Post-order: a copy joins its parent's copy once its own subtree is done, so every Insert
  // goes into a node without a parent and costs the same at any depth.
  struct Frame {
    const Tree_Node* source;
    Tree_NodePtr copy;
    int next_child;
  };
  std::vector<Frame> frames;
  frames.push_back(Frame{this, CopyOfNode(*this), 0});
  while (true) {
    Frame& top = frames.back();
    if (top.next_child < top.source->GetChildCount()) {
      const Tree_Node* child = top.source->ChildHandle(top.next_child++).get();
      frames.push_back(Frame{child, CopyOfNode(*child), 0});
      continue;
    }
    Tree_NodePtr copy = std::move(top.copy);
    frames.pop_back();
    if (frames.empty()) return copy;
    Frame& parent = frames.back();
    parent.copy->Insert(copy, parent.next_child - 1);
  }
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
    if (frame.changes.get() == nullptr) frame.changes = NewBranch(frame.source->KeyName());
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
        append(top, NewLeaf(child.m_key_name, child.m_tree_value->Value(), 1));
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
  struct Frame {
    Tree_NodePtr node;
    int next_child;  // counts down to -1
    int remaining;
  };
  Tree_NodePtr self(this);
  self.Disown();
  std::vector<Frame> frames;
  frames.push_back(Frame{std::move(self), GetChildCount() - 1, GetChildCount()});
  while (true) {
    Frame& top = frames.back();
    Tree_Node* const node = top.node.get();
    if (top.next_child >= 0) {
      const int index = top.next_child--;
      const Tree_NodePtr& child = node->ChildHandle(index);
      if (child->m_allows_children == 0) continue;
      if (child->GetChildCount() > 0) {
        const int count = child->GetChildCount();
        frames.push_back(Frame{child, count - 1, count});
      } else {
        node->Remove(index);
        --top.remaining;
      }
      continue;
    }
    // GetTreeValue logs "GetTreeValue(): return NULL" when the node is left empty.
    const bool holds_something = top.remaining > 0 || node->GetTreeValue() != nullptr;
    const Tree_NodePtr finished = std::move(top.node);
    frames.pop_back();
    if (frames.empty()) return holds_something;
    Frame& parent = frames.back();
    if (finished->GetChildCount() == 0) {
      parent.node->Remove(parent.next_child + 1);
      --parent.remaining;
    }
  }
}
