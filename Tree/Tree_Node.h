// A configuration tree: named nodes addressed by backslash paths. A leaf carries a value
// (Tree_Value) and refuses children; a branch holds ordered children and may also be given a
// value. Nodes live on the heap and are held through Tree_NodePtr handles; the last release
// of a node's owning handle family destroys it and every child no other handle keeps.
//
// This is the umbrella header: it brings in Tree_Node, Tree_Value and every companion class.
//
// Threads: nothing here locks the tree's structure, values, flags or caches. The host keeps
// changes to one tree from overlapping with other use of the same nodes. Handle copies are
// safe across threads for protected families (see Tree_NodePtr.h); notifier lists have a
// mutex of their own. No operation recurses on the depth of a tree.
//
// Failures are reported through results (0, -1, the empty string, the null handle, a null
// pointer) and a log message through QorGLog; the only exception that passes through is the
// vectors' RWBoundsErr, where a member says so.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <new>
#include <string_view>

#include "Tree/String_Arr.h"
#include "Tree/Tree_IdNodeInfo.h"
#include "Tree/Tree_NodeAllocator.h"
#include "Tree/Tree_NodeInfo.h"
#include "Tree/Tree_NodeKind.h"
#include "Tree/Tree_NodePtr.h"
#include "Tree/Tree_NodePtrVec.h"
#include "Tree/Tree_NotifyList.h"
#include "Tree/Tree_Path.h"
#include "Tree/Tree_PathAndValueArray.h"
#include "host/Qor_PtrSortedVector.h"
#include "host/RWCString.h"
#include "host/RWTPtrOrderedVector.h"
#include "host/RWTValOrderedVector.h"

// The messages of one member that reads a child by rank (defined where they are used).
struct Tree_RankedChildTexts;

// A value text with an int change flag (nonzero: changed). Replacing the text leaves the
// flag alone; only the host and change trees set it. Values live in the node heap beside their
// nodes.
class Tree_Value : public Tree_NodeHeapObject {
 public:
  // Takes `value` by value, so a caller that moves its text in pays no copy.
  Tree_Value(RWCString value, int is_change) : m_value(std::move(value)), m_is_change(is_change) {}

  void SetValue(const RWCString& value) { m_value = value; }
  // A copy of the text.
  RWCString GetValue() const { return m_value; }
  // The text itself, without a copy.
  const RWCString& Value() const { return m_value; }
  int IsChange() const { return m_is_change; }
  void SetIsChange(int is_change) { m_is_change = is_change; }

 private:
  RWCString m_value;
  int m_is_change;
};

class Tree_Node {
 public:
  // ---- Statics -------------------------------------------------------------------------

  // The path separator: one backslash.
  static const RWCString separator;
  // The shared null handle that lookups return when they find nothing. Callers only read it.
  static Tree_NodePtr NULL_TREE_NODE_PTR;
  // The protection toggle (1) of every protected family the tree creates.
  static int TRUE_BOOL;

  // ---- Construction and fields -----------------------------------------------------------

  // A branch named `key_name`, stripped of blanks at both ends (logged at level 4). An empty
  // or all-blank name becomes "undefined_tree" and a number taken from the clock.
  explicit Tree_Node(RWCString key_name);
  // Whether the constructors keep `name` as it stands: not empty, no blank at either end.
  static bool IsKeptKeyName(std::string_view name) {
    return !name.empty() && name.front() != ' ' && name.back() != ' ';
  }
  // A leaf that owns `value`, or with a null `value` the same as the constructor above.
  Tree_Node(RWCString key_name, Tree_Value* value);
  // Unlinks the children (they become roots if other handles keep them) and releases the
  // value and the children vector. Iterative: a chain of any depth is destroyed in constant
  // stack space.
  ~Tree_Node();
  // Nodes are not copyable: copy subtrees with DuplicateFromHereDown.
  Tree_Node(const Tree_Node&) = delete;
  Tree_Node& operator=(const Tree_Node&) = delete;

  // A node made by `new` shares one allocation with the first handle family over it. The
  // allocation goes when both the node and that family have ended, in either order, so a
  // disowned family may outlive its node as before. Nodes elsewhere (on the stack, inside
  // other objects, by placement) work as before and give their families allocations of
  // their own.
  static void* operator new(std::size_t size);
  static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
  static void* operator new(std::size_t, void* where) noexcept { return where; }
  // Sized, so that a block of a derived class, which has no slot, is told apart.
  static void operator delete(void* node, std::size_t size) noexcept;
  static void operator delete(void* node, const std::nothrow_t&) noexcept;
  static void operator delete(void*, void*) noexcept {}

