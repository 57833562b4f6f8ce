#include "options/str_utils.h"

#include <cstdio>

StringlizeParamter::StringlizeParamter(const char* str) { from_string(str); }

void StringlizeParamter::from_string(const std::string& str) {
  if (str.empty()) return;
  opt_grp.clear();
  size_t begin = 0;
  while (begin <= str.size()) {
    size_t end = str.find(KV_SEP, begin);
    if (end == std::string::npos) end = str.size();
    if (end > begin) {
      std::string piece = str.substr(begin, end - begin);
      size_t eq = piece.find('=');
      if (eq != std::string::npos) {
        // emplace keeps an existing entry: the first occurrence wins.
        opt_grp.emplace(piece.substr(0, eq), piece.substr(eq + 1));
      }
    }
    begin = end + 1;
  }
}

std::string StringlizeParamter::to_string() const {
  std::string out;
  for (const auto& [key, val] : opt_grp) {
    out += key;
    out += '=';
    out += val;
    out += KV_SEP;
  }
  if (!out.empty() && out.back() == KV_SEP) out.pop_back();
  return out;
}

bool StringlizeParamter::has(const std::string& key) const { return opt_grp.count(key) != 0; }

std::string StringlizeParamter::get(const std::string& key) { return opt_grp[key]; }

void StringlizeParamter::put(const std::string& key, const std::string& val) { opt_grp[key] = val; }

void StringlizeParamter::remove(const std::string& key) { opt_grp.erase(key); }

int StringlizeParamter::get_int(const std::string& key) { return std::stoi(get(key)); }

bool StringlizeParamter::get_bool(const std::string& key) { return get_int(key) != 0; }

double StringlizeParamter::get_double(const std::string& key) {
  return static_cast<double>(std::stof(get(key)));
}

namespace {

uint8_t HexDigit(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
  return 0;
}

}  // namespace

HexString::HexString(const std::string& str) { from_string(str); }

void HexString::from_string(const std::string& str) {
  arr.clear();
  for (size_t i = 0; i + 1 < str.size(); i += 2) {
    arr.push_back(static_cast<uint8_t>((HexDigit(str[i]) << 4) | HexDigit(str[i + 1])));
  }
}

const char* HexString::to_string() {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  out_str.clear();
  out_str.reserve(arr.size() * 2);
  for (uint8_t b : arr) {
    out_str += kDigits[b >> 4];
    out_str += kDigits[b & 0x0F];
  }
  return out_str.c_str();
}

void HexString::from_array(const uint8_t* start, size_t len) { arr.assign(start, start + len); }

const uint8_t* HexString::to_array(size_t& len) const {
  len = arr.size();
  return arr.data();
}

void HexString::to_array(std::vector<uint8_t>& inout_arr) const { inout_arr = arr; }
