// A host program that loads a JSON configuration into a tree with the formats library and
// reads a few settings from it: what a service does at start-up.
//   load_sample [FILE]      (default: the bundled examples/sample.json)
#include <cstdio>
#include <memory>
#include <string>

#include "Tree/Tree_Node.h"
#include "formats/Tree_FormatIo.h"

int main(int argc, char** argv) {
  const std::string file = argc > 1 ? argv[1] : TREE_SAMPLE_JSON;
  Tree_FormatError error;
  Tree_NodePtr config = Tree_FormatIo::ReadFile(file, Tree_Format::kJson, {}, &error);
  if (config == nullptr) {
    std::fprintf(stderr, "load_sample: %s\n", error.ToString().c_str());
    return 1;
  }
  std::printf("%s: %d nodes, environment %s\n", file.c_str(), config->GetNodeNum(),
              config->GetValue("environment", config).data());

  // Every service and where it listens; children keep the order of the file.
  Tree_NodePtr services = config->GetRelativeNode("services", config);
  for (int index = 0; index < services->GetChildCount(); ++index) {
    Tree_NodePtr& service = services->GetChildAt(index);
    const RWCString port = service->GetValue("listen\\port", service);
    Tree_NodePtr endpoints = service->GetRelativeNode("endpoints", service);
    std::printf("  %-14s port %-5s %d endpoint(s), enabled %s\n", service->KeyName().data(),
                port.data(), endpoints->GetChildCount(),
                service->GetValue("enabled", service).data());
  }

  // Search finds a setting wherever it sits.
  std::unique_ptr<String_Arr> levels(config->Search("log\\level", config, 1));
  for (int index = 0; levels != nullptr && index < levels->GetInsertedNum(); ++index) {
    std::printf("  %s = %s\n", levels->GetStr(index),
                config->GetValue(levels->GetStr(index), config).data());
  }
  return 0;
}
