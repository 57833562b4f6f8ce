// filter_test_util.h - small helpers shared by the quillfilter tests.
#ifndef QUILL_TESTS_FILTER_FILTER_TEST_UTIL_H_
#define QUILL_TESTS_FILTER_FILTER_TEST_UTIL_H_

#include <string>
#include <vector>

namespace quill_filter_test {

// A private directory under /tmp, removed with everything in it on
// destruction. Mode 0755, so that processes running as another user (the
// CUPS filter user) can read what the test puts there.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name.
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

// Whole content of a file; empty when it cannot be read.
std::string ReadFile(const std::string& path);

// The lines of `text` without their line ends.
std::vector<std::string> Lines(const std::string& text);

// Number of lines of `text` equal to `line`.
int CountLine(const std::string& text, const std::string& line);

// Number of lines of `text` containing `part`.
int CountContaining(const std::string& text, const std::string& part);

// Bytes of a string, e.g. printer output, as "1B 40 ..." for messages.
std::string Hex(const std::string& bytes);

}  // namespace quill_filter_test

#endif  // QUILL_TESTS_FILTER_FILTER_TEST_UTIL_H_
