#include "korvolog.h"

#include <cstdio>

namespace KorvoLog {
namespace {

void stderrSink(const char* text, void*) {
  std::fprintf(stderr, "%s\n", text);
}

LogSink currentSink = stderrSink;
void* currentUser = nullptr;

}  // namespace

Exception::Exception(const char* source, const char* label, int line, const char* message)
    : source_(source ? source : ""),
      label_(label ? label : ""),
      line_(line),
      message_(message ? message : "") {}

void Exception::Log(int line, const char* text) const {
  std::string entry = source_ + ": " + label_ + "(" + std::to_string(line ? line : line_) + "): ";
  entry += text ? text : message_.c_str();
  LogText(entry.c_str());
}

void Exception::LogText(const char* text) {
  currentSink(text ? text : "", currentUser);
}

LogSink Exception::SetSink(LogSink sink, void* user, void** previousUser) {
  LogSink previous = currentSink;
  if (previousUser != nullptr) *previousUser = currentUser;
  currentSink = sink ? sink : stderrSink;
  currentUser = sink ? user : nullptr;
  return previous;
}

}  // namespace KorvoLog
