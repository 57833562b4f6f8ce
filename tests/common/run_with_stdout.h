// run_with_stdout.h - runs a filter program with its printer stream on a
// descriptor the test chose (a pipe without reader, /dev/full), as a spooler
// whose backend went away leaves it.
#ifndef QUILL_TESTS_COMMON_RUN_WITH_STDOUT_H_
#define QUILL_TESTS_COMMON_RUN_WITH_STDOUT_H_

#include <string>
#include <vector>

namespace quill_test {

// How a program run by RunWithStdout ended.
struct StdoutRun {
  int wstatus = 0;       // as waitpid reports it
  std::string messages;  // everything the program wrote to standard error
};

// Runs `program` with the arguments `args` (args[0] included), standard
// input /dev/null, standard output `out_fd`, standard error into a scratch
// file, SIGPIPE at its default, CUPS_SERVER set to `cups_server` and PPD
// unset. Closes the caller's `out_fd` once the child has it. A program
// still running after a minute is killed (SIGKILL). Blocks until it ends.
StdoutRun RunWithStdout(const std::string& program, const std::vector<std::string>& args,
                        int out_fd, const char* cups_server);

}  // namespace quill_test

#endif  // QUILL_TESTS_COMMON_RUN_WITH_STDOUT_H_
