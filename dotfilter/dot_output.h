// dot_output.h - where quilldot's printer bytes and messages go.
//
// The printer stream is standard output and the spooler's message channel
// is standard error. Both can be redirected for in-process tests; nothing
// else in quilldot touches stdout or stderr directly.
#ifndef QUILL_DOTFILTER_DOT_OUTPUT_H_
#define QUILL_DOTFILTER_DOT_OUTPUT_H_

#include <cstdio>

#include "dot_commands.h"

namespace quilldot {

// Replaces the printer and message streams of the calling thread (nullptr
// restores stdout or stderr). The streams are borrowed; the caller keeps
// them open while quilldot writes.
void SetOutputStreams(FILE* printer, FILE* messages);

// Writes one printer command with a single write call. A failed write
// (EPIPE when the backend went away, ENOSPC, ...) records its errno in
// OutputError (dot_state.h); from then on nothing more is written, and the
// job loop stops at its next row and ends the job with an ERROR line.
void Emit(const Bytes& command);
// Flushes the printer stream (once per band, raster line and page); a failed
// flush is recorded like a failed write.
void FlushOutput();

// The message stream (standard error unless redirected).
FILE* MessageStream();

// Writes a plain message line such as "INFO: ...\n" to the message stream.
void Message(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes a trace line: "[QL] " followed by the formatted text. The prefix is
// joined without a fixed-size buffer, so any format length is safe.
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace quilldot

#endif  // QUILL_DOTFILTER_DOT_OUTPUT_H_