  RWCString GetKeyName() const { return m_key_name; }
  // The key name without a copy.
  const RWCString& KeyName() const { return m_key_name; }
  // 1 for a leaf (built with a value), else 0.
  int IsLeaf() const { return m_allows_children ? 0 : 1; }
  int IsAllowsChildren() const { return m_allows_children ? 1 : 0; }
  // The value, owned by the node; null (logged at level 7) when there is none.
  Tree_Value* GetTreeValue() const;
  // The value, or null without a message.
  Tree_Value* TreeValue() const { return m_tree_value.get(); }
  // Stores `value`, which the node then owns, and returns the value held before, which goes
  // back to the caller. Null also turns a leaf into a branch; a value never makes a leaf.
  Tree_Value* SetTreeValue(Tree_Value* value);
  Tree_Node* GetParent() { return m_parent; }
  const Tree_Node* GetParent() const { return m_parent; }
  // Stores the back link only; no children vector changes. Insert and Remove keep it.
  void SetParent(Tree_Node* parent) { m_parent = parent; }
  int GetId() const { return m_id; }
  void SetId(int id) { m_id = id; }
  bool GetMark() const { return m_mark; }
  void SetMark(bool mark) { m_mark = mark; }
  // The document type this node stands for (see Tree_NodeKind.h); untyped unless a reader or
  // the host sets it. Copies of the node carry it; nothing else in the library reads it.
  Tree_NodeKind GetKind() const { return m_kind; }
  void SetKind(Tree_NodeKind kind) { m_kind = kind; }

  // ---- Children and ancestry -------------------------------------------------------------

  // Appends `new_child` and returns 1. A child of this node moves to the end. Returns 0,
  // logging at level 3, when this node is a leaf or `new_child` is null or would make a
  // cycle; nothing changes then.
  int Add(const Tree_NodePtr& new_child);
  // Add for a handle the caller gives up: returns what Add returns and leaves `new_child`
  // null once it is added. A new node (no parent, no children, stored nowhere) cannot make a
  // cycle, so for one the handle moves into the children vector without Add's checks and
  // without a count change: what readers building a tree from the top call.
  int Add(Tree_NodePtr&& new_child);
  // Appends a new child named `key_name` as it stands, holding `value` (a leaf) or, with null,
  // a branch, of kind `kind`, and returns its node: what Add of a new node does, without the
  // name's stripping or the family slot's exchange, for readers that build a tree from the
  // top. When this node is a leaf or IsKeptKeyName refuses the name, it does what Add of
  // Tree_Node(key_name, value) does: returns that child, or null (level 3, the value freed)
  // when it was not added. Raises std::bad_alloc, with nothing changed, when the slots
  // cannot grow.
  Tree_Node* AddNewChild(RWCString&& key_name, Tree_Value* value, Tree_NodeKind kind);
  // Puts `new_child` at `child_index` and returns 1; a child that had a parent leaves it
  // first, and `child_index` counts after that. Returns 0 (level 3) like Add. Raises
  // RWBoundsErr, with nothing changed, unless 0 <= child_index <= the count after leaving.
  int Insert(const Tree_NodePtr& new_child, int child_index);
  // Removes the child at `child_index` and returns 1; it dies unless another handle keeps it.
  // Returns 0 (level 7) when this node never had children; raises RWBoundsErr, with nothing
  // changed, for an index out of range.
  int Remove(int child_index);
  // Removes the child that `a_child` holds: Remove(GetIndex(a_child)). Null: 0 (level 3).
  int Remove(const Tree_NodePtr& a_child);
  // Removes the first child whose key name equals `path` exactly (one name, not split).
  // Returns 0 when there is none; an empty `path` is refused at level 3.
  int Remove(const RWCString& path);

