// The store's retry policy.
#include "store/Tree_ZkRetry.h"

#include <algorithm>
#include <random>
#include <thread>

#include "store/Tree_ZkSession.h"

namespace tree_zk {

RetryPolicy::RetryPolicy(int timeout_ms, int first_delay_ms, int max_delay_ms)
    : m_deadline(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms)),
      m_first_ms(std::max(first_delay_ms, 1)),
      m_max_ms(std::max(max_delay_ms, first_delay_ms)),
      m_step_ms(m_first_ms) {}

std::chrono::milliseconds RetryPolicy::NextDelay() {
  thread_local std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<int> draw(m_step_ms / 2, m_step_ms + m_step_ms / 2);
  const int delay = std::max(draw(random), 1);
  m_step_ms = std::min(m_step_ms * 2, m_max_ms);
  return std::chrono::milliseconds(delay);
}

bool RetryPolicy::Again(const std::string& why) {
  const std::chrono::milliseconds delay = NextDelay();
  if (std::chrono::steady_clock::now() + delay > m_deadline) return false;
  Log(4, __LINE__, why + "; trying again in " + std::to_string(delay.count()) + " ms");
  std::this_thread::sleep_for(delay);
  return true;
}

}  // namespace tree_zk
