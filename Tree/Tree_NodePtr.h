// Reference-counted node handle. Copies of one handle form a family that shares the node,
// one counter, one owner flag and one MutexHolder; the last release of an owning family
// deletes the node. The family's protection toggle (an int it points to) decides whether
// count changes are atomic, so a protected family may be copied and released from several
// threads at once. One handle object is never used by two threads at once.
#pragma once

#include <atomic>
#include <cstddef>
#include <new>
#include <utility>

#include "host/MutexHolder.h"

// Counter, owner flag and holder of one handle family. A family normally has an allocation of
// its own; a node made by `new` lends the first family over it a slot in its own allocation
// (see Tree_FamilySlot), which saves one allocation per node.
struct Tree_HandleFamily {
  // The states of a lent slot: a family uses it, the node it belongs to has been deleted.
  static constexpr unsigned char kTaken = 1;
  static constexpr unsigned char kNodeGone = 2;

  long count = 1;
  int is_owner = 1;
  // Whether this family is the slot at the start of its node's allocation.
  bool in_node_block = false;
  // For a slot only: kTaken and kNodeGone. The later of the family's end and the node's
  // deletion frees the allocation.
  std::atomic<unsigned char> slot_state{0};
  MutexHolder holder;
};

// Where the first family over a T may live. By default in an allocation of its own; a class
// that keeps a slot in its allocation specialises Claim to return the slot, taken and reset
// to count 1 and owner, or null when it has none free.
// FreeBlock frees the allocation of a slot whose node was deleted before its family ended.
template <class T>
struct Tree_FamilySlot {
  static Tree_HandleFamily* Claim(T*) noexcept { return nullptr; }
  static void FreeBlock(Tree_HandleFamily* slot) noexcept { ::operator delete(slot); }
};

template <class T>
class ThreadAPI_AutoPtrThreadToggle {
 public:
  // A null handle: holds no node and allocates nothing.
  constexpr ThreadAPI_AutoPtrThreadToggle() noexcept = default;

  // Starts a new owning, unprotected family over `p`. A null `p` gives a null handle. Should
  // the family's allocation fail, `p` is deleted before the exception leaves. Implicit, so a
  // new node may be passed wherever a handle is expected.
  ThreadAPI_AutoPtrThreadToggle(T* p) : m_ptr(p) {  // NOLINT(google-explicit-constructor)
    if (p == nullptr) return;
    m_family = Tree_FamilySlot<T>::Claim(p);
    if (m_family != nullptr) return;
    try {
      m_family = new Family;
    } catch (...) {
      delete p;
      throw;
    }
  }

  // Joins the family of `other`.
  ThreadAPI_AutoPtrThreadToggle(const ThreadAPI_AutoPtrThreadToggle& other) noexcept
      : m_ptr(other.m_ptr), m_family(other.m_family) {
    if (m_family != nullptr) m_family->holder.change_count(&m_family->count, +1);
  }

  // Takes over the reference of `other`, which becomes a null handle; no count changes.
  ThreadAPI_AutoPtrThreadToggle(ThreadAPI_AutoPtrThreadToggle&& other) noexcept
      : m_ptr(std::exchange(other.m_ptr, nullptr)),
        m_family(std::exchange(other.m_family, nullptr)) {}

  // Does nothing when both hold the same node (even across families, and for two null
  // handles). Otherwise takes the new reference before it releases the old one, so `other`
  // may live inside the node this handle alone keeps alive.
  ThreadAPI_AutoPtrThreadToggle& operator=(const ThreadAPI_AutoPtrThreadToggle& other) noexcept {
    if (m_ptr == other.m_ptr) return *this;
    ThreadAPI_AutoPtrThreadToggle copy(other);
    Swap(copy);
    return *this;
  }

  // As the copy: does nothing when both hold the same node (`other` then keeps its
  // reference); otherwise takes over the reference of `other` and releases the old one.
  ThreadAPI_AutoPtrThreadToggle& operator=(ThreadAPI_AutoPtrThreadToggle&& other) noexcept {
    if (m_ptr == other.m_ptr) return *this;
    ThreadAPI_AutoPtrThreadToggle taken(std::move(other));
    Swap(taken);
    return *this;
  }