  // The handle stored for child `index` (not a copy), or NULL_TREE_NODE_PTR (level 3).
  Tree_NodePtr& GetChildAt(int index);
  // The node of child `index` for walks that keep the index in range themselves: inline, no
  // message, read from the slot without a load through the child's handle; RWBoundsErr unless
  // 0 <= index < GetChildCount().
  Tree_Node* ChildNodeAt(int index) const { return m_children.nodeAt(index); }
  // The stored handle of that child, for a walk that fetches it ahead.
  const Tree_NodePtr* ChildHandleAt(int index) const { return &m_children.at(index); }
  // The slot of the child that holds the node of `a_child`, or -1 (level 3 when this node
  // never had children).
  int GetIndex(const Tree_NodePtr& a_child) const;
  int GetChildCount() const { return m_children.entries(); }
  // Hints that this node's children (their count and slots) will be read soon, for walks that
  // fetch ahead; reads nothing but this node.
  void PrefetchChildSlots() const noexcept { m_children.PrefetchSlots(); }
  int IsEmpty() const { return GetChildCount() == 0 ? 1 : 0; }
  // 1 when `another_node` holds this node or one of its ancestors, else 0 (level 3 on null).
  int IsNodeAncestor(const Tree_NodePtr& another_node) const;
  // 1 when the node of `node` has this node as its parent, else 0 (level 3 on null).
  int IsNodeChild(const Tree_NodePtr& node) const;
  // The number of nodes in this subtree, this node included.
  int GetNodeNum() const;
  // Calls `fn` on every node of this subtree, depth first, parent before children, children
  // in slot order; child counts are read afresh at every step, so `fn` may add children.
  void ExecuteOnEntireSubtree(const std::function<void(Tree_Node*)>& fn);
  // Points the family of `handle` and of every handle stored below it at `toggle`: the caller
  // then switches the protection of the whole subtree with that one int, which must outlive
  // the families. Does nothing for a null handle.
  static void ChangeTreeNodePtrProtection(const Tree_NodePtr& handle, int& toggle);

  // ---- Paths -----------------------------------------------------------------------------

  // The key names from the root down to this node, joined by the separator. A root with a
  // virtual parent path reports that path instead of its key name.
  RWCString GetPath() const;
  RWCString GetVirtualParentPath() const {
    const Extras* const extras = LoadExtras();
    return extras != nullptr ? extras->virtual_parent_path : RWCString();
  }
  void SetVirtualParentPath(const RWCString& path) {
    if (path.isNull() && LoadExtras() == nullptr) return;
    GetExtras().virtual_parent_path = path;
  }

  // ---- Path resolution -------------------------------------------------------------------
  // `this_ptr` is this node's handle. Paths are relative to this node: the first element
  // names a child; an empty path, or an empty element, names the node reached so far. Names
  // match exactly, and among equal names the lowest index wins. A `...ByRef` result refers
  // to a stored handle, to `this_ptr` itself or to NULL_TREE_NODE_PTR, and is valid while
  // that handle stays where it is. Lookups log nothing and change nothing.

  // The child named `name`, `this_node` for an empty name, else null.
  Tree_Node* Get(const RWCString& name, Tree_Node* this_node);
  // A copy of the child's handle, of `this_ptr` for an empty name, else of the null handle.
  Tree_NodePtr Get(const RWCString& name, const Tree_NodePtr& this_ptr);
  Tree_NodePtr& GetByRef(const RWCString& name, Tree_NodePtr& this_ptr);

  // The node `path` names (consuming the cursor), or the null handle.
  Tree_NodePtr GetRelativeNode(Tree_Path& path, const Tree_NodePtr& this_ptr);
  Tree_NodePtr GetRelativeNode(const RWCString& path, const Tree_NodePtr& this_ptr);
  Tree_NodePtr& GetRelativeNodeByRef(Tree_Path& path, Tree_NodePtr& this_ptr);
  // As GetRelativeNode, walking from the node `this_ptr` holds, then null unless the node
  // found allows children.
  Tree_NodePtr GetRelativeSubTree(Tree_Path& path, const Tree_NodePtr& this_ptr);
  Tree_NodePtr& GetRelativeSubTreeByRef(Tree_Path& path, Tree_NodePtr& this_ptr);
  // The node `path` names, creating every missing node on the way as a branch appended to
  // its parent. New families are protected (toggle TRUE_BOOL). Never null: when a node on the
  // way is a leaf, the result is a new parentless node outside the tree, and the tree is
  // unchanged.
  Tree_NodePtr GetOrCreateRelativeNode(Tree_Path& path, const Tree_NodePtr& this_ptr);
  Tree_NodePtr GetOrCreateRelativeNode(const RWCString& path, const Tree_NodePtr& this_ptr);
  // The same, leaving the new families unprotected.
  Tree_NodePtr GetOrCreateUnProtectedRelativeNode(Tree_Path& path, const Tree_NodePtr& this_ptr);
  Tree_NodePtr GetOrCreateUnProtectedRelativeNode(const RWCString& path,
                                                  const Tree_NodePtr& this_ptr);

