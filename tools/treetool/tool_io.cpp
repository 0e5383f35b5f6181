#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "formats/Tree_Text.h"
#include "tool.h"

namespace {

std::optional<Tree_Format> g_input_format;

std::optional<Tree_Format> NamedFormat(const std::string& name) {
  if (name.empty()) return std::nullopt;
  std::optional<Tree_Format> format = Tree_FormatIo::FormatFromName(name);
  if (!format) throw ToolFailure(kExitUsage, "unknown format \"" + name + "\": json or text");
  return format;
}

long long NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

constexpr std::size_t kProgressBytes = 4u << 20;

// Standard input can be read once: a second "-" among a command's inputs (merge - -, or a
// tree and --value-file both from "-") is a usage error rather than an empty second input.
void TakeStandardInput(const std::string& file) {
  static bool taken = false;
  if (file != "-") return;
  if (taken) throw ToolFailure(kExitUsage, "standard input (\"-\") can be only one of the inputs");
  taken = true;
}

}  // namespace

ToolOptions& Options() {
  static ToolOptions options;
  return options;
}

std::string ValueArgument(const std::string& value, const std::string& value_file) {
  if (value_file.empty()) return value;
  if (!value.empty()) throw ToolFailure(kExitUsage, "give VALUE or --value-file, not both");
  TakeStandardInput(value_file);
  std::string bytes;
  Tree_FormatError error;
  if (!Tree_FormatIo::ReadBytes(value_file, bytes, &error)) {
    throw ToolFailure(ExitStatusFor(error.code), error.ToString());
  }
  return bytes;
}

Tree_NodePtr LoadTree(const std::string& file) {
  TakeStandardInput(file);
  struct stat info {};
  const bool sized =
      file == "-" ? ::fstat(STDIN_FILENO, &info) == 0 : ::stat(file.c_str(), &info) == 0;
  Progress progress("reading " + file,
                    sized && S_ISREG(info.st_mode) ? static_cast<std::size_t>(info.st_size) : 0);
  Tree_ReadOptions options;
  options.root_name = Options().root_name;
  options.exact = Options().exact;
  options.progress = [&progress](std::size_t done, std::size_t nodes) {
    progress.Update(done, nodes);
  };
  Tree_FormatError error;
  Tree_Format format;
  Tree_NodePtr tree =
      Tree_FormatIo::ReadFile(file, NamedFormat(Options().from), options, &error, &format);
  if (tree == nullptr) throw ToolFailure(ExitStatusFor(error.code), error.ToString());
  g_input_format = format;
  return tree;
}

void WriteTree(const Tree_NodePtr& tree, const std::string& out) {
  std::optional<Tree_Format> format = NamedFormat(Options().to);
  if (!format && !out.empty() && out != "-") format = Tree_FormatIo::FormatFromPath(out);
  if (!format) format = g_input_format.value_or(Tree_Format::kText);
  Tree_WriteOptions options;
  options.exact = Options().exact;
  options.compact = Options().compact;
  Tree_FormatError error;
  if (!Tree_FormatIo::WriteFile(tree, *format, out.empty() ? "-" : out, options, &error)) {
    throw ToolFailure(ExitStatusFor(error.code), error.ToString());
  }
}

void WriteOutput(const std::string& out, std::string_view bytes) {
  const std::string target = out.empty() ? "-" : out;
  Progress progress("writing " + target, bytes.size());
  progress.Update(0, 0);
  Tree_FormatError error;
  if (!Tree_FormatIo::WriteBytes(target, bytes, &error))
    throw ToolFailure(ExitStatusFor(error.code), error.ToString());
  progress.Update(bytes.size(), 0);
}

Progress::Progress(std::string label, std::size_t total_bytes)
    : m_label(std::move(label)),
      m_enabled(total_bytes > kProgressBytes && ::isatty(STDERR_FILENO) &&
                ::isatty(STDOUT_FILENO)) {}

Progress::~Progress() {
  if (m_shown) std::fputs("\r\033[K", stderr);
}

void Progress::Update(std::size_t bytes, std::size_t nodes) {
  if (!m_enabled) return;
  const long long now = NowMs();
  if (m_shown && now - m_last_ms < 100) return;
  m_last_ms = now;
  m_shown = true;
  std::fprintf(stderr, "\r\033[K%s: %.1f MB", m_label.c_str(), static_cast<double>(bytes) / 1e6);
  if (nodes != 0) std::fprintf(stderr, ", %zu nodes", nodes);
  std::fflush(stderr);
}
