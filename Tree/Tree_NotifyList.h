// A node's list of host callbacks, guarded by a re-entrant mutex of its own. The mutex and the
// entries are created on first use, so the many nodes that never get a callback cost one null
// pointer and no lock.
// Callbacks belong to the host: the list holds plain pointers and never deletes them.
#pragma once

#include <atomic>
#include <cstddef>

#include "Tree/Tree_NodePtr.h"

class ACE_Recursive_Thread_Mutex;

class Tree_NotifyList {
 public:
  // Implemented by hosts. The library never copies or destroys a callback.
  class Callback {
   public:
    // The subtree of the list's node has become complete. Runs with the list's mutex held;
    // it must not add to or remove from the same list (the list is emptied afterwards).
    virtual void Notify() = 0;
    // The count of complete children of `node` changed. Runs with the list's mutex held;
    // it may add to or remove from the list, which affects the next walk only.
    virtual void MightNeedMove(const Tree_NodePtr& node) = 0;

   protected:
    Callback() = default;
    Callback(const Callback&) = default;
    Callback& operator=(const Callback&) = default;
    ~Callback() = default;
  };

  Tree_NotifyList() = default;
  // Copies the callback pointers in order; the copy has a mutex of its own.
  Tree_NotifyList(const Tree_NotifyList& other);
  Tree_NotifyList& operator=(const Tree_NotifyList& other);
  // Destroys the mutex and the entries; the callbacks themselves are left alone.
  ~Tree_NotifyList();

  // Appends `cb` under the mutex; a pointer already present is appended again. Null is
  // ignored.
  void Add(Callback* cb);
  // Removes the first entry equal to `cb` under the mutex; does nothing if there is none.
  void Remove(Callback* cb);
  // Under the mutex, calls Notify on every entry from front to back, then empties the list.
  void NotifyAll();
  // Under the mutex, calls MightNeedMove(node) on a snapshot of the entries, in order; the
  // list keeps its entries.
  void SendMightNeedMove(const Tree_NodePtr& node);

  // Acquire and release the list's mutex on behalf of a host (re-entrant for the owner).
  void Lock();
  void Release();

  // True when the list holds no entry. Reads the count without the mutex: the answer may be
  // outdated by the time the caller acts on it.
  bool UnprotectedIsEmpty() const noexcept;
  // Number of entries, read under the mutex.
  std::size_t Size();

 private:
  struct State;
  // The list's state, created on first use; null while the list was never used.
  State& GetState() const;
  State* LoadState() const noexcept { return m_state.load(std::memory_order_acquire); }

  // One word while unused: a node carries a list whether or not a host ever watches it.
  mutable std::atomic<State*> m_state{nullptr};
};