  // ---- Indexed access and counts ---------------------------------------------------------
  // Ranks count children of one kind only: value children (leaves) or sub trees. Failures
  // log at level 7 (one case at level 3) and return the empty string, the null handle or -1.

  // The value text of the node `path` names; empty when it names nothing, a sub tree, or a
  // node without value.
  RWCString GetValue(const RWCString& path, const Tree_NodePtr& this_ptr);
  // The value text, or the key name, of the value child of rank `index` of the node `path`
  // names.
  RWCString GetValue(const RWCString& path, int index, const Tree_NodePtr& this_ptr);
  RWCString GetValueName(const RWCString& path, int index, const Tree_NodePtr& this_ptr);
  // The sub-tree child of rank `index` of the node `path` names: a copy of its handle, or
  // the stored handle itself.
  Tree_NodePtr GetRelativeSubTree(const RWCString& path, int index, const Tree_NodePtr& this_ptr);
  Tree_NodePtr& GetRelativeSubTreeByRef(const RWCString& path, int index, Tree_NodePtr& this_ptr);
  // The number of sub-tree, or value, children of the node `path` names; -1 when it names
  // nothing.
  int GetSubTreeNum(const RWCString& path, const Tree_NodePtr& this_node);
  int GetValueNum(const RWCString& path, const Tree_NodePtr& this_ptr);

  // ---- Bulk listing ----------------------------------------------------------------------
  // One level only, in child order. The caller owns (and deletes) the result.

  // Key name and value of each value child of the node `path` names; null when it names
  // nothing (level 3) or has no value child (level 7).
  Tree_PathAndValueArray* GetSubTreeValues(const RWCString& path, const Tree_NodePtr& this_ptr);
  // Key name of each sub-tree child of the node `path` names; null as above.
  String_Arr* GetSubTreePaths(const RWCString& path, const Tree_NodePtr& this_ptr);

  // ---- Search ----------------------------------------------------------------------------

  // The full path of every node of this subtree from which `path` resolves, in pre-order,
  // each without its first element when `cut_root` is nonzero. Null for an empty path
  // (level 3) or no hit (level 7). The caller owns the result.
  String_Arr* Search(const RWCString& path, const Tree_NodePtr& this_ptr, int cut_root);

  // ---- Id records and the byte block -----------------------------------------------------

  // The id records of the subtree under `tree`, in pre-order with ids equal to indexes; the
  // top record has parent id -1 and no value. The caller owns the vector and its records.
  // Null, logged at level 3, for a null handle.
  static RWTPtrOrderedVector<Tree_IdNodeInfo>* GetIdNodeVecFromTree(const Tree_NodePtr& tree);
  // As GetIdNodeVecFromTree, limited to `depth_left` levels below the top (none when
  // negative), to nodes below the top with at most `max_sons` children, and stopping at the
  // node `stop_path` names (starting with the top's key name). A node whose children are left
  // out is marked incomplete in its record.
  static RWTPtrOrderedVector<Tree_IdNodeInfo>* GetPartialIdNodeVecFromTree(
      const Tree_NodePtr& tree, int depth_left, int max_sons, const RWCString& stop_path);
  // Consumes `vec` (every record and the vector) and returns the big-endian byte block of its
  // records, preceded by the virtual parent path when `full_info` is set; stores the block's
  // size in `size_of_ret`. The caller releases the block with delete[]. Null, with
  // `size_of_ret` untouched, for a null vector or a block that would not fit in an int
  // (level 3; the vector is still consumed).
  static char* GetSerializeIdNodeInfoVec(RWTPtrOrderedVector<Tree_IdNodeInfo>* vec,
                                         int& size_of_ret, RWCString virtual_parent_path,
                                         bool full_info);
  // Decodes a block written by GetSerializeIdNodeInfoVec with the same `full_info`: a new id
  // vector owned by the caller, and the virtual parent path (empty without `full_info`).
  // Checks every field against the `size` bytes and never reads past them. The records must
  // form a tree in pre-order, as the library's vectors do: ids equal to indexes, parent id -1
  // for the first record, and for every other the previous record or one of its ancestors;
  // completion flags are 0 or 1. A malformed block (also a null `buf` or a negative `size`)
  // gives null, logged at level 3, with `virtual_parent_path` untouched and, when
  // `error_offset` is given, the offset of the field that broke stored there.
  static RWTPtrOrderedVector<Tree_IdNodeInfo>* GetIdNodeInfoVecFromSerialized(
      const char* buf, int size, bool full_info, RWCString& virtual_parent_path,
      int* error_offset = nullptr);

