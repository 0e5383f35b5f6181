#include "formats/Tree_FormatIo.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <streambuf>

#include "formats/Tree_FormatInternal.h"
#include "formats/Tree_JsonMapping.h"

namespace {

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

Tree_StatusCode CodeOfErrno(int number) {
  switch (number) {
    case ENOENT:
    case ENOTDIR:
      return Tree_StatusCode::kNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return Tree_StatusCode::kDenied;
    default:
      return Tree_StatusCode::kIo;
  }
}

bool SystemFailure(Tree_FormatError* error, const std::string& path, const char* what,
                   int number = errno) {
  if (error != nullptr) {
    error->source = path;
    error->position = Tree_FormatError::Position::kNone;
    error->message = std::string(what) + ": " + std::strerror(number);
    error->code = CodeOfErrno(number);
  }
  return false;
}

bool WriteAll(int fd, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, bytes, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

// An unbuffered stream buffer over a file descriptor: the writers buffer themselves.
class FdStreamBuf : public std::streambuf {
 public:
  explicit FdStreamBuf(int fd) : m_fd(fd) {}
  int Errno() const { return m_errno; }

 protected:
  std::streamsize xsputn(const char* bytes, std::streamsize count) override {
    if (!WriteAll(m_fd, bytes, static_cast<std::size_t>(count))) {
      m_errno = errno;
      return 0;
    }
    return count;
  }
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
  }

 private:
  int m_fd;
  int m_errno = 0;
};

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// `path` with every symbolic link on its last component followed, also a dangling one (the
// file it names is then created). Gives up (returning the path reached) after 40 links.
std::string FollowLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char target[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), target, sizeof target - 1);
    if (length <= 0) return path;
    std::string next(target, static_cast<std::size_t>(length));
    path = next[0] == '/' ? next : DirectoryOf(path) + "/" + next;
  }
  return path;
}

// A new name beside `target` for a temporary file.
std::string TemporaryName(const std::string& target, int attempt) {
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".%ld.%lld.%d.tmp", static_cast<long>(::getpid()),
                static_cast<long long>(now), attempt);
  return target + suffix;
}

// The file being written: the target itself (standard output, a device, a FIFO), or a
// temporary file that becomes the target in Commit.
class OutputFile {
 public:
  ~OutputFile() { Abandon(); }

