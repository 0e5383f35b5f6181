// Construction, destruction, fields and paths of Tree_Node; the library's statics.
#include <ace/OS_NS_sys_time.h>
#include <ace/Time_Value.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "Tree/TreeLog.h"
#include "Tree/Tree_Node.h"

// Initialised in this order: the separator, then the null handle (which allocates nothing).
const RWCString Tree_Node::separator("\\");
constinit Tree_NodePtr Tree_Node::NULL_TREE_NODE_PTR;
int Tree_Node::TRUE_BOOL = 1;

namespace {

// "undefined_tree" and |m| mod 100000, where m is the clock in milliseconds computed in 32-bit
// two's-complement arithmetic (it wraps), as hosts have always seen these names.
RWCString GeneratedKeyName() {
  const ACE_Time_Value now = ACE_OS::gettimeofday();
  const auto millis = static_cast<std::uint32_t>(static_cast<std::uint32_t>(now.sec()) * 1000u +
                                                 static_cast<std::uint32_t>(now.usec() / 1000));
  const long long wrapped = static_cast<std::int32_t>(millis);
  char name[32];
  std::snprintf(name, sizeof name, "undefined_tree%d",
                static_cast<int>(std::llabs(wrapped) % 100000));
  return RWCString(name);
}

// Children vectors of dying nodes, released one at a time by the outermost destructor of
// this thread, so that destroying a deep chain never nests destructors. The list lives in
// that destructor's frame; a thread_local pointer (trivially destructible) reaches it, which
// keeps destruction safe during static destruction at exit as well.
using PendingChildren = std::vector<Tree_NodePtrVec>;
thread_local PendingChildren* t_pending = nullptr;

// The node that Tree_Node::operator new has just allocated on this thread and whose
// constructor has not yet run: how a constructor tells a node that has a family slot in front
// of it from one on the stack, in static storage or inside another object. Should another
// node be made between the two (in the arguments of the first), the first merely goes
// without its slot.
thread_local void* t_unconstructed = nullptr;

// The slot follows the node, which starts the block, so the node's first 64 bytes are the
// block's first cache line (see the field order in Tree_Node.h).
constexpr std::size_t kSlotBytes = sizeof(Tree_HandleFamily);
static_assert(sizeof(Tree_Node) % alignof(Tree_HandleFamily) == 0);
static_assert(alignof(Tree_Node) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
// One of the node heap's size classes, with nothing rounded up.
static_assert(sizeof(Tree_Node) + kSlotBytes == 128);

Tree_HandleFamily* SlotOf(void* node) {
  return reinterpret_cast<Tree_HandleFamily*>(static_cast<char*>(node) + sizeof(Tree_Node));
}

}  // namespace

// ---- Allocation: the node and its first family in one block -----------------------------

void* Tree_Node::operator new(std::size_t size) {
  // A class derived from Tree_Node is larger and gets a block without a slot: its families
  // have allocations of their own, as do those of nodes outside the heap.
  if (size != sizeof(Tree_Node)) return Tree_NodeAllocator::Allocate(size);
  void* const node = Tree_NodeAllocator::Allocate(size + kSlotBytes);
  (::new (SlotOf(node)) Tree_HandleFamily)->in_node_block = true;
  t_unconstructed = node;
  return node;
}

void* Tree_Node::operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (...) {
    return nullptr;
  }
}

void Tree_Node::operator delete(void* node, std::size_t size) noexcept {
  if (node == nullptr) return;
  if (t_unconstructed == node) t_unconstructed = nullptr;  // its constructor threw
  if (size == sizeof(Tree_Node)) {
    Tree_HandleFamily* const slot = SlotOf(node);
    constexpr unsigned char kTaken = Tree_HandleFamily::kTaken;
    // A disowned family that still uses the slot frees the block at its end.
    if ((slot->slot_state.load(std::memory_order_acquire) & kTaken) != 0 &&
        (slot->slot_state.fetch_or(Tree_HandleFamily::kNodeGone, std::memory_order_acq_rel) &
         kTaken) != 0) {
      return;
    }
  }
  Tree_NodeAllocator::Free(node);
}

void Tree_Node::operator delete(void* node, const std::nothrow_t&) noexcept {
  // Only a constructor that threw under a nothrow new comes here: no family has taken the
  // slot yet, so the block goes at once.
  if (node == nullptr) return;
  if (t_unconstructed == node) t_unconstructed = nullptr;
  Tree_NodeAllocator::Free(node);
}

void Tree_FamilySlot<Tree_Node>::FreeBlock(Tree_HandleFamily* slot) noexcept {
  // Only slots of nodes made as Tree_Node itself are ever taken (see operator new).
  Tree_NodeAllocator::Free(reinterpret_cast<char*>(slot) - sizeof(Tree_Node));
}

Tree_HandleFamily* Tree_FamilySlot<Tree_Node>::Claim(Tree_Node* node) noexcept {
  if (!node->m_in_block) return nullptr;
  Tree_HandleFamily* const slot = SlotOf(node);
  // Two threads may make temporary families over one node at once: one wins the slot.
  unsigned char free_state = 0;
  if (!slot->slot_state.compare_exchange_strong(free_state, Tree_HandleFamily::kTaken,
                                                std::memory_order_acq_rel,
                                                std::memory_order_relaxed)) {
    return nullptr;
  }
  slot->count = 1;
  slot->is_owner = 1;
  slot->holder.SetToggle(nullptr);
  return slot;
}

Tree_NodePtr Tree_Node::FirstHandle(Tree_Node* node) {
  if (!node->m_in_block) return Tree_NodePtr(node);
  // operator new left the slot at count 1, owner, unprotected, free.
  Tree_HandleFamily* const slot = SlotOf(node);
  slot->slot_state.store(Tree_HandleFamily::kTaken, std::memory_order_relaxed);
  return Tree_NodePtr(node, slot);
}

