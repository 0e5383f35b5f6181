// Holder of a handle family's shared counter. It is one word: the address of the int that
// decides whether counter changes are atomic. While that int is nonzero, change_count is one
// atomic read-modify-write; while it is 0, plain arithmetic (one thread at a time).
#pragma once

#include <atomic>

template <class T>
class ThreadAPI_AutoPtrThreadToggle;

class MutexHolder {
 public:
  // Designates the holder's default toggle, which is 0: unprotected.
  MutexHolder() noexcept : m_toggle(&s_default_toggle) {}

  // From now on `toggle` decides; the caller keeps the int alive as long as the holder.
  void SetToggle(int* toggle) noexcept { m_toggle = toggle ? toggle : &s_default_toggle; }
  const int* GetToggle() const noexcept { return m_toggle; }
  // Whether changes made now would be atomic.
  bool IsProtected() const noexcept {
    // The toggle may be flipped by its owner while other threads count; reading it through
    // an atomic reference keeps that read well defined.
    return std::atomic_ref<int>(*m_toggle).load(std::memory_order_relaxed) != 0;
  }

 protected:
  template <class T>
  friend class ThreadAPI_AutoPtrThreadToggle;

  // Adds `change` to `*count` and returns the new value as an int, atomically while the
  // toggle is on. A count is the number of live handles of one family, far below INT_MAX.
  int change_count(long* count, int change) const noexcept {
    if (IsProtected()) {
      // acq_rel: the release that reaches 0 sees every write made through other handles.
      return static_cast<int>(
          std::atomic_ref<long>(*count).fetch_add(change, std::memory_order_acq_rel) + change);
    }
    *count += change;
    return static_cast<int>(*count);
  }

 private:
  static int s_default_toggle;
  int* m_toggle;
};