  // Releases this handle's reference; the last release of an owning family deletes the node.
  virtual ~ThreadAPI_AutoPtrThreadToggle() { Release(); }

  // Points the whole family, every copy included, at `toggle`: while it is nonzero, count
  // changes are atomic. The caller keeps the int alive as long as the family. Does nothing
  // on a null handle.
  void SetToggle(int* toggle) const noexcept {
    if (m_family != nullptr) m_family->holder.SetToggle(toggle);
  }

  // Clears the family's owner flag for good and returns the node: from now on no release of
  // this family deletes it.
  T* Disown() const noexcept {
    if (m_family != nullptr) m_family->is_owner = 0;
    return m_ptr;
  }

  T* get() const noexcept { return m_ptr; }
  T* operator->() const noexcept { return m_ptr; }
  T& operator*() const noexcept { return *m_ptr; }
  explicit operator bool() const noexcept { return m_ptr != nullptr; }

  // Number of live handles in this family; 0 for a null handle. Exact only while no other
  // thread changes the count.
  long UseCount() const noexcept { return m_family != nullptr ? m_family->count : 0; }
  // Whether the family's last release deletes the node; false for a null handle.
  bool IsOwner() const noexcept { return m_family != nullptr && m_family->is_owner != 0; }
  // Whether count changes are atomic right now; false for a null handle.
  bool IsProtected() const noexcept {
    return m_family != nullptr && m_family->holder.IsProtected();
  }
  // Whether the two handles are copies of one family (two null handles are).
  bool SharesFamilyWith(const ThreadAPI_AutoPtrThreadToggle& other) const noexcept {
    return m_family == other.m_family;
  }

  // Two handles are equal when they hold the same node, whatever their families.
  friend bool operator==(const ThreadAPI_AutoPtrThreadToggle& a,
                         const ThreadAPI_AutoPtrThreadToggle& b) noexcept {
    return a.m_ptr == b.m_ptr;
  }
  // Compares with a raw pointer without making a temporary handle, which would start a
  // second owning family over a live node and delete it at the end of the expression.
  friend bool operator==(const ThreadAPI_AutoPtrThreadToggle& a, const T* b) noexcept {
    return a.m_ptr == b;
  }
  friend bool operator==(const ThreadAPI_AutoPtrThreadToggle& a, std::nullptr_t) noexcept {
    return a.m_ptr == nullptr;
  }

 private:
  using Family = Tree_HandleFamily;

  void Swap(ThreadAPI_AutoPtrThreadToggle& other) noexcept {
    std::swap(m_ptr, other.m_ptr);
    std::swap(m_family, other.m_family);
  }

  void Release() noexcept {
    Family* family = std::exchange(m_family, nullptr);
    T* ptr = std::exchange(m_ptr, nullptr);
    if (family == nullptr) return;
    if (family->holder.change_count(&family->count, -1) != 0) return;
    if (!family->in_node_block) {
      if (family->is_owner != 0) delete ptr;
      delete family;
    } else if (family->is_owner != 0) {
      // The node is alive and nothing else reaches it: the slot goes back to it, and its
      // deletion frees the allocation, slot included.
      family->slot_state.store(0, std::memory_order_release);
      delete ptr;
    } else if ((family->slot_state.fetch_and(static_cast<unsigned char>(~Family::kTaken),
                                             std::memory_order_acq_rel) &
                Family::kNodeGone) != 0) {
      Tree_FamilySlot<T>::FreeBlock(family);  // the node was deleted before
    }
  }

  // Starts the first family over `p` in `family`, a slot its caller took for it: no
  // allocation and no claim. Only T makes these, for nodes no other thread knows yet.
  friend T;
  ThreadAPI_AutoPtrThreadToggle(T* p, Family* family) noexcept : m_ptr(p), m_family(family) {}

  T* m_ptr = nullptr;
  Family* m_family = nullptr;
};

class Tree_Node;
// A node made by `new` keeps a family slot in front of it (defined with Tree_Node).
template <>
struct Tree_FamilySlot<Tree_Node> {
  static Tree_HandleFamily* Claim(Tree_Node* node) noexcept;
  static void FreeBlock(Tree_HandleFamily* slot) noexcept;
};
// The node handle used throughout the library.
using Tree_NodePtr = ThreadAPI_AutoPtrThreadToggle<Tree_Node>;
