// The subcommands of the ktif tool. Each registers its options on the
// application and runs when chosen; the tool itself only dispatches.
#ifndef KTIF_TOOL_COMMANDS_H
#define KTIF_TOOL_COMMANDS_H

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

// Options every subcommand shares.
struct ToolOptions {
  std::vector<std::string> prefs;  // --pref group.key=value, in order
};

using CommandRunner = std::function<int()>;

// Adds `ktif prefs`; returns the code that runs it.
CommandRunner prefsCommandAdd(CLI::App& app, const ToolOptions& options);

// Applies --pref options to the preference store; false (with a message on
// stderr) when one is malformed.
bool toolPrefsApply(const ToolOptions& options);

#endif
