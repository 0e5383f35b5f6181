#include "host/Qor_LogFile.h"

#include <cstdarg>
#include <cstdio>

Qor_LogFile QorGLog;

namespace {

struct ThreadParams {
  const char* module = "";
  int line = 0;
  int level = 0;
  int component = 0;
  int flag = 0;
};

thread_local ThreadParams t_params;

void WriteToStandardError(const Qor_LogRecord& record) {
  std::fprintf(stderr, "%s:%d [%d] %s", record.module.c_str(), record.line, record.level,
               record.text.c_str());
}

}  // namespace

void Qor_LogFile::StoreThreadParams(const char* module, int line, int level, int component,
                                    int flag) {
  t_params = ThreadParams{module ? module : "", line, level, component, flag};
}

void Qor_LogFile::Log(const char* format, ...) {
  Qor_LogRecord record;
  record.module = t_params.module;
  record.line = t_params.line;
  record.level = t_params.level;
  record.component = t_params.component;
  record.flag = t_params.flag;

  if (format != nullptr) {
    char small[512];
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (needed >= 0 && static_cast<std::size_t>(needed) < sizeof small) {
      record.text.assign(small, static_cast<std::size_t>(needed));
    } else if (needed >= 0) {
      record.text.resize(static_cast<std::size_t>(needed));
      std::vsnprintf(record.text.data(), record.text.size() + 1, format, again);
    }
    va_end(again);
  }

  std::shared_ptr<const Sink> sink;
  {
    std::lock_guard<std::mutex> lock(m_sink_mutex);
    sink = m_sink;
  }
  if (sink) {
    (*sink)(record);
  } else {
    WriteToStandardError(record);
  }
}

void Qor_LogFile::SetSink(Sink sink) {
  std::shared_ptr<const Sink> replacement;
  if (sink) replacement = std::make_shared<const Sink>(std::move(sink));
  std::lock_guard<std::mutex> lock(m_sink_mutex);
  m_sink = std::move(replacement);
}
