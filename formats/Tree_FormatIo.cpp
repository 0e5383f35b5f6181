#include "formats/Tree_FormatIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "formats/Tree_Json.h"
#include "formats/Tree_Text.h"

namespace {

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

bool SystemFailure(Tree_FormatError* error, const std::string& path, const char* what) {
  if (error != nullptr) {
    error->source = path;
    error->position = Tree_FormatError::Position::kNone;
    error->message = std::string(what) + ": " + std::strerror(errno);
  }
  return false;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

std::optional<Tree_Format> Tree_FormatIo::FormatFromName(std::string_view name) {
  if (name == "json") return Tree_Format::kJson;
  if (name == "text" || name == "tree") return Tree_Format::kText;
  return std::nullopt;
}

std::optional<Tree_Format> Tree_FormatIo::FormatFromPath(std::string_view path) {
  if (EndsWith(path, ".json")) return Tree_Format::kJson;
  if (EndsWith(path, ".tree")) return Tree_Format::kText;
  return std::nullopt;
}

Tree_Format Tree_FormatIo::Sniff(std::string_view bytes) {
  const std::size_t first = bytes.find_first_not_of(" \t\r\n");
  if (first != std::string_view::npos && (bytes[first] == '{' || bytes[first] == '[')) {
    return Tree_Format::kJson;
  }
  return Tree_Format::kText;
}

Tree_Format Tree_FormatIo::Choose(std::optional<Tree_Format> given, std::string_view path,
                                  std::string_view bytes) {
  if (given) return *given;
  if (std::optional<Tree_Format> by_name = FormatFromPath(path)) return *by_name;
  return Sniff(bytes);
}

bool Tree_FormatIo::ReadBytes(const std::string& path, std::string& bytes,
                              Tree_FormatError* error) {
  const bool from_stdin = path == "-";
  const int fd = from_stdin ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return SystemFailure(error, path, "cannot open");
  bytes.clear();
  char chunk[1 << 16];
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int saved = errno;
      if (!from_stdin) ::close(fd);
      errno = saved;
      return SystemFailure(error, path, "cannot read");
    }
    if (got == 0) break;
    bytes.append(chunk, static_cast<std::size_t>(got));
  }
  if (!from_stdin) ::close(fd);
  return true;
}

bool Tree_FormatIo::WriteBytes(const std::string& path, std::string_view bytes,
                               Tree_FormatError* error) {
  if (path == "-") {
    if (!WriteAll(STDOUT_FILENO, bytes)) return SystemFailure(error, path, "cannot write");
    return true;
  }
  std::string temporary = path + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return SystemFailure(error, path, "cannot create a temporary file beside it");
  const mode_t mask = ::umask(0);
  ::umask(mask);
  bool done = ::fchmod(fd, 0666 & ~mask) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
  int failure = errno;
  if (::close(fd) != 0 && done) {
    done = false;
    failure = errno;
  }
  if (done && ::rename(temporary.c_str(), path.c_str()) != 0) {
    done = false;
    failure = errno;
  }
  if (!done) {
    ::unlink(temporary.c_str());
    errno = failure;
    return SystemFailure(error, path, "cannot write");
  }
  return true;
}

Tree_NodePtr Tree_FormatIo::Parse(std::string_view bytes, Tree_Format format,
                                  const Tree_ReadOptions& options, Tree_FormatError* error) {
  if (format == Tree_Format::kJson) {
    Tree_JsonReadOptions json;
    json.root_name = options.root_name;
    json.progress = options.progress;
    return Tree_Json::Read(bytes, json, error);
  }
  Tree_TextReadOptions text;
  text.progress = options.progress;
  return Tree_Text::Read(bytes, text, error);
}

Tree_NodePtr Tree_FormatIo::ReadFile(const std::string& path, std::optional<Tree_Format> format,
                                     const Tree_ReadOptions& options, Tree_FormatError* error) {
  std::string bytes;
  if (!ReadBytes(path, bytes, error)) return Tree_NodePtr();
  Tree_NodePtr tree = Parse(bytes, Choose(format, path, bytes), options, error);
  if (tree == nullptr && error != nullptr) error->source = path;
  return tree;
}

bool Tree_FormatIo::Serialize(const Tree_NodePtr& tree, Tree_Format format, std::string& out,
                              Tree_FormatError* error) {
  if (format == Tree_Format::kJson) return Tree_Json::Write(tree, out, {}, error);
  Tree_Text::Write(tree, out);
  return true;
}