  bool Open(const std::string& path, Tree_FormatError* error) {
    m_path = path;
    if (path == "-") {
      m_fd = STDOUT_FILENO;
      m_direct = true;
      return true;
    }
    struct stat info;
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
      if (S_ISDIR(info.st_mode)) return SystemFailure(error, path, "cannot write", EISDIR);
      m_fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
      if (m_fd < 0) return SystemFailure(error, path, "cannot open");
      m_direct = true;
      return true;
    }
    m_target = FollowLinks(path);
    m_existing = ::stat(m_target.c_str(), &m_info) == 0;
    // 0666 and the umask, as for any new file; an existing file's own mode is set below.
    m_fd = ::open(DirectoryOf(m_target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (m_fd < 0) {
      for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
        m_temporary = TemporaryName(m_target, attempt);
        m_fd = ::open(m_temporary.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
        if (m_fd < 0 && errno != EEXIST) break;
      }
      if (m_fd < 0) {
        m_temporary.clear();
        return SystemFailure(error, path, "cannot create a temporary file beside it");
      }
    }
    if (m_existing) {
      // The owner first: a change of owner clears set-id bits that the mode then restores.
      if (::geteuid() == 0) {
        (void)!::fchown(m_fd, m_info.st_uid, m_info.st_gid);
      } else {
        (void)!::fchown(m_fd, static_cast<uid_t>(-1), m_info.st_gid);
      }
      if (::fchmod(m_fd, m_info.st_mode & 07777) != 0) {
        return SystemFailure(error, path, "cannot set the mode of the new file");
      }
    }
    return true;
  }

  int Fd() const { return m_fd; }

  bool Commit(Tree_FormatError* error) {
    if (m_direct) {
      const int fd = std::exchange(m_fd, -1);
      if (fd != STDOUT_FILENO && ::close(fd) != 0)
        return SystemFailure(error, m_path, "cannot write");
      return true;
    }
    if (::fsync(m_fd) != 0) return SystemFailure(error, m_path, "cannot write");
    if (m_temporary.empty() && !LinkTemporary(error)) return false;
    const int fd = std::exchange(m_fd, -1);
    if (::close(fd) != 0) return SystemFailure(error, m_path, "cannot write");
    if (!m_temporary.empty() && ::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
      return SystemFailure(error, m_path, "cannot replace");
    }
    m_temporary.clear();
    return true;
  }

  void Abandon() {
    if (m_fd >= 0 && !(m_direct && m_fd == STDOUT_FILENO)) ::close(m_fd);
    m_fd = -1;
    if (!m_temporary.empty()) ::unlink(m_temporary.c_str());
    m_temporary.clear();
  }

 private:
  // Gives the complete unnamed file a name: the target itself when there is none yet, else
  // a temporary name that Commit renames over the target.
  bool LinkTemporary(Tree_FormatError* error) {
    const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
    const auto link_as = [&](const std::string& name) {
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return true;
      }
      return errno != ENOENT ? false
                             : ::linkat(m_fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0;
    };
    if (!m_existing) {
      if (link_as(m_target)) return true;
      if (errno != EEXIST) return SystemFailure(error, m_path, "cannot create");
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string name = TemporaryName(m_target, attempt);
      if (link_as(name)) {
        m_temporary = name;
        return true;
      }
      if (errno != EEXIST) break;
    }
    return SystemFailure(error, m_path, "cannot create a temporary file beside it");
  }

  std::string m_path;
  std::string m_target;
  std::string m_temporary;  // a named temporary file to rename or remove
  int m_fd = -1;
  bool m_direct = false;
  bool m_existing = false;
  struct stat m_info {};
};

Tree_NodePtr ReadInput(Tree_ByteInput& input, Tree_Format format, const Tree_ReadOptions& options,
                       Tree_FormatError* error) {
  if (format == Tree_Format::kJson) {
    Tree_JsonReadOptions json;
    json.root_name = options.root_name;
    json.exact = options.exact;
    json.progress = options.progress;
    return Tree_ReadJson(input, json, error);
  }
  Tree_TextReadOptions text;
  text.progress = options.progress;
  return Tree_ReadText(input, text, error);
}

bool WriteTo(const Tree_NodePtr& tree, Tree_Format format, std::ostream& out,
             const Tree_WriteOptions& options, Tree_FormatError* error) {
  if (format == Tree_Format::kJson) {
    Tree_JsonWriteOptions json;
    json.exact = options.exact;
    json.compact = options.compact;
    json.max_indent_bytes = options.max_indent_bytes;
    return Tree_Json::Write(tree, out, json, error);
  }
  Tree_TextWriteOptions text;
  text.max_indent_bytes = options.max_indent_bytes;
  return Tree_Text::Write(tree, out, text, error);
}

// A file to read, or standard input for "-"; closed (unless standard input) when it goes.
class InputFile {
 public:
  explicit InputFile(const std::string& path)
      : m_stdin(path == "-"),
        m_fd(m_stdin ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~InputFile() {
    if (!m_stdin && m_fd >= 0) ::close(m_fd);
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool IsOpen() const { return m_fd >= 0; }
  // Up to `capacity` bytes into `buffer`: their count, 0 at the end, -1 with errno set.
  ssize_t Read(char* buffer, std::size_t capacity) const {
    for (;;) {
      const ssize_t got = ::read(m_fd, buffer, capacity);
      if (got >= 0 || errno != EINTR) return got;
    }
  }

 private:
  bool m_stdin;
  int m_fd;
};

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
  if (bytes.substr(0, 3) == "\xef\xbb\xbf") bytes.remove_prefix(3);
  constexpr std::string_view kBlanks = " \t\r\n";
  const std::size_t first = bytes.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return Tree_Format::kText;
  if (bytes[first] == '{' || bytes[first] == '[' || bytes[first] == '"') return Tree_Format::kJson;
  const std::size_t last = bytes.find_last_not_of(kBlanks);
  const std::string_view word = bytes.substr(first, last + 1 - first);
  return Tree_JsonMapping::LiteralKind(word) != Tree_NodeKind::kString ? Tree_Format::kJson
                                                                       : Tree_Format::kText;
}

Tree_Format Tree_FormatIo::Choose(std::optional<Tree_Format> given, std::string_view path,
                                  std::string_view bytes) {
  if (given) return *given;
  if (std::optional<Tree_Format> by_name = FormatFromPath(path)) return *by_name;
  return Sniff(bytes);
}

bool Tree_FormatIo::ReadBytes(const std::string& path, std::string& bytes,
                              Tree_FormatError* error) {
  const InputFile file(path);
  if (!file.IsOpen()) return SystemFailure(error, path, "cannot open");
  bytes.clear();
  char chunk[1 << 16];
  for (;;) {
    const ssize_t got = file.Read(chunk, sizeof chunk);
    if (got < 0) return SystemFailure(error, path, "cannot read");
    if (got == 0) return true;
    bytes.append(chunk, static_cast<std::size_t>(got));
  }
}

bool Tree_FormatIo::WriteStream(const std::string& path,
                                const std::function<bool(std::ostream&, Tree_FormatError*)>& write,
                                Tree_FormatError* error) {
  OutputFile file;
  if (!file.Open(path, error)) return false;
  FdStreamBuf buffer(file.Fd());
  std::ostream stream(&buffer);
  if (!write(stream, error)) {
    if (error != nullptr && error->source.empty()) error->source = path;
    if (buffer.Errno() != 0) return SystemFailure(error, path, "cannot write", buffer.Errno());
    return false;
  }
  stream.flush();
  if (buffer.Errno() != 0 || stream.fail()) {
    return SystemFailure(error, path, "cannot write", buffer.Errno() != 0 ? buffer.Errno() : EIO);
  }
  return file.Commit(error);
}

bool Tree_FormatIo::WriteBytes(const std::string& path, std::string_view bytes,
                               Tree_FormatError* error) {
  return WriteStream(
      path,
      [bytes](std::ostream& out, Tree_FormatError*) {
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return !out.fail();
      },
      error);
}

bool Tree_FormatIo::WriteFile(const Tree_NodePtr& tree, Tree_Format format, const std::string& path,
                              const Tree_WriteOptions& options, Tree_FormatError* error) {
  return WriteStream(
      path,
      [&](std::ostream& out, Tree_FormatError* failure) {
        if (!WriteTo(tree, format, out, options, failure)) return false;
        if (format == Tree_Format::kJson && options.compact) out.put('\n');
        return !out.fail();
      },
      error);
}

Tree_NodePtr Tree_FormatIo::ReadFile(const std::string& path, std::optional<Tree_Format> format,
                                     const Tree_ReadOptions& options, Tree_FormatError* error,
                                     Tree_Format* format_read) {
  const InputFile file(path);
  if (!file.IsOpen()) {
    SystemFailure(error, path, "cannot open");
    return Tree_NodePtr();
  }
  Tree_ByteInput input(Tree_ByteInput::Source(
      [&file](char* buffer, std::size_t capacity, std::string& failure) -> long {
        const ssize_t got = file.Read(buffer, capacity);
        if (got < 0) failure = std::string("cannot read: ") + std::strerror(errno);
        return static_cast<long>(got);
      }));
  input.Fill();
  const std::string_view first(input.Cur(), static_cast<std::size_t>(input.End() - input.Cur()));
  const Tree_Format chosen = Choose(format, path, first);
  if (format_read != nullptr) *format_read = chosen;
  Tree_NodePtr tree = ReadInput(input, chosen, options, error);
  if (tree == nullptr && error != nullptr) error->source = path;
  return tree;
}
