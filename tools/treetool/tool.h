// What the subcommands of treetool share: the global options, loading and writing trees,
// failures with their exit status, and the progress line.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "Tree/Tree_Node.h"
#include "formats/Tree_FormatIo.h"
#include "formats/Tree_Status.h"

// Exit statuses: 0 success, 1 bad input (or, for diff, a difference), 2 wrong usage, 3 a
// server that cannot be reached, 4 refused by permissions, 5 another writer won.
enum ExitStatus {
  kExitOk = 0,
  kExitBadInput = 1,
  kExitUsage = 2,
  kExitUnavailable = 3,
  kExitDenied = 4,
  kExitConflict = 5,
};

// The exit status for a failure of `code`: every code not named above is bad input.
constexpr int ExitStatusFor(Tree_StatusCode code) {
  switch (code) {
    case Tree_StatusCode::kOk:
      return kExitOk;
    case Tree_StatusCode::kUnavailable:
      return kExitUnavailable;
    case Tree_StatusCode::kDenied:
      return kExitDenied;
    case Tree_StatusCode::kConflict:
      return kExitConflict;
    default:
      return kExitBadInput;
  }
}

// Ends a subcommand: main prints the message on standard error and exits with `status`.
class ToolFailure : public std::runtime_error {
 public:
  ToolFailure(int status, const std::string& message)
      : std::runtime_error(message), m_status(status) {}
  int Status() const { return m_status; }

 private:
  int m_status;
};

struct ToolOptions {
  int log_level = 0;
  std::string root_name = "root";
  std::string from;           // input format name, empty: by extension or content
  std::string to;             // output format name, empty: by extension or the input's
  bool exact = false;         // JSON with "@tree" descriptors, read and written (lossless)
  bool compact = false;       // JSON on one line
  bool pointer = false;       // PATH arguments are JSON Pointers (RFC 6901)
  int exit_status = kExitOk;  // what a command that completes wants main to return
};
ToolOptions& Options();

// Adds --exact (every command that reads a tree), --compact (those that write one) and
// --pointer (those that take a PATH) to `sub`; each sets the global option of that name.
void AddExactOption(CLI::App* sub);
void AddCompactOption(CLI::App* sub);
void AddPointerOption(CLI::App* sub);

// The names of the PATH argument `path`: a backslash path, or a JSON Pointer with --pointer.
// The empty path has none (the top node). Throws ToolFailure(2) naming `path` when it has an
// empty element (a leading, trailing or doubled backslash; "/" or "//" in a pointer) or a
// pointer is malformed.
std::vector<std::string> PathElements(const std::string& path);
// Throws ToolFailure(2) naming `path` when the backslash path `path`, which the library reads
// itself (checksum --exclude, encode --partial), has an empty element.
void CheckLibraryPath(const std::string& path, const char* what);
// Appends `name` to `path` so that the result is the PATH argument that gives the names back:
// a backslash path, or a JSON Pointer with --pointer.
void AppendPathElement(std::string_view name, std::string& path);
// The PATH argument of `node` below `top` (an ancestor of it, or the node itself).
std::string PathBelow(const Tree_Node& top, const Tree_Node& node);
// The child of `node` named `name` (the first of that name), or null.
Tree_NodePtr ChildNamed(const Tree_NodePtr& node, std::string_view name);

// The value a command is given: VALUE, or every byte of `value_file` ("-": standard input)
// when that is named. Throws ToolFailure(2) when both are given, ToolFailure(1) when the file
// cannot be read.
std::string ValueArgument(const std::string& value, const std::string& value_file);

// The tree in `file` ("-": standard input); throws ToolFailure(1) with the file, line and
// column on malformed input. Remembers the input's format for WriteTree.
Tree_NodePtr LoadTree(const std::string& file);
// The node `path` (see PathElements) names below the root (empty: the root); throws
// ToolFailure(1) when none, ToolFailure(2) for a malformed path.
Tree_NodePtr FindNode(const Tree_NodePtr& root, const std::string& file, const std::string& path);
// Writes `tree` to `out` (empty or "-": standard output) in the --to format, else the one
// its extension names, else the last input's. Throws ToolFailure(1) on failure.
void WriteTree(const Tree_NodePtr& tree, const std::string& out);
// Writes `bytes` to `out` (empty or "-": standard output) through a temporary file.
void WriteOutput(const std::string& out, std::string_view bytes);

// A line on standard error with the bytes and nodes done so far, shown only when both
// standard error and standard output are terminals and the work is larger than a few MB.
class Progress {
 public:
  Progress(std::string label, std::size_t total_bytes);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  void Update(std::size_t bytes, std::size_t nodes);

 private:
  std::string m_label;
  bool m_shown = false;
  bool m_enabled;
  long long m_last_ms = 0;
};

// Adds subcommand `name`, whose first argument is the FILE it reads into `args->file`, and
// which runs `run(*args)`. Its other arguments are the caller's to add.
template <class Args>
CLI::App* AddFileCommand(CLI::App& app, const char* name, const char* about,
                         const std::shared_ptr<Args>& args, void (*run)(const Args&)) {
  CLI::App* sub = app.add_subcommand(name, about);
  sub->add_option("FILE", args->file, "the tree: .json, .tree or - for standard input")->required();
  AddExactOption(sub);
  sub->callback([args, run] { run(*args); });
  return sub;
}

void AddQueryCommands(CLI::App& app);
void AddEditCommands(CLI::App& app);
void AddBlockCommands(CLI::App& app);
void AddDiffCommand(CLI::App& app);
void AddZkCommands(CLI::App& app);
