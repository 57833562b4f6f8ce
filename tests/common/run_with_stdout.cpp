#include "common/run_with_stdout.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace quill_test {

StdoutRun RunWithStdout(const std::string& program, const std::vector<std::string>& args,
                        int out_fd, const char* cups_server) {
  char dir[] = "/tmp/quill-stdout-XXXXXX";
  StdoutRun run;
  if (mkdtemp(dir) == nullptr) {
    close(out_fd);
    run.wstatus = -1;
    return run;
  }
  const std::string err_path = std::string(dir) + "/err";
  std::vector<std::string> storage = args;
  std::vector<char*> argv;
  for (std::string& a : storage) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(out_fd, 1);
    dup2(err, 2);
    signal(SIGPIPE, SIG_DFL);
    setenv("CUPS_SERVER", cups_server, 1);
    unsetenv("PPD");
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out_fd);
  // Bounded: a program that hangs is killed after a minute.
  for (int i = 0; i < 6000 && waitpid(pid, &run.wstatus, WNOHANG) == 0; ++i) usleep(10000);
  if (waitpid(pid, &run.wstatus, WNOHANG) == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &run.wstatus, 0);
  }
  std::ifstream f(err_path, std::ios::binary);
  run.messages.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  unlink(err_path.c_str());
  rmdir(dir);
  return run;
}

}  // namespace quill_test