  // ---- Path records and subtree building -------------------------------------------------

  // Inserts into `vec` one record for the node of `node` and for every node below it, with
  // paths under `parent_path`. Does nothing (level 3) for a null handle or vector.
  static void ConvertTreeNodeToVec(const Tree_NodePtr& node, const RWCString& parent_path,
                                   Qor_PtrSortedVector<Tree_NodeInfo>* vec);
  // Consumes `vec` and builds from its records a new subtree whose top is named after the
  // last element of `path` and reports `path` as its own. Returns the null handle for a null
  // vector, or (level 3) when a record has no parent to go under. A record whose path does
  // not begin with its parent path and a separator is skipped (level 3).
  static Tree_NodePtr BuildSubTree(Qor_PtrSortedVector<Tree_NodeInfo>* vec, const RWCString& path);

  // ---- Tree algebra ----------------------------------------------------------------------

  // A deep, detached copy of this subtree: same names, values and change flags, fresh
  // bookkeeping, unprotected families. A value set on a branch is not copied. The argument
  // has no effect.
  Tree_NodePtr DuplicateFromHereDown(bool deep = true) const;
  // A new tree: a copy of `second` into which copies of `first`'s nodes are merged at every
  // depth (Merge) or among the tops' children only (MergeOneLevel); `second` wins every
  // conflict, and a merged branch moves to the end of its parent's children. A leaf of the
  // copy refuses `first`'s children (Insert logs each at level 3). When one input is null,
  // the other input itself is returned. Linear in the size of both inputs.
  static Tree_NodePtr Merge(const Tree_NodePtr& first, const Tree_NodePtr& second);
  static Tree_NodePtr MergeOneLevel(const Tree_NodePtr& first, const Tree_NodePtr& second);
  // A new tree of the leaves below `node` whose change flag is nonzero (copied with flag 1)
  // and the branches leading to them; the null handle when nothing changed, or (level 3)
  // when `node` is null.
  static Tree_NodePtr GetChangesTreeNode(const Tree_NodePtr& node);
  // Removes, in place, every branch below this node that leads to no leaf, through
  // Remove(int), last child first. Returns whether this node still has a child or a value;
  // when not, logs "GetTreeValue(): return NULL" at level 7, as it does for each branch
  // below that loses all its children and holds no value.
  bool RemoveEmptyBranches();

  // ---- Checksums -------------------------------------------------------------------------
  // CRC-32 of the subtree (children's checksums, key name, value), cached in the node. The
  // cache is never cleared by the library: clear it with SetChecksum(any, true, false) on
  // every node to recompute, ancestors included. `pattern` names one node to leave out,
  // starting with this node's key name; null leaves nothing out.

  // The cached checksum, computed first (children in index order) unless it is valid or
  // `cached_only` is set.
  unsigned long GetChecksum(const char* pattern = nullptr, bool cached_only = false);
  // The same with the children in path order, so sibling order does not matter.
  unsigned long GetChecksumIgnoreOrder(const char* pattern = nullptr, bool cached_only = false);
  // Stores `value`; with `set_validity` also stores `validity` as the cache flag.
  void SetChecksum(unsigned int value, bool set_validity, bool validity);

  // ---- Completion ------------------------------------------------------------------------
  // A childless node is complete when its own flag is set; a node with children when all of
  // them are. Changes propagate up the parent chain; a node turning complete runs its
  // notifiers' Notify once (the list is then emptied), and every change of a node's count of
  // complete children sends MightNeedMove to its notifiers.

  bool IsSingleNodeComplete() const { return m_single_node_complete; }
  bool IsSubtreeComplete() const { return m_subtree_complete; }
  // Stores `complete`; a change re-evaluates this node and its ancestors.
  void SetSingleNodeComplete(bool complete);
  // Marks every childless node of this subtree complete.
  void SetSubtreeCompleteDownwards();

