// What the subcommands share: opening one image of a file with a checked
// index, reporting failures on stderr, and how a projection record is shown.
#include <charconv>
#include <cstdio>

#include "commands.h"
#include "kmsc.h"
#include "korvolog.h"

void toolFail(const std::string& message, Kerr_Report** report) {
  // One line: the message, then each report of the chain from the outermost
  // to its root cause, so that scripts can take the reason from one line.
  std::string line = "ktif: " + message;
  for (const Kerr_Report* r = report ? *report : nullptr; r != nullptr; r = kerr_ReportCause(r))
    line += std::string(r == *report ? " (" : "; ") + kerr_ReportLabel(r) + ": " +
            kerr_ReportMessage(r);
  if (report != nullptr && *report != nullptr) line += ")";
  std::fprintf(stderr, "%s\n", line.c_str());
  if (report != nullptr) kerr_DeleteErrorReportEx(report);
}

Ktif_File* toolImageOpen(const std::string& path, int64_t image, int32_t* imageCount) {
  Kerr_Report* err = nullptr;
  Ktif_File* handle = ktif_Open(path.c_str(), "r", &err);
  if (handle == nullptr) {
    toolFail("cannot open " + path, &err);
    return nullptr;
  }
  if (handle->tiff == nullptr) {
    // Files of 8 bytes or less open as a file to be created.
    ktif_Close(handle, nullptr);
    toolFail(path + " is not a TIFF file (8 bytes or less)", nullptr);
    return nullptr;
  }
  const int32_t count = ktif_NumImages(handle, &err);
  kerr_DeleteErrorReportEx(&err);
  *imageCount = count;
  // The library takes an index past the last image as a directory number,
  // which could land on an overview; the tool only names images.
  if (image < 0 || image >= count) {
    ktif_Close(handle, nullptr);
    toolFail("image " + std::to_string(image) + " out of range: " + path + " has " +
                 std::to_string(count) + (count == 1 ? " image" : " images"),
             nullptr);
    return nullptr;
  }
  if (image == 0) return handle;
  ktif_Close(handle, nullptr);
  handle = ktif_OpenImageByIndex(path.c_str(), "r", image, &err);
  if (handle == nullptr)
    toolFail("cannot open image " + std::to_string(image) + " of " + path, &err);
  return handle;
}

namespace {

ToolLog logged;
bool verboseOutput = false;

// Warnings and errors are shown; notices (an unknown private tag, say) only
// with --verbose.
void toolReportSink(const Kerr_Report* report, int printer, void*) {
  if (kerr_ReportSeverity(report) == KERR_NOTICE && !verboseOutput) return;
  char* text = kerr_ReportFormat(report, printer == KERR_PRINT_VSL);
  if (text != nullptr) std::fputs(text, stderr);
  kmsc_HeapFree(text);
}

// Lines at level -1 are failures (a block that could not be read): counted
// for the command's summary, shown one by one only with --verbose.
void toolLogSink(int level, const char* text, void*) {
  if (level < 0) {
    if (logged.failures++ == 0) logged.first = text;
  }
  if (verboseOutput) std::fprintf(stderr, "log(%d): %s\n", level, text);
}

// The EPSG helper logs what it could not translate (a system without an
// EPSG code, say): an answer the tool already prints, so a line to read only
// with --verbose.
void toolExceptionLogSink(const char* text, void*) {
  if (verboseOutput) std::fprintf(stderr, "log: %s\n", text);
}

}  // namespace

void toolSinksInstall(bool verbose) {
  verboseOutput = verbose;
  kerr_SetReportSink(toolReportSink, nullptr, nullptr, nullptr);
  kerr_SetLogSink(toolLogSink, nullptr, nullptr, nullptr);
  KorvoLog::Exception::SetSink(toolExceptionLogSink, nullptr);
}

ToolLog toolLogTake() {
  ToolLog taken = logged;
  logged = ToolLog{};
  return taken;
}

std::string numberText(double value) {
  char text[32];
  auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

nlohmann::ordered_json projectionJson(const Kprj_ProParameters* pro) {
  if (pro == nullptr) return nullptr;
  nlohmann::ordered_json spheroid = nullptr, datum = nullptr, datumCode = nullptr;
  if (pro->spheroid != nullptr) {
    spheroid = {{"name", pro->spheroid->name ? pro->spheroid->name : ""},
                {"a", pro->spheroid->semiMajor},
                {"b", pro->spheroid->semiMinor}};
    const Kprj_Datum* d = pro->spheroid->datum;
    if (d != nullptr && d->name != nullptr && d->name[0] != '\0') datum = d->name;
    if (d != nullptr && d->epsgCode > 0) datumCode = d->epsgCode;
  }
  nlohmann::ordered_json parameters = nullptr;
  if (pro->parameters != nullptr)
    parameters = std::vector<double>(pro->parameters, pro->parameters + KPRJ_PARAMETER_COUNT);
  nlohmann::ordered_json out;
  out["type"] = pro->type;
  out["number"] = pro->number;
  out["name"] = pro->name ? pro->name : "";
  out["zone"] = pro->zone;
  out["parameters"] = parameters;
  out["spheroid"] = spheroid;
  out["datum"] = datum;
  out["datumCode"] = datumCode;
  return out;
}

std::string projectionText(const Kprj_ProParameters* pro) {
  std::string text = std::string(pro->name ? pro->name : "") + " (number " +
                     std::to_string(pro->number) + ", zone " + std::to_string(pro->zone) + ")";
  if (pro->spheroid != nullptr)
    text += ", spheroid " + std::string(pro->spheroid->name ? pro->spheroid->name : "") + " (" +
            numberText(pro->spheroid->semiMajor) + ", " + numberText(pro->spheroid->semiMinor) +
            ")";
  return text;
}
