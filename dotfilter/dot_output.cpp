// dot_output.cpp - printer stream and message lines of quilldot.
#include "dot_output.h"

#include <cerrno>
#include <cstdarg>
#include <string>

#include "dot_state.h"

namespace quilldot {
namespace {

// Per thread, like the job state (dot_state.h).
thread_local FILE* g_printer = nullptr;   // nullptr: stdout
thread_local FILE* g_messages = nullptr;  // nullptr: stderr

FILE* PrinterStream() { return g_printer ? g_printer : stdout; }

// Records the errno of a failed write or flush, the first one only.
void RecordOutputError() {
  if (OutputError == 0) OutputError = errno != 0 ? errno : EIO;
}

}  // namespace

void SetOutputStreams(FILE* printer, FILE* messages) {
  g_printer = printer;
  g_messages = messages;
}

FILE* MessageStream() { return g_messages ? g_messages : stderr; }

void Emit(const Bytes& command) {
  if (command.empty() || OutputError != 0) return;
  errno = 0;
  if (fwrite(command.data(), 1, command.size(), PrinterStream()) < command.size())
    RecordOutputError();
}

void FlushOutput() {
  if (OutputError != 0) return;
  errno = 0;
  if (fflush(PrinterStream()) != 0) RecordOutputError();
}

void Message(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  vfprintf(MessageStream(), format, ap);
  va_end(ap);
}

void Trace(const char* format, ...) {
  // The prefix becomes part of the format, so the line is written with one
  // call and arguments stay where the caller put them.
  std::string prefixed = "[QL] ";
  prefixed += format;
  va_list ap;
  va_start(ap, format);
  vfprintf(MessageStream(), prefixed.c_str(), ap);
  va_end(ap);
}

}  // namespace quilldot
