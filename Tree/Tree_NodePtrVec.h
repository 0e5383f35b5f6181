// A node's children: an ordered vector of stored handles, one per child, owned by the vector.
// Slot i holds the handle of child i, which lives inside the child itself (see
// Tree_Node::m_stored). A reference to a stored handle stays valid while that child stays in
// the vector, whatever else is inserted or removed. A stored handle is only read: assigning
// another node to it would cut the child loose while its slot still points into it. Indexes are
// checked as unsigned values, so a negative index is out of range and raises RWBoundsErr.
//
// The vector is one word inside its node. Without children it allocates nothing; a single
// child (the most common branch of a document: an object or array of one member) is the word
// itself; from two children on, the word points to one block of the node heap that holds the
// count, the capacity, the name index and the slots, so a walk reads a node's count and slots
// from one line. A growing block takes the heap's size classes (64, 128, 256 bytes, ...), so
// no byte of it is rounded away; a reserved one has exactly the slots asked for. A slot names its
// child's node without a load (the handle sits at a fixed place inside the node), so a scan of the
// children reads only the line of each child that holds its key name.
//
// The vector also remembers whether it ever held a child: a node that never had children is
// told apart from one whose children all left (Tree_Node's Remove and GetIndex answer the two
// differently).
//
// A block of at most kHintSlots slots keeps, after the slots, one hint per child: where a
// lookup that went through that child read next (its children's block, its only child or its
// value), as a distance from the block. A scan fetches each child and the place its hint names
// at once, so a walk down a tree of small nodes waits for about one miss per level instead of
// two. A hint is only ever used as a prefetch address: a stale one (the child changed since)
// costs one useless fetch, never a wrong answer, and the next lookup through the child puts it
// right. Lookups keep hints with relaxed atomic stores, so several threads may look up at once.
//
// Past kIndexFrom children, the first lookup by name builds a name index (key name to the
// slot of the first child of that name, with the number of children of that name), which
// every later insertion and removal keeps exact; it is freed when the vector narrows to
// kIndexFrom / 2 children. Several threads may look up at once: the index is published with
// one atomic exchange. Changes still need the vector to themselves.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "Tree/Tree_NodeAllocator.h"
#include "Tree/Tree_NodePtr.h"

class Tree_NodePtrVec {
 public:
  // Below this many children a scan is as fast as the index and costs no memory.
  static constexpr int kIndexFrom = 12;
  // Blocks of up to this many slots keep a hint per child (see above).
  static constexpr unsigned kHintSlots = 9;

  // A vector that never held a child: no allocation.
  Tree_NodePtrVec() noexcept = default;
  // Takes over every child of `other`, which is left as a vector that never held one; no
  // handle changes, so this costs no count change and no allocation.
  Tree_NodePtrVec(Tree_NodePtrVec&& other) noexcept : m_word(std::exchange(other.m_word, 0)) {}
  // Releases the children held before (as the destructor does), then takes over `other`'s.
  Tree_NodePtrVec& operator=(Tree_NodePtrVec&& other) noexcept {
    Tree_NodePtrVec taken(std::move(other));
    std::swap(m_word, taken.m_word);
    return *this;
  }
  // Not copyable: two vectors must never own the same handles.
  Tree_NodePtrVec(const Tree_NodePtrVec&) = delete;
  Tree_NodePtrVec& operator=(const Tree_NodePtrVec&) = delete;
  // Unlinks every child from its parent (those other handles keep become roots) and releases
  // every stored handle in slot order.
  ~Tree_NodePtrVec() {
    if (m_word != 0) ReleaseAll();
  }

  // Whether the vector ever held a child (or was reserved for some).
  bool everUsed() const noexcept { return m_word != 0; }

  int entries() const noexcept {
    const Slot word = m_word;
    if ((word & kBlockTag) == 0) return word != 0 ? 1 : 0;
    const Block* const block = BlockOf(word);
    return block != nullptr ? static_cast<int>(block->size) : 0;
  }

  // Hints that the vector's slots, then the first children's handles, will be read soon:
  // a destruction calls the two on the vectors it will destroy next, a few vectors ahead.
  void PrefetchSlots() const noexcept {
    if ((m_word & kBlockTag) != 0) __builtin_prefetch(BlockOf(m_word));
  }
  void PrefetchFirstChildren() const noexcept {
    const Span span = Slots();
    const unsigned count = span.size < 4 ? span.size : 4;
    for (unsigned i = 0; i < count; ++i) __builtin_prefetch(HandleOf(span.slots[i]), 1);
  }

  // The handle stored in slot `i`; RWBoundsErr unless 0 <= i < entries().
  Tree_NodePtr& at(int i) const {
    const Span span = Slots();
    return *HandleOf(span.slots[Checked(i, span.size)]);
  }
  // The node of that handle, read from the slot alone; RWBoundsErr unless 0 <= i < entries().
  // Defined in Tree_Node.h, where a node is complete.
  inline Tree_Node* nodeAt(int i) const;

  // The first slot whose handle holds the same node as `handle`, or -1.
  int index(const Tree_NodePtr& handle) const noexcept;
  // The slot of the stored handle `stored` (compared by address), or -1.
  int slotOf(const Tree_NodePtr* stored) const noexcept;

  // The first child whose key name is `name`: its stored handle and its node, both null when
  // there is none. Builds the name index on first use past kIndexFrom children; should that
  // allocation fail, scans.
  struct Found {
    Tree_NodePtr* handle;
    Tree_Node* node;
  };
  // What the caller reads of the child found, which the child's hint then names: its
  // children (a walk going on through it), its value (a walk ending at a leaf whose value it
  // reads) or nothing known. Only a lookup that reads that part of the child anyway may keep
  // its hint, since reading it is what other threads' changes to the child must allow.
  enum class Next : unsigned char { kNothing, kChildren, kValue };
  Found find(std::string_view name, Next next = Next::kNothing) const noexcept;

