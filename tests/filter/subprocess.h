// subprocess.h - child processes for the program and end-to-end tests, with
// every wait bounded by a timeout.
#ifndef QUILL_TESTS_FILTER_SUBPROCESS_H_
#define QUILL_TESTS_FILTER_SUBPROCESS_H_

#include <sys/types.h>

#include <string>
#include <vector>

namespace quill_filter_test {

// One child process with pipes on its standard input, output and error.
// The destructor kills a child that is still running (SIGKILL) and reaps it.
class Subprocess {
 public:
  // Starts `argv[0]` (a path) with `argv` and the environment `env`
  // ("NAME=value" entries; the parent's environment when `inherit_env`, with
  // `env` entries overriding). `argv0` replaces the program's argv[0] when
  // not empty (CUPS filters take the queue name there).
  Subprocess(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
             bool inherit_env = true, const std::string& argv0 = "");
  ~Subprocess();
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  pid_t pid() const { return pid_; }

  // Writes all of `data` to the child's standard input, collecting the
  // child's output meanwhile; false on failure or after `timeout_ms`.
  bool Write(const std::string& data, int timeout_ms = 30000);
  // Closes the child's standard input (end of its input).
  void CloseStdin();
  // Reads output until standard error contains `text` `count` times or
  // `timeout_ms` passes; true when found.
  bool WaitForStderr(const std::string& text, int timeout_ms, int count = 1);
  // Sends `sig` to the child.
  void Signal(int sig);
  // Reads all output until the child exits, at most `timeout_ms`; then kills
  // it. Returns the exit status, or -1 when it had to be killed or ended by
  // a signal.
  int Wait(int timeout_ms);

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 private:
  // Reads what is available within `timeout_ms`; false when both pipes are
  // closed.
  bool Pump(int timeout_ms);

  pid_t pid_ = -1;
  int in_fd_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  int status_ = -1;
  bool reaped_ = false;
  std::string out_;
  std::string err_;
};

// Result of a command run to completion.
struct CommandResult {
  int status = -1;  // exit status, -1 for a timeout or a signal
  std::string out;
  std::string err;
};

// Runs `argv` with the parent's environment plus `env`, feeding `input` on
// its standard input, and waits at most `timeout_ms`.
CommandResult RunCommand(const std::vector<std::string>& argv,
                         const std::vector<std::string>& env = {}, const std::string& input = "",
                         int timeout_ms = 30000);

}  // namespace quill_filter_test

#endif  // QUILL_TESTS_FILTER_SUBPROCESS_H_
