#include "Tree/Tree_NotifyList.h"

#include <ace/Guard_T.h>
#include <ace/Recursive_Thread_Mutex.h>

#include <algorithm>
#include <memory>
#include <vector>

using Guard = ACE_Guard<ACE_Recursive_Thread_Mutex>;

struct Tree_NotifyList::State {
  void UpdateCount() noexcept { count.store(callbacks.size(), std::memory_order_release); }

  ACE_Recursive_Thread_Mutex mutex;
  std::vector<Callback*> callbacks;
  // The size of `callbacks`, readable without the mutex.
  std::atomic<std::size_t> count{0};
};

Tree_NotifyList::Tree_NotifyList(const Tree_NotifyList& other) {
  State* const source = other.LoadState();
  if (source == nullptr) return;
  Guard guard(source->mutex);
  if (source->callbacks.empty()) return;
  State& state = GetState();
  state.callbacks = source->callbacks;
  state.UpdateCount();
}

Tree_NotifyList& Tree_NotifyList::operator=(const Tree_NotifyList& other) {
  if (this == &other) return *this;
  std::vector<Callback*> entries;
  if (State* const source = other.LoadState()) {
    Guard guard(source->mutex);
    entries = source->callbacks;
  }
  if (entries.empty() && LoadState() == nullptr) return *this;
  State& state = GetState();
  Guard guard(state.mutex);
  state.callbacks = std::move(entries);
  state.UpdateCount();
  return *this;
}

Tree_NotifyList::~Tree_NotifyList() {
  delete LoadState();
}

Tree_NotifyList::State& Tree_NotifyList::GetState() const {
  State* state = LoadState();
  if (state != nullptr) return *state;
  auto created = std::make_unique<State>();
  if (m_state.compare_exchange_strong(state, created.get(), std::memory_order_acq_rel)) {
    return *created.release();
  }
  return *state;  // another thread created it first; ours is destroyed
}

bool Tree_NotifyList::UnprotectedIsEmpty() const noexcept {
  const State* const state = LoadState();
  return state == nullptr || state->count.load(std::memory_order_acquire) == 0;
}

void Tree_NotifyList::Add(Callback* cb) {
  if (cb == nullptr) return;
  State& state = GetState();
  Guard guard(state.mutex);
  state.callbacks.push_back(cb);
  state.UpdateCount();
}

// The members below have nothing to do on a list that was never used: every entry was added
// through GetState, so a list without a state has none.

void Tree_NotifyList::Remove(Callback* cb) {
  State* const state = LoadState();
  if (state == nullptr) return;
  Guard guard(state->mutex);
  auto found = std::find(state->callbacks.begin(), state->callbacks.end(), cb);
  if (found == state->callbacks.end()) return;
  state->callbacks.erase(found);
  state->UpdateCount();
}

void Tree_NotifyList::NotifyAll() {
  State* const state = LoadState();
  if (state == nullptr) return;
  Guard guard(state->mutex);
  // Indexes, not iterators: a misbehaving callback that changes the list must not leave the
  // walk with a dangling position.
  for (std::size_t i = 0; i < state->callbacks.size(); ++i) state->callbacks[i]->Notify();
  state->callbacks.clear();
  state->UpdateCount();
}

void Tree_NotifyList::SendMightNeedMove(const Tree_NodePtr& node) {
  State* const state = LoadState();
  if (state == nullptr) return;
  Guard guard(state->mutex);
  const std::vector<Callback*> snapshot = state->callbacks;
  for (Callback* cb : snapshot) cb->MightNeedMove(node);
}

void Tree_NotifyList::Lock() {
  GetState().mutex.acquire();
}

void Tree_NotifyList::Release() {
  if (State* const state = LoadState()) state->mutex.release();
}

std::size_t Tree_NotifyList::Size() {
  State* const state = LoadState();
  if (state == nullptr) return 0;
  Guard guard(state->mutex);
  return state->callbacks.size();
}
