/* The log library's exception types.
 *
 * KorvoLog::Exception is the base of the host's exceptions: it carries the
 * source (module) name, a label, a line and a message, and knows how to log
 * itself. Logging goes to a sink, stderr by default, that hosts and tests can
 * replace.
 */
#ifndef KORVOLOG_H
#define KORVOLOG_H

#include <exception>
#include <string>

namespace KorvoLog {

typedef void (*LogSink)(const char* text, void* user);

class __attribute__((visibility("default"))) Exception : public std::exception {
 public:
  Exception(const char* source, const char* label, int line = 0, const char* message = nullptr);
  ~Exception() override = default;

  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& source() const noexcept { return source_; }
  const std::string& label() const noexcept { return label_; }
  int line() const noexcept { return line_; }

  /* Logs "source: label(line): text", where text defaults to the message. */
  virtual void Log(int line = 0, const char* text = nullptr) const;

  /* Writes one line through the current sink. */
  static void LogText(const char* text);
  /* Replaces the sink (null restores stderr); returns the previous one. */
  static LogSink SetSink(LogSink sink, void* user, void** previousUser = nullptr);

 protected:
  void setMessage(std::string message) { message_ = std::move(message); }
  void setLine(int line) { line_ = line; }

 private:
  std::string source_;
  std::string label_;
  int line_;
  std::string message_;
};

}  // namespace KorvoLog

#endif
