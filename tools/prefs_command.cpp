// `ktif prefs`: every preference the library reads, its default, the value in
// effect and where that value comes from.
#include "commands.h"

#include <charconv>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "kmsc.h"
#include "kpmg.h"
#include "ktif_prefs.h"

namespace {

struct PrefRow {
  const KtifPreference* pref;
  std::string value;
  std::string source;
  std::string ignored;  // why a value that is set was not used
};

// The shortest text that reads back as the same double.
std::string formatNumber(double value) {
  char text[64];
  auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

// Reads one preference the way the library does; a malformed value shows as
// the default with the source saying why.
PrefRow prefRead(const KtifPreference& pref) {
  PrefRow row{&pref, "", kpmg_GetPreferenceSource(pref.group, pref.key), ""};
  if (row.source == "file" && kpmg_PreferencesFileName() != nullptr)
    row.source = std::string("file ") + kpmg_PreferencesFileName();
  if (row.source == "set") row.source = "--pref";
  Kerr_Report* err = nullptr;
  switch (pref.kind) {
    case KTIF_PREF_ENUM: {
      char* value =
          kpmg_GetEnumPreference(pref.group, pref.key, pref.defaultText, pref.values, &err);
      row.value = value ? value : pref.defaultText;
      if (value != pref.defaultText) kmsc_HeapFree(value);
      break;
    }
    case KTIF_PREF_NUMBER:
      row.value =
          formatNumber(kpmg_GetNumberPreference(pref.group, pref.key, pref.defaultNumber, &err));
      break;
    case KTIF_PREF_BOOLEAN:
      row.value = kpmg_GetBooleanPreference(pref.group, pref.key, pref.defaultNumber != 0, &err)
                      ? "true"
                      : "false";
      break;
  }
  if (err != nullptr) {
    row.ignored = kerr_ReportMessage(err);
    row.source = "default (" + row.source + " value ignored: " + row.ignored + ")";
    kerr_DeleteErrorReportEx(&err);
  }
  return row;
}

const char* kindName(KtifPrefKind kind) {
  static const char* const names[] = {"enumeration", "number", "boolean"};
  return names[kind];
}

int prefsPrint(bool json) {
  nlohmann::json out = nlohmann::json::array();
  if (!json)
    std::printf("%-14s %-26s %-12s %-12s %s\n", "GROUP", "KEY", "DEFAULT", "VALUE", "SOURCE");
  for (const KtifPreference& pref : ktifPreferences) {
    PrefRow row = prefRead(pref);
    if (json) {
      nlohmann::json entry = {{"group", pref.group},         {"key", pref.key},
                              {"kind", kindName(pref.kind)}, {"default", pref.defaultText},
                              {"value", row.value},          {"source", row.source}};
      if (!row.ignored.empty()) entry["ignored"] = row.ignored;
      out.push_back(entry);
    } else {
      std::printf("%-14s %-26s %-12s %-12s %s\n", pref.group, pref.key, pref.defaultText,
                  row.value.c_str(), row.source.c_str());
    }
  }
  if (json) std::printf("%s\n", out.dump(2).c_str());
  return 0;
}

}  // namespace

bool toolPrefsApply(const ToolOptions& options) {
  for (const std::string& assignment : options.prefs) {
    Kerr_Report* err = nullptr;
    if (kpmg_SetPreferenceAssignment(assignment.c_str(), &err) != 0) {
      std::fprintf(stderr, "ktif: --pref %s: %s\n", assignment.c_str(),
                   err ? kerr_ReportMessage(err) : "rejected");
      kerr_DeleteErrorReportEx(&err);
      return false;
    }
  }
  return true;
}

CommandRunner prefsCommandAdd(CLI::App& app, const ToolOptions&) {
  CLI::App* command = app.add_subcommand(
      "prefs", "List the preferences the library reads: default, value in effect, and its source");
  auto json = std::make_shared<bool>(false);
  command->add_flag("--json", *json, "Print JSON instead of a table");
  return [json] { return prefsPrint(*json); };
}
