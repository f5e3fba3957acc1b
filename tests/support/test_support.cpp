#include "test_support.h"

namespace {

void captureReport(const Kerr_Report* report, int printer, void* user) {
  static_cast<ReportCapture*>(user)->printed.push_back({printer, kerr_ReportLabel(report),
                                                        kerr_ReportMessage(report),
                                                        kerr_ReportChainLength(report)});
}

void captureLog(int level, const char* text, void* user) {
  static_cast<ReportCapture*>(user)->logged.emplace_back(level, text);
}

}  // namespace

ReportCapture::ReportCapture() {
  kerr_SetReportSink(captureReport, this, &previousReport_, &previousReportUser_);
  kerr_SetLogSink(captureLog, this, &previousLog_, &previousLogUser_);
}

ReportCapture::~ReportCapture() {
  kerr_SetReportSink(previousReport_, previousReportUser_, nullptr, nullptr);
  kerr_SetLogSink(previousLog_, previousLogUser_, nullptr, nullptr);
}

std::vector<std::string> ReportCapture::messages() const {
  std::vector<std::string> out;
  for (const Printed& p : printed) out.push_back(p.message);
  return out;
}

std::vector<std::string> reportMessages(const Kerr_Report* report) {
  std::vector<std::string> messages;
  for (; report != nullptr; report = kerr_ReportCause(report))
    messages.push_back(kerr_ReportMessage(report));
  return messages;
}

std::string joinedMessages(const Kerr_Report* report) {
  std::string out;
  for (const std::string& m : reportMessages(report)) out += (out.empty() ? "" : "|") + m;
  return out;
}
