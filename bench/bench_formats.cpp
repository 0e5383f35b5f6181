// Import, export and diff of large trees, beside the peers doing the same work in the same
// run: nlohmann::json::parse into its DOM, nlohmann's SAX parser with a handler that keeps
// nothing (the floor of a reader built on it) and simdjson's parse alone (the limit).
//   bench_formats [MEGABYTES | FILE.json]   (default 100 MB generated; best of seven runs)
// The two imports are also timed once each in a process of its own, as a tool's one import
// is: there neither reuses pages that an earlier run freed.
#include <malloc.h>
#include <simdjson.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "Tree/Tree_NodeAllocator.h"
#include "formats/Tree_Diff.h"
#include "formats/Tree_Json.h"
#include "formats/Tree_Text.h"
#include "host/Qor_LogFile.h"

namespace {

using Duration = std::chrono::steady_clock::duration;

// Runs of each measurement: the machine is shared, and the best of three moved by a third
// between runs of the program while other work ran beside it.
constexpr int kRounds = 7;

// The best of kRounds runs; `run` returns the time of the part it measures.
double BestTimed(const std::function<Duration()>& run) {
  double best = 1e30;
  for (int round = 0; round < kRounds; ++round) {
    best = std::min(best, std::chrono::duration<double>(run()).count());
  }
  return best;
}

// The same for a run measured as a whole.
double BestSeconds(const std::function<void()>& run) {
  return BestTimed([&run] {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::steady_clock::now() - start;
  });
}

// Records of objects nested six deep, with arrays, strings and numbers, up to `bytes`.
std::string GenerateJson(std::size_t bytes) {
  std::string out = "{\"records\":[";
  for (int id = 0; out.size() < bytes; ++id) {
    if (id > 0) out += ',';
    const std::string n = std::to_string(id);
    out += "{\"id\":" + n + ",\"name\":\"record-" + n + "\",\"score\":" + n + ".25,";
    out += "\"tags\":[\"alpha\",\"beta\",\"gamma-" + n +
           "\"],\"active\":" + std::string(id % 3 ? "true" : "false") + ",";
    out +=
        "\"detail\":{\"level2\":{\"level3\":{\"level4\":{\"level5\":{\"text\":\"a longer "
        "string value with some words in it, number " +
        n + "\",\"ratio\":0." + n + ",\"limits\":[1,2,3,4]}}}}}}";
  }
  return out + "]}";
}

// Parses and keeps nothing: what any reader built on nlohmann's SAX parser costs at least.
struct NullSax : nlohmann::json_sax<nlohmann::json> {
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override { return true; }
  bool key(string_t&) override { return true; }
  bool end_object() override { return true; }
  bool start_array(std::size_t) override { return true; }
  bool end_array() override { return true; }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }
};

// Bytes of heap in use, allocated blocks and mapped ones alike: glibc's, and the blocks of
// the library's node heap (mimalloc, which mallinfo2 does not see) that this thread made.
double HeapMegabytes() {
  const struct mallinfo2 info = mallinfo2();
  return static_cast<double>(info.uordblks + info.hblkhd + Tree_NodeAllocator::ThreadLive().bytes) /
         1e6;
}

long MinorFaults() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

// The time `run` reports and the page faults it took, measured in a child process forked
// before this process made any tree, so that the child's heap starts as a fresh process's
// does. Seconds are -1 when the child failed.
struct Cold {
  double seconds = -1;
  long faults = 0;
};
Cold InFreshProcess(const std::function<Duration()>& run) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    close(pipe_ends[0]);
    const long before = MinorFaults();
    Cold cold;
    cold.seconds = std::chrono::duration<double>(run()).count();
    cold.faults = MinorFaults() - before;
    const bool written = write(pipe_ends[1], &cold, sizeof cold) == sizeof cold;
    _exit(written ? 0 : 1);
  }
  close(pipe_ends[1]);
  Cold cold;
  if (child < 0 || read(pipe_ends[0], &cold, sizeof cold) != sizeof cold) cold = Cold();
  close(pipe_ends[0]);
  if (child > 0) waitpid(child, nullptr, 0);
  return cold;
}

void Row(const char* what, double seconds, std::size_t bytes) {
  std::printf("%-44s %9.3f s %9.1f MB/s\n", what, seconds,
              static_cast<double>(bytes) / 1e6 / seconds);
}

// Two trees of `leaves` values under 1,000-wide branches, differing in one value.
Tree_NodePtr WideTree(int leaves, int changed) {
  Tree_NodePtr root(new Tree_Node("root"));
  for (int b = 0; b < leaves / 1000; ++b) {
    Tree_NodePtr branch(new Tree_Node(RWCString("branch" + std::to_string(b))));
    root->Add(branch);
    for (int k = 0; k < 1000; ++k) {
      const int index = b * 1000 + k;
      branch->Add(new Tree_Node(
          RWCString("key" + std::to_string(k)),
          new Tree_Value(RWCString(std::to_string(index == changed ? -1 : index)), 0)));
    }
  }
  return root;
}

}  // namespace

