// Helpers shared by the unit tests.
#ifndef KTIF_TEST_SUPPORT_H
#define KTIF_TEST_SUPPORT_H

#include <string>
#include <vector>

#include "kerr.h"

// Captures every report printed and every message logged while it lives, and
// restores the previous sinks afterwards.
class ReportCapture {
 public:
  struct Printed {
    int printer;        // KERR_PRINT_VSL or KERR_PRINT_NOVSL
    std::string label;  // label of the outermost report
    std::string message;
    int chainLength;
  };

  ReportCapture();
  ~ReportCapture();
  ReportCapture(const ReportCapture&) = delete;
  ReportCapture& operator=(const ReportCapture&) = delete;

  std::vector<Printed> printed;
  std::vector<std::pair<int, std::string>> logged;
  // The messages printed so far, in order.
  std::vector<std::string> messages() const;

 private:
  Kerr_ReportSink previousReport_ = nullptr;
  void* previousReportUser_ = nullptr;
  Kerr_LogSink previousLog_ = nullptr;
  void* previousLogUser_ = nullptr;
};

// The messages of a report chain, outermost first.
std::vector<std::string> reportMessages(const Kerr_Report* report);
// The same joined with "|".
std::string joinedMessages(const Kerr_Report* report);

#endif
