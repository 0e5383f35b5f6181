// Internal to the store: the one retry policy of every operation. An operation that meets a
// connection loss, a leader change or a lost version check tries again after a randomised,
// growing delay, for as long as its timeout allows.
#pragma once

#include <chrono>
#include <string>

namespace tree_zk {

class RetryPolicy {
 public:
  // Attempts may start until `timeout_ms` after construction; delays start near
  // `first_delay_ms` and double up to `max_delay_ms`, each drawn from half to one and a half
  // times the current step, so that writers that collided spread out.
  explicit RetryPolicy(int timeout_ms, int first_delay_ms = 5, int max_delay_ms = 500);
  // Logs `why` at level 4, sleeps the next delay and returns true, or returns false at once
  // when the delay would end past the timeout.
  bool Again(const std::string& why);
  // The next delay, drawn as Again draws it, without sleeping (for the replica's backoff).
  std::chrono::milliseconds NextDelay();
  void Reset() { m_step_ms = m_first_ms; }

 private:
  std::chrono::steady_clock::time_point m_deadline;
  int m_first_ms;
  int m_max_ms;
  int m_step_ms;
};

}  // namespace tree_zk
