// str_utils.h - option strings and hexadecimal byte strings.
//
// Options cross the library boundary as one flat text of colon-separated
// key=value pairs; printer byte sequences travel inside values as hex text.
#ifndef QUILL_LIB_OPTIONS_STR_UTILS_H_
#define QUILL_LIB_OPTIONS_STR_UTILS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <vector>

// An ordered key/value set parsed from, and printed to, an option string.
// Keys are kept in ascending byte-wise order; each key has one value. Keys
// and values are arbitrary bytes (no trimming); neither may contain ':' and a
// key may not contain '='.
class StringlizeParamter {
 public:
  static constexpr char KV_SEP = ':';  // separator between two pairs

  StringlizeParamter() = default;
  // Requires: str != nullptr. Same as from_string(str) on an empty set.
  explicit StringlizeParamter(const char* str);

  // Parses `str`. The empty text keeps the current content; any other text
  // replaces it. Pieces without '=' and empty pieces are skipped; when a key
  // occurs more than once the first occurrence wins.
  void from_string(const std::string& str);
  // "k1=v1:k2=v2" in key order; the empty set gives "".
  std::string to_string() const;

  bool has(const std::string& key) const;
  // The value of `key`. Not read-only: an absent key is inserted with the
  // empty value, which is then returned.
  std::string get(const std::string& key);
  void put(const std::string& key, const std::string& val);
  void remove(const std::string& key);

  // get(key) as a decimal int: leading blanks, optional sign, digits; the
  // rest is ignored. Throws std::invalid_argument ("stoi") when no digit can
  // be read (an absent key included) and std::out_of_range ("stoi") when the
  // number does not fit an int.
  int get_int(const std::string& key);
  // get_int(key) != 0; same exceptions.
  bool get_bool(const std::string& key);
  // get(key) read as a float (std::stof) and widened, so "2.2" gives
  // 2.2000000476837158. Throws std::invalid_argument / std::out_of_range
  // ("stof").
  double get_double(const std::string& key);

 private:
  std::map<std::string, std::string> opt_grp;  // the parameters, key order
};

// Bytes converted from and to hexadecimal text ("1B40" <-> 0x1B 0x40).
class HexString {
 public:
  HexString() = default;
  explicit HexString(const std::string& str);

  // Replaces the bytes by those of `str`, read two characters per byte
  // (high nibble first). Characters that are not hex digits count as 0; a
  // final unpaired character is ignored. Never fails.
  void from_string(const std::string& str);
  // Two upper-case digits per byte, nothing between. The pointer stays
  // valid until the next to_string call or the object's destruction.
  const char* to_string();
  // Replaces the bytes by a copy of `len` bytes at `start`.
  void from_array(const uint8_t* start, size_t len);
  // Sets `len` and returns the object's own bytes (valid until it changes).
  const uint8_t* to_array(size_t& len) const;
  // Replaces the contents of `inout_arr` by a copy of the bytes.
  void to_array(std::vector<uint8_t>& inout_arr) const;

 private:
  std::vector<uint8_t> arr;  // the bytes
  std::string out_str;       // text of the last to_string call
};

// Fills `arr` from the comma-separated text `s`: piece i (ended by ',' or the
// end of the text) is converted as StringlizeParamter::get_int converts (same
// exceptions); elements without a piece become 0; pieces beyond N are
// ignored. "10,-5" -> {10, -5}; "7" -> {7, 0}; "" -> {0, 0}.
template <size_t N>
void str_to_arr(const std::string& s, std::array<int, N>& arr) {
  std::istringstream in(s);
  for (size_t i = 0; i < N; ++i) {
    std::string piece;
    if (std::getline(in, piece, ',')) {
      arr[i] = std::stoi(piece);
    } else {
      arr[i] = 0;
    }
  }
}

#endif  // QUILL_LIB_OPTIONS_STR_UTILS_H_