  // Makes room for `count` slots in all, so that as many insertions allocate no slots, and
  // marks the vector used. Raises std::bad_alloc, with nothing changed, when the room cannot
  // be had.
  void reserve(int count);
  // Stores a new copy of `handle` (its family's count rises by one) in slot `i`, moving later
  // slots up; RWBoundsErr unless 0 <= i <= entries(). Raises std::bad_alloc, with nothing
  // changed, when the slots cannot grow.
  void insertAt(int i, const Tree_NodePtr& handle);

  // Appends the handle `handle` holds without a count change: it moves into its node's stored
  // handle, which must be null. Raises std::bad_alloc, with nothing changed, when the slots
  // cannot grow.
  void append(Tree_NodePtr&& handle);

  // Releases the handle in slot `i` (its family's count falls by one) and closes the gap;
  // RWBoundsErr unless 0 <= i < entries().
  void removeAt(int i);

  // Removes the handles of the slots in `slots` (each in range, no slot twice, any order) in
  // one pass that keeps the others in order, then releases them in the order given, each
  // after the vector is consistent again.
  void removeSlots(const std::vector<int>& slots);

 private:
  // Key name to the slot of the first child of that name and the number of children of that
  // name. Defined where it is used, so this header needs no hash table's.
  struct NameIndex;

  // A slot: the address of the stored handle, with the low bit set when the handle has a heap
  // block of its own rather than its node's m_stored (a node a host relinked by SetParent and
  // so a child twice). A stored handle is at least 8-byte aligned, so bit 1 of a slot is
  // always clear: the vector's word uses it to tell a block from a single slot.
  using Slot = std::uintptr_t;
  static constexpr Slot kOwnBlock = 1;
  static constexpr Slot kBlockTag = 2;
  static Tree_NodePtr* HandleOf(Slot slot) noexcept {
    return reinterpret_cast<Tree_NodePtr*>(slot & ~kOwnBlock);
  }
  // The node of the slot's handle; reads memory only for a handle in a block of its own.
  // Defined where Tree_Node is complete (Tree_Node.h).
  static inline Tree_Node* NodeOf(Slot slot) noexcept;

  // The slots of two or more children (or of fewer, once they shrank): the slots follow the
  // header in the same block of the node heap.
  // In a block of at most kHintSlots slots, the hints follow the slots: hint i is the
  // distance, in 16-byte units, from the block to where a lookup through child i read next;
  // 0 for none.
  struct Block {
    std::uint32_t size;
    std::uint32_t capacity;
    // Owned; null until a lookup past kIndexFrom children builds it.
    std::atomic<NameIndex*> index;
    Slot* slots() noexcept { return reinterpret_cast<Slot*>(this + 1); }
    // Null when the block keeps no hints.
    std::int32_t* hints() noexcept {
      return Hinted(capacity) ? reinterpret_cast<std::int32_t*>(slots() + capacity) : nullptr;
    }
  };
  static_assert(sizeof(Block) == 16);
  static constexpr bool Hinted(unsigned capacity) noexcept { return capacity <= kHintSlots; }
  // The bytes of a block of `capacity` slots, with the hints it keeps.
  static constexpr std::size_t BytesFor(unsigned capacity) noexcept {
    return sizeof(Block) + std::size_t{capacity} * (sizeof(Slot) + (Hinted(capacity) ? 4 : 0));
  }
  static Block* BlockOf(Slot word) noexcept { return reinterpret_cast<Block*>(word & ~kBlockTag); }

  struct Span {
    Slot* slots;
    unsigned size;
  };
  // The slots and their count, read from the word once.
  Span Slots() const noexcept {
    const Slot word = m_word;
    if ((word & kBlockTag) == 0) return Span{const_cast<Slot*>(&m_word), word != 0 ? 1u : 0u};
    Block* const block = BlockOf(word);
    if (block == nullptr) return Span{nullptr, 0};
    return Span{block->slots(), block->size};
  }
  Block* GetBlock() const noexcept { return (m_word & kBlockTag) != 0 ? BlockOf(m_word) : nullptr; }

  static unsigned Checked(int i, unsigned size) {
    if (static_cast<unsigned>(i) >= size) ThrowIndexError(static_cast<unsigned>(i), size);
    return static_cast<unsigned>(i);
  }
  [[noreturn]] static void ThrowIndexError(unsigned i, unsigned size);
  // Moves the slots to a new block of `capacity` slots, at least their count (and 2).
  void Grow(unsigned capacity);
  // Makes room for one more slot.
  void GrowForOneMore();
  // Puts `slot` at `at` (room made, at <= count) and keeps the name index.
  void Place(unsigned at, Slot slot) noexcept;
  // Releases a handle that has left the vector (or is about to, with the vector).
  static void Release(Slot slot) noexcept;
  // The destructor's work for a vector that was used.
  void ReleaseAll() noexcept;
  // Sets hint `i` of `block` (which keeps hints) to what a lookup reads next of `node`, the
  // child in slot i, when it differs.
  static void KeepHint(Block& block, unsigned i, const Tree_Node& node, Next next) noexcept;
  NameIndex* BuildIndex(Block& block) const noexcept;
  static void DropIndex(Block& block) noexcept;
  static void IndexInserted(Block& block, NameIndex& index, unsigned i);
  static void IndexRemoving(Block& block, NameIndex& index, unsigned i);

  // 0: never held a child. Bit 1 clear: the single slot (the word is the slot). Bit 1 set:
  // the block (null once the only child left).
  Slot m_word = 0;
};
