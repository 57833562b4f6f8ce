// dot_output.cpp - printer stream and message lines of quilldot.
#include "dot_output.h"

#include <cstdarg>
#include <string>

namespace quilldot {
namespace {

FILE* g_printer = nullptr;   // nullptr: stdout
FILE* g_messages = nullptr;  // nullptr: stderr

FILE* PrinterStream() { return g_printer ? g_printer : stdout; }

}  // namespace

void SetOutputStreams(FILE* printer, FILE* messages) {
  g_printer = printer;
  g_messages = messages;
}

FILE* MessageStream() { return g_messages ? g_messages : stderr; }

void Emit(const Bytes& command) {
  if (!command.empty()) fwrite(command.data(), 1, command.size(), PrinterStream());
}

void FlushOutput() { fflush(PrinterStream()); }

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