// ---- Construction ------------------------------------------------------------------------

Tree_Node::Tree_Node(RWCString key_name) {
  Init(key_name, nullptr);
}

Tree_Node::Tree_Node(RWCString key_name, Tree_Value* value) {
  Init(key_name, value);
}

Tree_Node::Tree_Node(const RWCString& key_name, Tree_Value* value, KeptName)
    : m_key_name(key_name), m_tree_value(value) {
  m_in_block = t_unconstructed == this;
  if (m_in_block) t_unconstructed = nullptr;
  m_allows_children = value == nullptr;
}

Tree_Node::Tree_Node(RWCString&& key_name, Tree_Value* value, KeptName)
    : m_key_name(std::move(key_name)), m_tree_value(value) {
  m_in_block = t_unconstructed == this;
  if (m_in_block) t_unconstructed = nullptr;
  m_allows_children = value == nullptr;
}

int Tree_Node::Init(RWCString& key_name, Tree_Value* value) {
  m_in_block = t_unconstructed == this;
  if (m_in_block) t_unconstructed = nullptr;
  m_parent = nullptr;
  const std::size_t stripped_length = key_name.strip(RWCString::both, ' ').length();
  if (stripped_length == key_name.length() && stripped_length != 0) {
    m_key_name = std::move(key_name);  // the common case: nothing to strip, nothing to copy
  } else if (stripped_length != 0) {
    RWCString stripped = key_name.strip(RWCString::both, ' ');
    TREE_LOG(4, "Tree_Node::Init key name fixed: from <%s> to <%s>\n", key_name.data(),
             stripped.data());
    m_key_name = std::move(stripped);
  } else {
    m_key_name = GeneratedKeyName();
    TREE_LOG(4, "A tree with a NULL name has been set, tree was renamed to <%s>\n",
             m_key_name.data());
  }
  m_complete_sons = 0;
  m_single_node_complete = true;
  m_subtree_complete = true;
  m_mark = false;
  m_id = 0;
  m_tree_value.reset(value);
  m_allows_children = value == nullptr;
  m_checksum_valid = false;
  return 1;
}

Tree_Node::Extras& Tree_Node::GetExtras() const {
  Extras* extras = m_extras.load(std::memory_order_acquire);
  if (extras != nullptr) return *extras;
  auto created = std::make_unique<Extras>();
  if (m_extras.compare_exchange_strong(extras, created.get(), std::memory_order_acq_rel)) {
    return *created.release();
  }
  return *extras;  // another thread made it first; ours is destroyed
}

Tree_Node::~Tree_Node() {
  delete m_extras.load(std::memory_order_relaxed);
  m_tree_value.reset();
  if (!m_children.everUsed()) return;

  // Releasing the handles may destroy the children; their vectors join the pending list
  // instead of being released inside this destructor. A grandchild keeps its link to a
  // destroyed child until that child's vector is taken from the list, whose destructor
  // unlinks it; nothing reads the link in between, as no host code runs during the
  // destruction.
  if (t_pending != nullptr) {
    t_pending->push_back(std::move(m_children));
    return;
  }
  PendingChildren pending;
  t_pending = &pending;
  pending.push_back(std::move(m_children));
  // First in, first out, so the vectors to come are known. While one is destroyed, the
  // vector four places on has its slots fetched and the next has its first children fetched:
  // otherwise each of these would wait for the one before it, at every node of a narrow tree.
  std::size_t next = 0;
  while (next < pending.size()) {
    if (next + 4 < pending.size()) pending[next + 4].PrefetchSlots();
    if (next + 1 < pending.size()) pending[next + 1].PrefetchFirstChildren();
    {
      // Out of the list before it is destroyed: its destructor appends the vectors of the
      // children it destroys.
      const Tree_NodePtrVec children = std::move(pending[next++]);
    }
    // The emptied front goes once it is the larger part, so the list holds about as many
    // vectors as wait, not every one the tree had.
    if (next >= 1024 && next * 2 >= pending.size()) {
      pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(next));
      next = 0;
    }
  }
  t_pending = nullptr;
  // A large tree's pages go back to the system now rather than staying with the heap.
  Tree_NodeAllocator::ReturnFreedMemory();
}

Tree_Value* Tree_Node::GetTreeValue() const {
  if (m_tree_value == nullptr) TREE_LOG(7, "GetTreeValue(): return NULL\n");
  return m_tree_value.get();
}

Tree_Value* Tree_Node::SetTreeValue(Tree_Value* value) {
  Tree_Value* previous = m_tree_value.release();
  m_tree_value.reset(value);
  if (value == nullptr) m_allows_children = true;
  return previous;
}

RWCString Tree_Node::GetPath() const {
  // Two passes up the parent links: measure, then fill the text from its end. No recursion,
  // and one allocation whatever the depth.
  const Tree_Node* top = this;
  std::size_t length = 0;
  for (; top->m_parent != nullptr; top = top->m_parent) {
    length += separator.length() + top->m_key_name.length();
  }
  const Extras* const extras = top->LoadExtras();
  const RWCString& head = extras == nullptr || extras->virtual_parent_path.isNull()
                              ? top->m_key_name
                              : extras->virtual_parent_path;
  length += head.length();

  std::string text(length, '\0');
  std::size_t end = length;
  for (const Tree_Node* node = this; node != top; node = node->m_parent) {
    end -= node->m_key_name.length();
    std::memcpy(text.data() + end, node->m_key_name.data(), node->m_key_name.length());
    end -= separator.length();
    std::memcpy(text.data() + end, separator.data(), separator.length());
  }
  std::memcpy(text.data(), head.data(), head.length());
  return RWCString(std::move(text));
}
