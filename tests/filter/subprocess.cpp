#include "subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>

extern char** environ;

namespace quill_filter_test {
namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace

Subprocess::Subprocess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                       bool inherit_env, const std::string& argv0) {
  std::map<std::string, std::string> vars;
  if (inherit_env) {
    for (char** e = environ; *e != nullptr; ++e) {
      std::string entry(*e);
      vars[entry.substr(0, entry.find('='))] = entry;
    }
  }
  for (const std::string& entry : env) vars[entry.substr(0, entry.find('='))] = entry;
  std::vector<std::string> env_storage;
  for (auto& kv : vars) env_storage.push_back(kv.second);

  std::vector<std::string> args = argv;
  if (!argv0.empty()) args[0] = argv0;
  std::vector<char*> c_args;
  for (std::string& a : args) c_args.push_back(a.data());
  c_args.push_back(nullptr);
  std::vector<char*> c_env;
  for (std::string& e : env_storage) c_env.push_back(e.data());
  c_env.push_back(nullptr);
  const std::string program = argv[0];

  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    return;
  }
  pid_ = fork();
  if (pid_ == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    signal(SIGPIPE, SIG_DFL);
    execve(program.c_str(), c_args.data(), c_env.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  in_fd_ = in[1];
  out_fd_ = out[0];
  err_fd_ = err[0];
  fcntl(in_fd_, F_SETFL, O_NONBLOCK);
  fcntl(out_fd_, F_SETFL, O_NONBLOCK);
  fcntl(err_fd_, F_SETFL, O_NONBLOCK);
  if (pid_ < 0) {
    CloseFd(in_fd_);
    CloseFd(out_fd_);
    CloseFd(err_fd_);
  }
}

Subprocess::~Subprocess() {
  CloseFd(in_fd_);
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
  }
  CloseFd(out_fd_);
  CloseFd(err_fd_);
}

bool Subprocess::Write(const std::string& data, int timeout_ms) {
  // A test's own SIGPIPE would end the test program: a child that closed its
  // input is reported as a failed write instead.
  struct sigaction ignore {}, old {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &old);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  size_t done = 0;
  while (in_fd_ >= 0 && done < data.size() && RemainingMs(deadline) > 0) {
    ssize_t n = write(in_fd_, data.data() + done, data.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EAGAIN) {
      // The child is busy; keep its output flowing so it cannot block on it.
      Pump(10);
    } else if (!(n < 0 && errno == EINTR)) {
      break;
    }
  }
  sigaction(SIGPIPE, &old, nullptr);
  return done == data.size();
}

void Subprocess::CloseStdin() { CloseFd(in_fd_); }

bool Subprocess::Pump(int timeout_ms) {
  pollfd fds[2];
  int n = 0;
  int* owners[2];
  std::string* sinks[2];
  if (out_fd_ >= 0) {
    fds[n] = {out_fd_, POLLIN, 0};
    owners[n] = &out_fd_;
    sinks[n++] = &out_;
  }
  if (err_fd_ >= 0) {
    fds[n] = {err_fd_, POLLIN, 0};
    owners[n] = &err_fd_;
    sinks[n++] = &err_;
  }
  if (n == 0) return false;
  int ready = poll(fds, static_cast<nfds_t>(n), timeout_ms);
  if (ready <= 0) return true;
  for (int i = 0; i < n; ++i) {
    if (fds[i].revents == 0) continue;
    char buf[65536];
    ssize_t got = read(fds[i].fd, buf, sizeof buf);
    if (got > 0) {
      sinks[i]->append(buf, static_cast<size_t>(got));
    } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
      CloseFd(*owners[i]);
    }
  }
  return true;
}

bool Subprocess::WaitForStderr(const std::string& text, int timeout_ms, int count) {
  auto found = [&] {
    int n = 0;
    for (size_t at = err_.find(text); at != std::string::npos; at = err_.find(text, at + 1)) ++n;
    return n >= count;
  };
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!found()) {
    int left = RemainingMs(deadline);
    if (left == 0 || !Pump(std::min(left, 100))) break;
  }
  return found();
}

void Subprocess::Signal(int sig) {
  if (pid_ > 0 && !reaped_) kill(pid_, sig);
}

int Subprocess::Wait(int timeout_ms) {
  if (pid_ <= 0) return -1;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!reaped_) {
    Pump(std::min(std::max(RemainingMs(deadline), 1), 50));
    pid_t done = waitpid(pid_, &status_, WNOHANG);
    if (done == pid_) {
      reaped_ = true;
      break;
    }
    if (RemainingMs(deadline) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status_, 0);
      reaped_ = true;
      status_ = -1;
      break;
    }
  }
  // Collect what is left in the pipes (writers are gone, so this ends).
  const auto drain_deadline = Clock::now() + std::chrono::milliseconds(2000);
  while ((out_fd_ >= 0 || err_fd_ >= 0) && RemainingMs(drain_deadline) > 0) Pump(50);
  if (status_ == -1 || !WIFEXITED(status_)) return -1;
  return WEXITSTATUS(status_);
}

CommandResult RunCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         const std::string& input, int timeout_ms) {
  Subprocess child(argv, env);
  if (!input.empty()) child.Write(input);
  child.CloseStdin();
  CommandResult result;
  result.status = child.Wait(timeout_ms);
  result.out = child.out();
  result.err = child.err();
  return result;
}

}  // namespace quill_filter_test
