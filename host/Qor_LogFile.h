// The host log. Every message goes through the pair StoreParams/Log on the global QorGLog:
// StoreParams records where the message comes from and says whether it will be read;
// Log formats it and hands it to the sink. The parameters are kept per thread, so threads
// that share QorGLog never mix attributions.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

// One formatted message with its attribution.
struct Qor_LogRecord {
  std::string module;
  int line = 0;
  int level = 0;
  int component = 0;
  int flag = 0;
  std::string text;
};

class Qor_LogFile {
 public:
  using Sink = std::function<void(const Qor_LogRecord&)>;

  static constexpr int kDefaultMaxLevel = 3;

  Qor_LogFile() = default;
  Qor_LogFile(const Qor_LogFile&) = delete;
  Qor_LogFile& operator=(const Qor_LogFile&) = delete;

  // Records the attribution of the next message of this thread. Returns nonzero when `level`
  // is at most the maximum level, that is when the caller should go on and call Log; a
  // disabled level costs this one comparison. `module` must outlive the matching Log call.
  int StoreParams(const char* module, int line, int level, int component, int flag) {
    if (level > m_max_level.load(std::memory_order_relaxed)) return 0;
    StoreThreadParams(module, line, level, component, flag);
    return 1;
  }

  // Formats the message printf-style and hands it, with this thread's stored attribution,
  // to the sink. Thread-safe; the sink may be called from several threads at once.
  void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // Replaces the sink; an empty one restores the default, which writes
  // "<module>:<line> [<level>] <text>" to standard error. Thread-safe.
  void SetSink(Sink sink);

  // Messages with a level above `level` are dropped before they are formatted.
  void SetMaxLevel(int level) { m_max_level.store(level, std::memory_order_relaxed); }
  int GetMaxLevel() const { return m_max_level.load(std::memory_order_relaxed); }

 private:
  static void StoreThreadParams(const char* module, int line, int level, int component, int flag);

  std::atomic<int> m_max_level{kDefaultMaxLevel};
  std::mutex m_sink_mutex;
  std::shared_ptr<const Sink> m_sink;  // null: the default sink
};

// The process-wide log instance used by the library.
extern Qor_LogFile QorGLog;
