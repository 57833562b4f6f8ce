// fuzz_common.h - what every fuzz target of this folder shares: a "quill"
// logger that formats every record and drops it, a write callback that
// only counts, and a cancellation budget.
//
// The logger is registered at the lowest level so that the library formats
// all its records (their printf-style arguments are part of what is
// fuzzed), into a null sink so that nothing reaches the terminal.
//
// A host stops a job through the request-exit callback; the targets do the
// same after a fixed number of questions, so that an input asking for a
// billion copies ends in time instead of being reported as a timeout.
#ifndef QUILL_FUZZ_FUZZ_COMMON_H_
#define QUILL_FUZZ_FUZZ_COMMON_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace quill_fuzz {

// Registers the null "quill" logger once per process; safe to call on
// every input.
void InstallNullLogger();

// Counts the bytes a processor writes. `hdl` points to a uint64_t.
int CountingWrite(void* hdl, const void* data, unsigned int len);

// The cancellation budget: `param` points to a Budget; answers nonzero once
// `left` questions have been asked.
struct Budget {
  uint32_t left;  // questions before the job is stopped
};
int BudgetExit(void* param);

// Takes bytes from the front of a fuzz input, as libFuzzer's
// FuzzedDataProvider does, without its header (a C++17 plain reader
// suffices): numbers first, the rest as a blob.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  // The next byte, or 0 when the input is used up.
  uint8_t Byte();
  // A little-endian 16-bit number from the next two bytes.
  uint16_t U16();
  // At most `max` bytes up to and excluding the next 0 byte (consumed).
  std::string Text(size_t max);
  // Everything that is left.
  const uint8_t* rest() const { return data_; }
  size_t rest_size() const { return size_; }

 private:
  const uint8_t* data_;  // unread bytes
  size_t size_;          // count of unread bytes
};

}  // namespace quill_fuzz

#endif  // QUILL_FUZZ_FUZZ_COMMON_H_
