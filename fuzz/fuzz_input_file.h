// fuzz_input_file.h - the file through which the filter targets hand an
// input to a filter's job loop, which reads its raster from a named file
// as CUPS's last filter argument. One file per process, in a private
// temporary folder made on first use.
#ifndef QUILL_FUZZ_FUZZ_INPUT_FILE_H_
#define QUILL_FUZZ_FUZZ_INPUT_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace quill_fuzz {

// The path of this process's input file (the folder is made on the first
// call; the process aborts when it cannot be).
const std::string& InputPath(const char* stem);

// Replaces the file's content by `size` bytes of `data`; false on a write
// error.
bool WriteInput(const std::string& path, const uint8_t* data, size_t size);

}  // namespace quill_fuzz

#endif  // QUILL_FUZZ_FUZZ_INPUT_FILE_H_