  // Notifier list forwarders (see Tree_NotifyList). The callbacks stay the host's.
  void AddSubtreeCompleteNotifier(Tree_NotifyList::Callback* cb) { GetExtras().notifiers.Add(cb); }
  void RemoveSubtreeCompleteNotifier(Tree_NotifyList::Callback* cb) {
    GetExtras().notifiers.Remove(cb);
  }
  void LockNotifiersList() { GetExtras().notifiers.Lock(); }
  void ReleaseNotifiersList() { GetExtras().notifiers.Release(); }

 private:
  friend struct Tree_NodeTestAccess;  // white-box checks in tests/
  friend struct Tree_FamilySlot<Tree_Node>;
  friend class Tree_NodePtrVec;  // stores a child's handle in the child's m_stored

  int Init(RWCString& key_name, Tree_Value* value);
  // A node named `key_name` as it stands, which must be one another node kept (not empty, no
  // blank at either end), owning `value` (a leaf) or, with null, a branch: what the
  // constructors make of such a name, without stripping it again.
  struct KeptName {};
  Tree_Node(const RWCString& key_name, Tree_Value* value, KeptName);
  Tree_Node(RWCString&& key_name, Tree_Value* value, KeptName);
  // Appends `child` as Insert would at the end, when `child` is a new parentless node whose
  // only handle is `child` and whose subtree is complete, and this node allows children and
  // has room reserved for it: no check, no walk up the parents, and the handle moves into the
  // child's stored handle without a count change. The count of complete children is left to
  // the caller, which sets it once for all of them.
  void AdoptCopy(Tree_NodePtr&& child);
  // The first handle over `node`, just made by `new` on this thread and known to no other:
  // its family slot is taken without the exchange that guards a slot two threads may claim.
  static Tree_NodePtr FirstHandle(Tree_Node* node);

  // What few nodes carry, in one block made by the first use: the virtual parent path and the
  // notifier list. Published with one atomic exchange, since hosts may register notifiers on
  // one node from several threads at once.
  struct Extras {
    RWCString virtual_parent_path;
    Tree_NotifyList notifiers;
  };
  const Extras* LoadExtras() const noexcept { return m_extras.load(std::memory_order_acquire); }
  Extras& GetExtras() const;
  // Whether any notifier watches this node; reads the count without the list's mutex.
  bool HasNotifiers() const noexcept {
    const Extras* const extras = LoadExtras();
    return extras != nullptr && !extras->notifiers.UnprotectedIsEmpty();
  }

  // The stored handle of child `index`, which the caller keeps in range; no message.
  Tree_NodePtr& ChildHandle(int index) const { return m_children.at(index); }
  // The stored handle of the first child named `name`, or null; constant time past a few
  // children (see Tree_NodePtrVec).
  Tree_NodePtr* FindChild(std::string_view name) const;
  // The same with the child's node, read without a load through the handle; `next` says
  // what the caller reads of the child found (see Tree_NodePtrVec::find).
  Tree_NodePtrVec::Found FindChildAndNode(
      std::string_view name, Tree_NodePtrVec::Next next = Tree_NodePtrVec::Next::kNothing) const {
    return m_children.find(name, next);
  }
  // Index of the first child named `name`, or -1.
  int FindChildIndex(std::string_view name) const;
  // Whether `node` is this node or one of its ancestors; no message.
  bool HasAncestor(const Tree_Node* node) const;

  // The walks behind the public lookups. `first` is the node whose children the first
  // element names; the result is `this_ptr`, a stored handle or NULL_TREE_NODE_PTR.
  static const Tree_NodePtr& Walk(const Tree_Node* first, Tree_Path& path,
                                  const Tree_NodePtr& this_ptr);
  // The same walk, giving the handle found (null for none) and its node; `last` says what the
  // caller reads of the node found.
  static Tree_NodePtrVec::Found WalkToNode(
      const Tree_Node* first, Tree_Path& path, const Tree_NodePtr& this_ptr,
      Tree_NodePtrVec::Next last = Tree_NodePtrVec::Next::kNothing);
  static const Tree_NodePtr& SubTreeOnly(const Tree_NodePtr& found);
  Tree_NodePtr WalkCreating(Tree_Path& path, const Tree_NodePtr& this_ptr, bool protect);

  // The stored handle of the child of the wanted kind and rank `index` under the node `path`
  // names, or null after the failure message of `texts`.
  const Tree_NodePtr* FindRankedChild(const RWCString& path, int index,
                                      const Tree_NodePtr& this_ptr, bool want_sub_tree,
                                      const Tree_RankedChildTexts& texts);

