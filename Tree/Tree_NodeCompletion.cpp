// Completion flags: the host sets single-node flags; the library derives subtree flags, keeps
// each node's count of complete children, and tells the notifier lists.
#include <utility>
#include <vector>

#include "Tree/Tree_Node.h"

void Tree_Node::SetSingleNodeComplete(bool complete) {
  const bool previous = m_single_node_complete;
  m_single_node_complete = complete;
  if (previous != complete) UpdateCompletionStatus();
}

void Tree_Node::SetSubtreeComplete(bool complete) {
  m_subtree_complete = complete;
  if (complete && HasNotifiers()) GetExtras().notifiers.NotifyAll();
}

void Tree_Node::IncDecCompleteSons(int change) {
  m_complete_sons += change;
  if (!HasNotifiers()) return;
  // A second family over this node, disowned at once: callbacks that copy it do not
  // prolong the node's life.
  Tree_NodePtr self(this);
  self.Disown();
  GetExtras().notifiers.SendMightNeedMove(self);
}

void Tree_Node::UpdateCompletionStatus() {
  // A loop up the parent chain, stopping at the first node whose flag does not change.
  for (Tree_Node* node = this; node != nullptr;) {
    const int child_count = node->GetChildCount();
    const bool complete =
        child_count == 0 ? node->m_single_node_complete : node->m_complete_sons == child_count;
    if (complete == node->m_subtree_complete) return;
    node->m_subtree_complete = complete;
    // The flag is set before the list's mutex is taken, so a host that registers under that
    // mutex after reading the flag as false is told by this NotifyAll.
    if (complete && node->HasNotifiers()) node->GetExtras().notifiers.NotifyAll();
    Tree_Node* const parent = node->m_parent;
    if (parent != nullptr) parent->IncDecCompleteSons(complete ? +1 : -1);
    node = parent;
  }
}

void Tree_Node::SetSubtreeCompleteDownwards() {
  // Pre-order over the subtree; each child count is read once, when its node is entered, and
  // each frame holds a handle so that callbacks cannot pull a node away mid-walk.
  struct Frame {
    Tree_NodePtr node;
    int child_count;
    int next_child;
  };
  Tree_NodePtr self(this);
  self.Disown();
  std::vector<Frame> frames;
  frames.push_back(Frame{std::move(self), GetChildCount(), 0});
  while (!frames.empty()) {
    Frame& top = frames.back();
    Tree_Node* node = top.node.get();
    if (top.child_count == 0) {
      const bool previous = node->m_single_node_complete;
      node->m_single_node_complete = true;
      if (!previous) node->UpdateCompletionStatus();
      frames.pop_back();
      continue;
    }
    if (top.next_child >= top.child_count || top.next_child >= node->GetChildCount()) {
      frames.pop_back();
      continue;
    }
    Tree_NodePtr child = node->ChildHandle(top.next_child++);
    const int child_count = child->GetChildCount();
    frames.push_back(Frame{std::move(child), child_count, 0});
  }
}
