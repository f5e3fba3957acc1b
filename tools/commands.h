// The subcommands of the ktif tool. Each registers its options on the
// application and runs when chosen; the tool itself only dispatches.
#ifndef KTIF_TOOL_COMMANDS_H
#define KTIF_TOOL_COMMANDS_H

#include <CLI/CLI.hpp>

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "kprj.h"
#include "ktif.h"

// Options every subcommand shares.
struct ToolOptions {
  std::vector<std::string> prefs;  // --pref group.key=value, in order
  bool verbose = false;            // --verbose: notices and log lines too
};

using CommandRunner = std::function<int()>;

// Adds `ktif prefs`; returns the code that runs it.
CommandRunner prefsCommandAdd(CLI::App& app, const ToolOptions& options);

// Adds `ktif info`; returns the code that runs it.
CommandRunner infoCommandAdd(CLI::App& app, const ToolOptions& options);

// Adds `ktif read`; returns the code that runs it.
CommandRunner readCommandAdd(CLI::App& app, const ToolOptions& options);

// Adds `ktif copy`; returns the code that runs it.
CommandRunner copyCommandAdd(CLI::App& app, const ToolOptions& options);

// Adds `ktif tags`, `ktif keys` and `ktif header`; each returns the code that
// runs it.
CommandRunner tagsCommandAdd(CLI::App& app, const ToolOptions& options);
CommandRunner keysCommandAdd(CLI::App& app, const ToolOptions& options);
CommandRunner headerCommandAdd(CLI::App& app, const ToolOptions& options);

// Applies --pref options to the preference store; false (with a message on
// stderr) when one is malformed.
bool toolPrefsApply(const ToolOptions& options);

// Opens image `image` of `path` for reading after checking the index against
// the file's image count (which it stores in *imageCount). On failure prints
// "ktif: <what>" with the report chain on stderr and returns null.
Ktif_File* toolImageOpen(const std::string& path, int64_t image, int32_t* imageCount);

// Routes the library's reports and log lines: warnings and errors to stderr,
// notices and log lines only when `verbose`; failures logged by the library
// are counted for the command's summary.
void toolSinksInstall(bool verbose);

// The failures the library logged since the last call (count and the first
// line), which the call forgets.
struct ToolLog {
  long failures = 0;
  std::string first;
};
ToolLog toolLogTake();

// Prints "ktif: <message>" on one line of stderr, followed by the report
// chain in parentheses when there is one, then deletes the report.
void toolFail(const std::string& message, Kerr_Report** report);

// The shortest decimal that reads back as `value`.
std::string numberText(double value);

// A host projection record as the JSON outputs show it (type, number, name,
// zone, the 15 parameters, spheroid, datum and its code); null for none.
// `ktif info` and `ktif keys --geocoding` print the same object, so that the
// file and the key directory can be compared field by field.
nlohmann::ordered_json projectionJson(const Kprj_ProParameters* pro);

// The same record as one line of text: "NAME (number N, zone Z), spheroid
// S (a, b)".
std::string projectionText(const Kprj_ProParameters* pro);

// What `ktif info` adds from the library's map-info, no-data, elevation and
// image-metadata getters: an object of "mapInfo", "calibration",
// "nullValue", "gdalNoData", "elevation" and "imageMetadata", each null when
// the image has none; and its text lines (only for what is there).
nlohmann::ordered_json infoMetadataJson(const Ktif_File* handle);
void infoMetadataPrint(const nlohmann::ordered_json& metadata);

#endif
