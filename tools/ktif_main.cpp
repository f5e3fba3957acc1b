// ktif: the command-line tool over the library.
#include "commands.h"

#include <cstdio>
#include <map>

#include "ktif.h"

int main(int argc, char** argv) {
  CLI::App app{"ktif: read, inspect and copy TIFF and GeoTIFF images"};
  app.set_version_flag("--version", std::string("ktif ") + ktif_Version());
  app.require_subcommand(1);
  app.fallthrough();

  ToolOptions options;
  app.add_option("--pref", options.prefs,
                 "Set a preference for this run, as group.key=value (repeatable)")
      ->type_name("GROUP.KEY=VALUE");
  app.add_flag("-v,--verbose", options.verbose, "Also show notices and the library's log lines");

  using Adder = CommandRunner (*)(CLI::App&, const ToolOptions&);
  const std::pair<const char*, Adder> commands[] = {
      {"info", infoCommandAdd},    {"read", readCommandAdd}, {"copy", copyCommandAdd},
      {"prefs", prefsCommandAdd},  {"tags", tagsCommandAdd}, {"keys", keysCommandAdd},
      {"header", headerCommandAdd}};
  std::map<CLI::App*, CommandRunner> runners;
  for (const auto& [name, add] : commands) {
    CommandRunner run = add(app, options);
    runners[app.get_subcommand(name)] = run;
  }

  CLI11_PARSE(app, argc, argv);
  toolSinksInstall(options.verbose);
  if (!toolPrefsApply(options)) return 2;
  for (auto& [command, run] : runners) {
    if (!command->parsed()) continue;
    int rc = run();
    // Zero-filled blocks are not a success: what the library logged as a
    // failure and the command did not summarise itself fails the run.
    const ToolLog log = toolLogTake();
    if (log.failures > 0) {
      toolFail(std::to_string(log.failures) + " read failure" + (log.failures == 1 ? "" : "s") +
                   " logged by the library: " + log.first,
               nullptr);
      if (rc == 0) rc = 1;
    }
    return rc;
  }
  return 1;
}
