// ktif: the command-line tool over the library.
#include "commands.h"

#include <cstdio>
#include <map>

#include "ktif.h"

int main(int argc, char** argv) {
  CLI::App app{"ktif: read and inspect TIFF and GeoTIFF images"};
  app.set_version_flag("--version", std::string("ktif ") + ktif_Version());
  app.require_subcommand(1);
  app.fallthrough();

  ToolOptions options;
  app.add_option("--pref", options.prefs,
                 "Set a preference for this run, as group.key=value (repeatable)")
      ->type_name("GROUP.KEY=VALUE");

  std::map<CLI::App*, CommandRunner> runners;
  CommandRunner info = infoCommandAdd(app, options);
  runners[app.get_subcommand("info")] = info;
  CommandRunner read = readCommandAdd(app, options);
  runners[app.get_subcommand("read")] = read;
  CommandRunner prefs = prefsCommandAdd(app, options);
  runners[app.get_subcommand("prefs")] = prefs;

  CLI11_PARSE(app, argc, argv);
  if (!toolPrefsApply(options)) return 2;
  for (auto& [command, run] : runners)
    if (command->parsed()) return run();
  return 1;
}
