// option_reader.h - reading option values into document-processor members.
//
// A malformed value (copies=abc, copies=3000000000) must not escape as an
// exception through the C interface: each reader catches the conversion
// error, logs a warning naming the key, and leaves the member as it was.
// An absent key also leaves the member unchanged.
#ifndef QUILL_LIB_OPTIONS_OPTION_READER_H_
#define QUILL_LIB_OPTIONS_OPTION_READER_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "options/str_utils.h"

namespace option_reader {

// Reads `key` as a decimal int and stores it converted to T (the narrowing
// of the stored type, e.g. uint8 for "duplex", is intended).
template <typename T>
void ReadInt(StringlizeParamter& opts, const char* key, T& member);

// Reads `key` as a number, nonzero meaning true.
void ReadBool(StringlizeParamter& opts, const char* key, bool& member);

// Reads `key` as a float widened to double.
void ReadDouble(StringlizeParamter& opts, const char* key, double& member);

// Reads `key` as text.
void ReadText(StringlizeParamter& opts, const char* key, std::string& member);

// Reads `key` as hexadecimal bytes (never malformed: bad digits count as 0).
void ReadHex(StringlizeParamter& opts, const char* key, std::vector<uint8_t>& member);

// Reads `key` as "x,y"; missing pieces are 0.
void ReadPair(StringlizeParamter& opts, const char* key, std::array<int, 2>& member);

// Logs the warning for a malformed value of `key`.
void WarnMalformed(const char* key, const std::string& value, const char* what);

template <typename T>
void ReadInt(StringlizeParamter& opts, const char* key, T& member) {
  if (!opts.has(key)) return;
  try {
    member = static_cast<T>(opts.get_int(key));
  } catch (const std::exception& e) {
    WarnMalformed(key, opts.get(key), e.what());
  }
}

}  // namespace option_reader

#endif  // QUILL_LIB_OPTIONS_OPTION_READER_H_
