// The options every store object takes, and the difference record a replica reports.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

struct Tree_ZkOptions {
  // Comma-separated HOST:PORT list, as zookeeper_init takes it.
  std::string connect = "127.0.0.1:2181";
  // How long to wait for a connection, the session timeout asked of the server, and how long
  // an operation goes on retrying after a connection loss or a lost version check.
  int timeout_ms = 5000;
  // "user:password" for digest authentication; empty for none. Znodes holding a tree pushed
  // with credentials are writable by that identity only; missing parents are created open.
  std::string auth;
  // Whether everyone may read znodes pushed with credentials.
  bool world_readable = true;
  // The largest request the server accepts (its jute.maxbuffer, 1 MB less one byte by
  // default). No chunk is larger.
  std::size_t max_request_bytes = 0xfffff;
  // The size chunks are cut to (a node and as many descendants as fit).
  std::size_t chunk_bytes = 256 * 1024;
  // Requests kept in flight by pushes and reads.
  int pipeline_depth = 256;
  // How long a chunk no current root reaches is kept: readers of a root replaced less than
  // this long ago keep reading it, and pushes in progress keep their chunks.
  int gc_grace_ms = 60000;
  // Called by Push after the chunks are written and before the switch (for tools that
  // coordinate pushes, and for tests).
  std::function<void()> before_switch;
};

// One difference a replica applied to its tree. `path` is the local node's path (GetPath).
struct Tree_ZkChange {
  enum class Kind { kValue, kAdded, kRemoved };
  Kind kind = Kind::kValue;
  std::string path;
  bool had_value = false;
  std::string old_value;
  bool has_value = false;
  std::string new_value;
};
