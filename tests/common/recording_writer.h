// recording_writer.h - a write callback that keeps every call it receives.
#ifndef QUILL_TESTS_COMMON_RECORDING_WRITER_H_
#define QUILL_TESTS_COMMON_RECORDING_WRITER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "quill/libquill.h"

namespace quill_test {

using Bytes = std::vector<uint8_t>;

// Collects the bytes of every write-callback call, one entry per call, so
// tests can check both the stream and how it was split into commands.
class RecordingWriter {
 public:
  // The callback to put into CONV_PARAM2::wr_cb, with Handle() as wr_hdl.
  static int Callback(void* hdl, const void* data, unsigned int len);
  void* Handle() { return this; }

  const std::vector<Bytes>& Calls() const { return calls_; }
  Bytes All() const;  // every call's bytes, concatenated
  void Clear() { calls_.clear(); }

 private:
  std::vector<Bytes> calls_;
};

// Bytes from hex text such as "1B 40 0C" (blanks ignored).
Bytes HexBytes(const std::string& hex);
// "1B 40 0C" from bytes, for readable failure messages.
std::string ToHex(const Bytes& bytes);

}  // namespace quill_test

#endif  // QUILL_TESTS_COMMON_RECORDING_WRITER_H_
