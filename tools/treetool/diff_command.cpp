// diff A B: the difference between two trees (see formats/Tree_Diff.h for the lines), with
// the exit status of diff(1): 0 equal, 1 different, 2 trouble.
#include "formats/Tree_Diff.h"
#include "tool.h"

namespace {

struct DiffArgs {
  std::string first;
  std::string second;
};

}  // namespace

void AddDiffCommand(CLI::App& app) {
  auto args = std::make_shared<DiffArgs>();
  CLI::App* diff = app.add_subcommand("diff",
                                      "print what was added (+), removed (-) and changed (~) from "
                                      "A to B; exit 0 equal, 1 different");
  diff->add_option("A", args->first, "the first tree")->required();
  diff->add_option("B", args->second, "the second tree")->required();
  AddExactOption(diff);
  AddPointerOption(diff);
  diff->callback([args] {
    Tree_NodePtr a;
    Tree_NodePtr b;
    try {
      a = LoadTree(args->first);
      b = LoadTree(args->second);
    } catch (const ToolFailure& failure) {
      throw ToolFailure(kExitUsage, failure.what());
    }
    Tree_DiffOptions options;
    options.pointer = Options().pointer;
    const std::string out = Tree_Diff::Lines(*a.get(), *b.get(), options);
    WriteOutput("", out);
    Options().exit_status = out.empty() ? kExitOk : kExitBadInput;
  });
}
