#include "common/recording_writer.h"

#include <cstdio>
#include <stdexcept>

namespace quill_test {

int RecordingWriter::Callback(void* hdl, const void* data, unsigned int len) {
  auto* self = static_cast<RecordingWriter*>(hdl);
  const auto* p = static_cast<const uint8_t*>(data);
  self->calls_.emplace_back(p, p + len);
  return static_cast<int>(len);
}

Bytes RecordingWriter::All() const {
  Bytes out;
  for (const Bytes& call : calls_) out.insert(out.end(), call.begin(), call.end());
  return out;
}

Bytes HexBytes(const std::string& hex) {
  Bytes out;
  int nibbles = 0;
  unsigned value = 0;
  for (char c : hex) {
    if (c == ' ') continue;
    unsigned d;
    if (c >= '0' && c <= '9') d = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f') d = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') d = static_cast<unsigned>(c - 'A' + 10);
    else throw std::invalid_argument("bad hex digit in test data");
    value = value * 16 + d;
    if (++nibbles == 2) {
      out.push_back(static_cast<uint8_t>(value));
      nibbles = 0;
      value = 0;
    }
  }
  return out;
}

std::string ToHex(const Bytes& bytes) {
  std::string out;
  char buf[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, i == 0 ? "%02X" : " %02X", bytes[i]);
    out += buf;
  }
  return out;
}

}  // namespace quill_test
