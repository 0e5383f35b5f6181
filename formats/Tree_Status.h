// The outcome of an operation of the formats, the store and the tool: a code that says what
// kind of failure it was, so that callers can act on it, and a message that says what
// happened, for people.
#pragma once

#include <string>
#include <string_view>
#include <utility>

enum class Tree_StatusCode {
  kOk,
  kInvalidInput,  // malformed or unacceptable data or arguments
  kNotFound,      // no such file, znode, tree or node
  kUnavailable,   // a server that cannot be reached or did not answer in time
  kDenied,        // refused by permissions (file mode, ACL, authentication)
  kConflict,      // another writer won and the operation gave up
  kTooLarge,      // beyond a size limit (a value, a request, a depth)
  kCorrupt,       // stored data that fails its own checks
  kIo,            // a read or write of the local system failed
};

// The code's name in messages: "invalid input", "not found", ...
constexpr std::string_view Tree_StatusCodeName(Tree_StatusCode code) {
  switch (code) {
    case Tree_StatusCode::kOk:
      return "ok";
    case Tree_StatusCode::kInvalidInput:
      return "invalid input";
    case Tree_StatusCode::kNotFound:
      return "not found";
    case Tree_StatusCode::kUnavailable:
      return "unavailable";
    case Tree_StatusCode::kDenied:
      return "denied";
    case Tree_StatusCode::kConflict:
      return "conflict";
    case Tree_StatusCode::kTooLarge:
      return "too large";
    case Tree_StatusCode::kCorrupt:
      return "corrupt";
    case Tree_StatusCode::kIo:
      return "I/O error";
  }
  return "unknown";
}

// A value type; cheap to move. True in a condition exactly when it is a success.
class Tree_Status {
 public:
  Tree_Status() = default;
  Tree_Status(Tree_StatusCode code, std::string message)
      : m_code(code), m_message(std::move(message)) {}

  static Tree_Status Ok() { return {}; }

  bool IsOk() const { return m_code == Tree_StatusCode::kOk; }
  explicit operator bool() const { return IsOk(); }
  Tree_StatusCode Code() const { return m_code; }
  // What happened, without the code's name; empty on success.
  const std::string& Message() const { return m_message; }
  // "message (code name)", or "ok".
  std::string ToString() const {
    if (IsOk()) return "ok";
    return m_message + " (" + std::string(Tree_StatusCodeName(m_code)) + ")";
  }

 private:
  Tree_StatusCode m_code = Tree_StatusCode::kOk;
  std::string m_message;
};
