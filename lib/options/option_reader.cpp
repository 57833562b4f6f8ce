#include "options/option_reader.h"

#include <exception>

#include "support/log.h"

namespace option_reader {

void WarnMalformed(const char* key, const std::string& value, const char* what) {
  quill_log::Warning("option %s has a malformed value \"%s\" (%s), keeping its previous value",
                     key, value.c_str(), what);
}

void ReadBool(StringlizeParamter& opts, const char* key, bool& member) {
  if (!opts.has(key)) return;
  try {
    member = opts.get_bool(key);
  } catch (const std::exception& e) {
    WarnMalformed(key, opts.get(key), e.what());
  }
}

void ReadDouble(StringlizeParamter& opts, const char* key, double& member) {
  if (!opts.has(key)) return;
  try {
    member = opts.get_double(key);
  } catch (const std::exception& e) {
    WarnMalformed(key, opts.get(key), e.what());
  }
}

void ReadText(StringlizeParamter& opts, const char* key, std::string& member) {
  if (opts.has(key)) member = opts.get(key);
}

void ReadHex(StringlizeParamter& opts, const char* key, std::vector<uint8_t>& member) {
  if (opts.has(key)) HexString(opts.get(key)).to_array(member);
}

void ReadPair(StringlizeParamter& opts, const char* key, std::array<int, 2>& member) {
  if (!opts.has(key)) return;
  try {
    std::array<int, 2> pair{};
    str_to_arr(opts.get(key), pair);
    member = pair;
  } catch (const std::exception& e) {
    WarnMalformed(key, opts.get(key), e.what());
  }
}

}  // namespace option_reader
