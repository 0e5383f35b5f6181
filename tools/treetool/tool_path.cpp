// PATH arguments: backslash paths, or RFC 6901 JSON Pointers with --pointer, resolved name
// by name so that a key holding a backslash can be addressed too.
#include "formats/Tree_Diff.h"
#include "tool.h"

namespace {

[[noreturn]] void RefusePath(const std::string& path, const std::string& why) {
  throw ToolFailure(kExitUsage, "path \"" + path + "\": " + why);
}

std::vector<std::string> BackslashElements(const std::string& path) {
  std::vector<std::string> names;
  if (path.empty()) return names;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = path.find('\\', start);
    std::string name = path.substr(start, end == std::string::npos ? end : end - start);
    if (name.empty()) {
      RefusePath(path,
                 "empty element (a leading, trailing or doubled backslash); use --pointer "
                 "for names that hold a backslash");
    }
    names.push_back(std::move(name));
    if (end == std::string::npos) return names;
    start = end + 1;
  }
}

std::vector<std::string> PointerElements(const std::string& path) {
  std::vector<std::string> names;
  if (path.empty()) return names;
  if (path.front() != '/') RefusePath(path, "a JSON Pointer starts with \"/\"");
  std::string name;
  for (std::size_t at = 1; at <= path.size(); ++at) {
    if (at == path.size() || path[at] == '/') {
      if (name.empty()) RefusePath(path, "empty element (no node has an empty name)");
      names.push_back(std::move(name));
      name.clear();
    } else if (path[at] == '~') {
      const char next = at + 1 < path.size() ? path[at + 1] : '\0';
      if (next != '0' && next != '1') RefusePath(path, "\"~\" must be followed by 0 or 1");
      name += next == '0' ? '~' : '/';
      ++at;
    } else {
      name += path[at];
    }
  }
  return names;
}

}  // namespace

void AddExactOption(CLI::App* sub) {
  sub->add_flag("--exact", Options().exact,
                "JSON in the lossless form: read and write \"@tree\" descriptors (change flags, "
                "values held by branches); without it JSON is plain");
}

void AddCompactOption(CLI::App* sub) {
  sub->add_flag("--compact", Options().compact, "write JSON on one line, without indentation");
}

void AddPointerOption(CLI::App* sub) {
  sub->add_flag("--pointer", Options().pointer,
                "PATH is a JSON Pointer (\"/svc/a~1b\": ~1 is \"/\", ~0 is \"~\"), so names may "
                "hold backslashes; paths are printed as pointers");
}

std::vector<std::string> PathElements(const std::string& path) {
  return Options().pointer ? PointerElements(path) : BackslashElements(path);
}

void CheckLibraryPath(const std::string& path, const char* what) {
  if (path.empty()) return;
  try {
    BackslashElements(path);
  } catch (const ToolFailure& failure) {
    throw ToolFailure(kExitUsage, std::string(what) + ": " + failure.what());
  }
}

void AppendPathElement(std::string_view name, std::string& path) {
  Tree_Diff::AppendPathName(name, Options().pointer, path);
}

std::string PathBelow(const Tree_Node& top, const Tree_Node& node) {
  std::vector<std::string_view> names;
  for (const Tree_Node* at = &node; at != &top && at != nullptr; at = at->GetParent()) {
    names.push_back(at->KeyName().view());
  }
  std::string path;
  for (auto name = names.rbegin(); name != names.rend(); ++name) AppendPathElement(*name, path);
  return path;
}

Tree_NodePtr ChildNamed(const Tree_NodePtr& node, std::string_view name) {
  if (name.empty() || node->IsLeaf()) return Tree_NodePtr();
  return node->Get(RWCString(std::string(name)), node);
}

Tree_NodePtr FindNode(const Tree_NodePtr& root, const std::string& file, const std::string& path) {
  Tree_NodePtr node = root;
  for (const std::string& name : PathElements(path)) {
    node = ChildNamed(node, name);
    if (node == nullptr) throw ToolFailure(kExitBadInput, file + ": no node at \"" + path + "\"");
  }
  return node;
}
