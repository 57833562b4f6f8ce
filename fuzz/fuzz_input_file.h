// fuzz_input_file.h - handing an input to code that reads a file: a named
// file (one per process, in a private temporary folder made on first use)
// for the image pages, a memory file descriptor for the filters' job loops.
#ifndef QUILL_FUZZ_FUZZ_INPUT_FILE_H_
#define QUILL_FUZZ_FUZZ_INPUT_FILE_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace quill_fuzz {

// The path of this process's input file (the folder is made on the first
// call; the process aborts when it cannot be).
const std::string& InputPath(const char* stem);

// Replaces the file's content by `size` bytes of `data`; false on a write
// error.
bool WriteInput(const std::string& path, const uint8_t* data, size_t size);

// A memory file (memfd) holding `size` bytes of `data`, positioned at its
// start; the caller closes it. -1 when it cannot be made.
int MemoryFd(const uint8_t* data, size_t size);

// A stream to /dev/null for the printer bytes and messages of a filter's job
// loop, opened once and kept for the life of the process; null when
// /dev/null cannot be opened.
FILE* NullStream();

// Points libcups at a print server that does not exist, so that the filters'
// destination lookups fail at once instead of asking a real cupsd. Call once
// before the first input.
void KeepAwayFromPrintServers();

}  // namespace quill_fuzz

#endif  // QUILL_FUZZ_FUZZ_INPUT_FILE_H_