int main(int argc, char** argv) {
  QorGLog.SetMaxLevel(0);
  std::string json;
  if (std::ifstream file(argc > 1 ? argv[1] : ""); file) {
    std::ostringstream bytes;
    bytes << file.rdbuf();
    json = bytes.str();
    std::printf("%s: %.1f MB\n\n", argv[1], static_cast<double>(json.size()) / 1e6);
  } else {
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
    json = GenerateJson(megabytes << 20);
    std::printf("generated JSON: %.1f MB\n\n", static_cast<double>(json.size()) / 1e6);
  }

  // One import each in a fresh process first, before this one has made and freed a heap.
  const Cold ours_cold = InFreshProcess([&] {
    const auto start = std::chrono::steady_clock::now();
    Tree_NodePtr tree = Tree_Json::Read(json);
    const auto end = std::chrono::steady_clock::now();
    if (tree == nullptr) std::abort();
    return end - start;
  });
  const Cold peer_cold = InFreshProcess([&] {
    const auto start = std::chrono::steady_clock::now();
    nlohmann::json dom = nlohmann::json::parse(json);
    return std::chrono::steady_clock::now() - start;
  });

  // Destruction stays out of both timings.
  Tree_NodePtr tree;
  long ours_faults = 0, peer_faults = 0;  // of the last run
  const double heap_before = HeapMegabytes();
  const double ours = BestTimed([&] {
    tree = Tree_NodePtr();
    const long faults_before = MinorFaults();
    const auto start = std::chrono::steady_clock::now();
    tree = Tree_Json::Read(json);
    const auto end = std::chrono::steady_clock::now();
    ours_faults = MinorFaults() - faults_before;
    return end - start;
  });
  if (tree == nullptr) return 1;
  const double ours_heap = HeapMegabytes() - heap_before;
  nlohmann::json dom;
  const double dom_before = HeapMegabytes();
  const double peer = BestTimed([&] {
    dom = nlohmann::json();
    const long faults_before = MinorFaults();
    const auto start = std::chrono::steady_clock::now();
    dom = nlohmann::json::parse(json);
    const auto end = std::chrono::steady_clock::now();
    peer_faults = MinorFaults() - faults_before;
    return end - start;
  });
  const double dom_heap = HeapMegabytes() - dom_before;
  dom = nlohmann::json();
  const double sax = BestSeconds([&] {
    NullSax handler;
    if (!nlohmann::json::sax_parse(json, &handler)) std::abort();
  });
  const double simdjson_before = HeapMegabytes();
  simdjson::dom::parser parser;
  const simdjson::padded_string padded(json);
  const double limit = BestSeconds([&] {
    simdjson::dom::element root;
    if (parser.parse(padded).get(root) != simdjson::SUCCESS) std::abort();
  });
  Row("import into a tree (Tree_Json::Read)", ours, json.size());
  Row("nlohmann::json::parse into its DOM", peer, json.size());
  Row("nlohmann SAX parse keeping nothing", sax, json.size());
  Row("simdjson parse alone (the limit)", limit, json.size());
  std::printf("%-44s %9.2f\n", "ours / nlohmann DOM", ours / peer);
  std::printf("%-44s %9.2f\n", "ours / simdjson", ours / limit);
  std::printf("page faults of one import: ours %ld, nlohmann %ld\n", ours_faults, peer_faults);
  Row("import in a fresh process (ours)", ours_cold.seconds, json.size());
  Row("nlohmann DOM parse in a fresh process", peer_cold.seconds, json.size());
  std::printf("%-44s %9.2f   (page faults: ours %ld, nlohmann %ld)\n",
              "fresh process: ours / nlohmann DOM", ours_cold.seconds / peer_cold.seconds,
              ours_cold.faults, peer_cold.faults);
  const double megabytes = static_cast<double>(json.size()) / 1e6;
  std::printf(
      "heap held after import, MB (x file): ours %.1f (%.1f), nlohmann %.1f (%.1f), "
      "simdjson with its copy %.1f (%.1f)\n\n",
      ours_heap, ours_heap / megabytes, dom_heap, dom_heap / megabytes,
      HeapMegabytes() - simdjson_before, (HeapMegabytes() - simdjson_before) / megabytes);

  std::string out;
  Tree_JsonWriteOptions compact;
  compact.compact = true;
  const double json_export = BestSeconds([&] {
    out.clear();
    Tree_Json::Write(tree, out, compact);
  });
  Row("export to JSON (one line)", json_export, out.size());
  const double text_export = BestSeconds([&] {
    out.clear();
    Tree_Text::Write(tree, out);
  });
  Row("export to text", text_export, out.size());
  std::printf("(%d nodes)\n\n", tree->GetNodeNum());
  tree = Tree_NodePtr();

  Tree_NodePtr a = WideTree(1000000, -1);
  Tree_NodePtr b = WideTree(1000000, 654321);
  a->GetChecksum();
  b->GetChecksum();
  std::string lines;
  const double diff = BestSeconds([&] { lines = Tree_Diff::Lines(*a.get(), *b.get()); });
  std::printf("%-44s %9.3f ms  %s", "diff of two 1,000,000-value trees", diff * 1e3, lines.c_str());
  return 0;
}