  void Search(const RWCString& path, const Tree_NodePtr& this_ptr,
              RWTValOrderedVector<RWCString>& ret);
  // True when `path` equals `name`; false with `rest` just past the separator when `path`
  // goes on below `name`; false with `rest` null otherwise.
  static bool IsPathHit(const char* path, const char* name, const char*& rest);

  static void FillIdNode(Tree_IdNodeInfo& info, const Tree_NodePtr& node, bool with_value,
                         int parent_id, int id);
  static void FillIdVecFromTree(const Tree_NodePtr& node, RWTPtrOrderedVector<Tree_IdNodeInfo>* vec,
                                int& last_id, int parent_id);
  static void FillPartialIdVecFromTree(const Tree_NodePtr& node,
                                       RWTPtrOrderedVector<Tree_IdNodeInfo>* vec, int& last_id,
                                       int parent_id, int depth_left, int max_sons,
                                       RWCString stop_path, bool is_top);
  // The size of the block the writer makes of the same arguments: 0 for a null vector, -1
  // when it would not fit in an int.
  static int GetInfoVecLen(RWTPtrOrderedVector<Tree_IdNodeInfo>* vec, RWCString virtual_parent_path,
                           bool full_info);
  // Writes `*value` as 4 big-endian bytes at `buf + offset`.
  static void WriteIntToChar(int* value, char* buf, int offset);

  void CalculateChecksum(const char* pattern);
  void CalculateChecksumIgnoreOrder(const char* pattern);
  // The post-order walk behind both: children in index order, or by key name when
  // `ignore_order` is set.
  void CalculateChecksumWalk(const char* pattern, bool ignore_order);

  void SetSubtreeComplete(bool complete);
  void IncDecCompleteSons(int change);
  void UpdateCompletionStatus();

  // With the family slot after it the block is 128 bytes, one of the node heap's size classes,
  // aligned to 64. The first 64 bytes hold what a walk by path reads of the nodes it passes
  // and finds: the key name, the children vector, the value, the parent link, the flags and
  // the count of complete children (see Tree_NodePtrVec).
  RWCString m_key_name;
  Tree_NodePtrVec m_children;  // one word: no allocation below two children
  std::unique_ptr<Tree_Value> m_tree_value;
  Tree_Node* m_parent = nullptr;
  int m_complete_sons = 0;
  // A byte of its own: a lookup may compute and cache a checksum while other threads read.
  bool m_checksum_valid = false;
  // Made by operator new, so a family slot follows the node in its allocation. Read by
  // handles made on several threads at once, so a byte of its own as well.
  bool m_in_block = false;
  Tree_NodeKind m_kind = Tree_NodeKind::kUntyped;
  // Changed only by changes to the tree, which the host keeps to one thread.
  bool m_allows_children : 1 = true;
  bool m_single_node_complete : 1 = true;
  bool m_subtree_complete : 1 = true;
  bool m_mark : 1 = false;
  // The handle the parent's children vector stores for this node (null while parentless):
  // kept in the node, it costs no allocation of its own and keeps its address while the
  // node stays a child, whatever its siblings do.
  Tree_NodePtr m_stored;
  // Owned; null until the first use (see Extras).
  mutable std::atomic<Extras*> m_extras{nullptr};
  int m_id = 0;
  unsigned int m_checksum = 0;
};

// Defined here, where a node is complete, so that inline child access needs no load through
// a stored handle.
[[gnu::always_inline]] inline Tree_Node* Tree_NodePtrVec::NodeOf(Slot slot) noexcept {
  if ((slot & kOwnBlock) != 0) return HandleOf(slot)->get();
    // A node is not standard-layout (its handle member has a virtual destructor); GCC and Clang
    // give offsetof its plain meaning for such a class, which has no virtual base.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  constexpr std::size_t kStoredOffset = offsetof(Tree_Node, m_stored);
#pragma GCC diagnostic pop
  static_assert(kStoredOffset % alignof(Tree_NodePtr) == 0 && alignof(Tree_NodePtr) >= 4,
                "a slot's bit 1 is always clear");
  return reinterpret_cast<Tree_Node*>(slot - kStoredOffset);
}

inline Tree_Node* Tree_NodePtrVec::nodeAt(int i) const {
  const Span span = Slots();
  return NodeOf(span.slots[Checked(i, span.size)]);
}
