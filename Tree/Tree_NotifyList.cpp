#include "Tree/Tree_NotifyList.h"

#include <ace/Guard_T.h>
#include <ace/Recursive_Thread_Mutex.h>

#include <algorithm>
#include <memory>

using Guard = ACE_Guard<ACE_Recursive_Thread_Mutex>;

Tree_NotifyList::Tree_NotifyList(const Tree_NotifyList& other) {
  Guard guard(other.Mutex());
  if (other.m_callbacks != nullptr && !other.m_callbacks->empty()) {
    m_callbacks = std::make_unique<std::vector<Callback*>>(*other.m_callbacks);
  }
  UpdateCount();
}

Tree_NotifyList& Tree_NotifyList::operator=(const Tree_NotifyList& other) {
  if (this == &other) return *this;
  std::unique_ptr<std::vector<Callback*>> entries;
  {
    Guard guard(other.Mutex());
    if (other.m_callbacks != nullptr && !other.m_callbacks->empty()) {
      entries = std::make_unique<std::vector<Callback*>>(*other.m_callbacks);
    }
  }
  Guard guard(Mutex());
  m_callbacks = std::move(entries);
  UpdateCount();
  return *this;
}

Tree_NotifyList::~Tree_NotifyList() {
  delete m_mutex.load(std::memory_order_acquire);
}

ACE_Recursive_Thread_Mutex& Tree_NotifyList::Mutex() const {
  ACE_Recursive_Thread_Mutex* mutex = m_mutex.load(std::memory_order_acquire);
  if (mutex != nullptr) return *mutex;
  auto created = std::make_unique<ACE_Recursive_Thread_Mutex>();
  if (m_mutex.compare_exchange_strong(mutex, created.get(), std::memory_order_acq_rel)) {
    return *created.release();
  }
  return *mutex;  // another thread created it first; ours is destroyed
}

void Tree_NotifyList::Add(Callback* cb) {
  if (cb == nullptr) return;
  Guard guard(Mutex());
  if (m_callbacks == nullptr) m_callbacks = std::make_unique<std::vector<Callback*>>();
  m_callbacks->push_back(cb);
  UpdateCount();
}

void Tree_NotifyList::Remove(Callback* cb) {
  Guard guard(Mutex());
  if (m_callbacks == nullptr) return;
  auto found = std::find(m_callbacks->begin(), m_callbacks->end(), cb);
  if (found == m_callbacks->end()) return;
  m_callbacks->erase(found);
  UpdateCount();
}

void Tree_NotifyList::NotifyAll() {
  Guard guard(Mutex());
  // Indexes, not iterators: a misbehaving callback that changes the list must not leave the
  // walk with a dangling position.
  if (m_callbacks == nullptr) return;
  for (std::size_t i = 0; i < m_callbacks->size(); ++i) (*m_callbacks)[i]->Notify();
  m_callbacks->clear();
  UpdateCount();
}

void Tree_NotifyList::SendMightNeedMove(const Tree_NodePtr& node) {
  Guard guard(Mutex());
  if (m_callbacks == nullptr) return;
  const std::vector<Callback*> snapshot = *m_callbacks;
  for (Callback* cb : snapshot) cb->MightNeedMove(node);
}

void Tree_NotifyList::Lock() {
  Mutex().acquire();
}

void Tree_NotifyList::Release() {
  if (ACE_Recursive_Thread_Mutex* mutex = m_mutex.load(std::memory_order_acquire)) {
    mutex->release();
  }
}

std::size_t Tree_NotifyList::Size() {
  Guard guard(Mutex());
  return m_callbacks != nullptr ? m_callbacks->size() : 0;
}
