// treetool: reads, queries, converts and compares configuration trees held in JSON or in
// the library's text format. Each group of subcommands lives in a file of its own.
#include <iostream>
#include <new>
#include <sstream>

#include "host/Qor_LogFile.h"
#include "tool.h"

namespace {

// The "Usage:" line of the subcommand being parsed, else of the tool.
std::string UsageLine(CLI::App& app) {
  CLI::App* command = &app;
  for (CLI::App* sub : app.get_subcommands()) command = sub;
  std::istringstream help(command == &app ? app.help() : command->help(app.get_name()));
  for (std::string line; std::getline(help, line);) {
    if (line.rfind("Usage:", 0) == 0) return line;
  }
  return "Usage: treetool SUBCOMMAND [OPTIONS] ...";
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Reads, queries, converts and compares configuration trees (JSON or text).",
               "treetool"};
  app.require_subcommand(1);
  app.fallthrough();
  ToolOptions& options = Options();
  app.add_option("--log-level", options.log_level,
                 "show the library's log lines up to level N on standard error");
  app.add_option("--root", options.root_name, "name of the top node of a JSON document")
      ->default_val("root");
  app.add_option("--from", options.from,
                 "input format, json or text (default: by extension, then by content)");
  app.add_option("--to", options.to,
                 "output format, json or text (default: by extension, then the input's)");
  app.add_flag("--exact", options.exact,
               "JSON in the lossless form: read and write \"@tree\" descriptors (also after a "
               "subcommand)");
  app.add_flag("--compact", options.compact, "write JSON on one line (also after a subcommand)");
  app.add_flag("--pointer", options.pointer,
               "PATH arguments are JSON Pointers, /a~1b/c (also after a subcommand)");
  app.footer(
      "FILE \"-\" is standard input, read as JSON when its first byte that is not a blank "
      "opens an object, an array or a string, or when it is one number, true, false or null "
      "with only blanks around it; else as the text format (which treetool never writes so "
      "that it reads as JSON). A file named .json or .tree is read as its extension says, any "
      "other by the same rule as \"-\". --from overrides both.\n"
      "Exit status: 0 ok, 1 bad input (diff: the trees differ), 2 wrong usage, 3 unavailable, "
      "4 denied, 5 conflict.");
  app.parse_complete_callback([&options] {
    QorGLog.SetMaxLevel(options.log_level);
    if (!Tree_Node::IsKeptKeyName(options.root_name)) {
      throw ToolFailure(kExitUsage, "--root needs a name without blanks at either end");
    }
  });
  AddQueryCommands(app);
  AddEditCommands(app);
  AddBlockCommands(app);
  AddDiffCommand(app);
  AddZkCommands(app);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForAllHelp& help) {
    return app.exit(help);
  } catch (const CLI::ParseError& error) {
    std::string message = error.what();
    if (app.get_subcommands().empty() && !app.remaining().empty()) {
      message = "unknown subcommand \"" + app.remaining().front() + "\"";
    }
    std::cerr << "treetool: " << message << '\n' << UsageLine(app) << '\n';
    return kExitUsage;
  } catch (const ToolFailure& failure) {
    std::cerr << "treetool: " << failure.what() << '\n';
    if (failure.Status() == kExitUsage) std::cerr << UsageLine(app) << '\n';
    return failure.Status();
  } catch (const std::bad_alloc&) {
    std::cerr << "treetool: out of memory\n";
    return kExitBadInput;
  } catch (const std::exception& error) {
    std::cerr << "treetool: " << error.what() << '\n';
    return kExitBadInput;
  } catch (...) {
    std::cerr << "treetool: failed with an unknown error\n";
    return kExitBadInput;
  }
  return options.exit_status;
}
