// The CUPS message lines of quillfilter: every route (logger records of the
// filter and of the library, the direct printf functions) ends in the same
// "LEVEL: [quillfilter] message" form on one stream.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include "cups_log.h"
#include "filter_test_util.h"
#include "support/log.h"  // the library's side of the "quill" logger

namespace {

using quill_filter_test::Lines;

// Points the filter's logging at a temporary file for one test and drops the
// logger again afterwards, so no later test writes into a closed file.
class LogToFile {
 public:
  LogToFile() : file_(std::tmpfile()) { quill_filter::init_log(file_); }
  ~LogToFile() {
    quill_filter::init_log(stderr);
    spdlog::drop("quill");
    std::fclose(file_);
  }
  std::string Text() {
    std::fflush(file_);
    std::string text;
    std::rewind(file_);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0) text.append(buf, n);
    return text;
  }

 private:
  FILE* file_;
};

TEST(CupsLogFormat, EverySeverityGetsItsKeywordAndFatalIsDebug) {
  LogToFile log;
  auto logger = spdlog::get("quill");
  ASSERT_NE(logger, nullptr);
  logger->trace("verbose record");
  logger->debug("debug record");
  logger->info("info record");
  logger->warn("warning record");
  logger->error("error record");
  logger->critical("fatal record");
  std::vector<std::string> expected = {
      "DEBUG: [quillfilter] verbose record", "DEBUG: [quillfilter] debug record",
      "INFO: [quillfilter] info record",     "WARNING: [quillfilter] warning record",
      "ERROR: [quillfilter] error record",   "DEBUG: [quillfilter] fatal record"};
  EXPECT_EQ(Lines(log.Text()), expected);
}

TEST(CupsLogFormat, FormatterBuildsTheWholeLine) {
  using quill_filter::CupsFormatter;
  EXPECT_EQ(CupsFormatter::FormatLine(spdlog::level::warn, "dest has 2 options"),
            "WARNING: [quillfilter] dest has 2 options\n");
  EXPECT_EQ(CupsFormatter::FormatLine(spdlog::level::off, "x"), "DEBUG: [quillfilter] x\n");
  // Embedded line ends are not split: the record stays one message.
  EXPECT_EQ(CupsFormatter::FormatLine(spdlog::level::info, "a\nb"), "INFO: [quillfilter] a\nb\n");
}

TEST(CupsLogFormat, LibraryRecordsComeOutLikeTheFiltersOwn) {
  LogToFile log;
  quill_log::Warning("invalid object");
  quill_log::Fatal("fatal %d", 7);
  quill_log::Verbose("verbose %s", "text");
  quill_filter::LogRecord(spdlog::level::debug, "dest has {} options", 2);
  EXPECT_EQ(log.Text(),
            "WARNING: [quillfilter] invalid object\n"
            "DEBUG: [quillfilter] fatal 7\n"
            "DEBUG: [quillfilter] verbose text\n"
            "DEBUG: [quillfilter] dest has 2 options\n");
}

TEST(CupsLogFormat, DirectFunctionsCarryTheirPrefix) {
  LogToFile log;
  logd("color_mode=%d\n", -1);
  logi("Job %s finished.\n", "42");
  loge("Unable to open raster file - %s\n", "No such file or directory");
  EXPECT_EQ(log.Text(),
            "DEBUG: [quillfilter] color_mode=-1\n"
            "INFO: [quillfilter] Job 42 finished.\n"
            "ERROR: [quillfilter] Unable to open raster file - No such file or directory\n");
}

TEST(CupsLogFormat, DirectFunctionsWriteLongMessagesWhole) {
  LogToFile log;
  const std::string long_format(700, 'f');
  const std::string long_arg(5000, 'a');
  logd((long_format + " %s\n").c_str(), long_arg.c_str());
  logi("%s\n", long_arg.c_str());
  EXPECT_EQ(log.Text(), "DEBUG: [quillfilter] " + long_format + " " + long_arg + "\n" +
                            "INFO: [quillfilter] " + long_arg + "\n");
}

// The same records on a terminal and on a pipe: the sink writes no colour
// or other escape sequences for a terminal. (The terminal is put in raw
// mode so that its own line discipline adds nothing either.)
TEST(CupsLogFormat, TerminalAndPipeGetTheSameBytes) {
  auto write_records = [](FILE* stream) {
    quill_filter::init_log(stream);
    quill_log::Error("error %d", 1);
    quill_filter::LogRecord(spdlog::level::warn, "warning {}", 2);
    logd("debug %s\n", "3");
    quill_filter::init_log(stderr);
    spdlog::drop("quill");
  };
  auto drain = [](int fd) {
    std::string text;
    char buf[256];
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 200) <= 0) break;
      ssize_t n = read(fd, buf, sizeof buf);
      if (n <= 0) break;
      text.append(buf, static_cast<size_t>(n));
    }
    return text;
  };

  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  FILE* pipe_stream = fdopen(pipe_fds[1], "w");
  ASSERT_NE(pipe_stream, nullptr);
  write_records(pipe_stream);
  std::fclose(pipe_stream);
  const std::string from_pipe = drain(pipe_fds[0]);
  close(pipe_fds[0]);

  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  ASSERT_TRUE(isatty(slave));
  termios raw;
  ASSERT_EQ(tcgetattr(slave, &raw), 0);
  cfmakeraw(&raw);
  ASSERT_EQ(tcsetattr(slave, TCSANOW, &raw), 0);
  FILE* tty_stream = fdopen(slave, "w");
  ASSERT_NE(tty_stream, nullptr);
  write_records(tty_stream);
  const std::string from_tty = drain(master);
  std::fclose(tty_stream);
  close(master);

  EXPECT_EQ(from_pipe,
            "ERROR: [quillfilter] error 1\n"
            "WARNING: [quillfilter] warning 2\n"
            "DEBUG: [quillfilter] debug 3\n");
  EXPECT_EQ(from_tty, from_pipe);
}

TEST(CupsLogFormat, InitLogReplacesAnEarlierLoggerAndKeepsOneSink) {
  LogToFile first;
  spdlog::get("quill")->info("one");
  {
    LogToFile second;
    spdlog::get("quill")->info("two");
    EXPECT_EQ(second.Text(), "INFO: [quillfilter] two\n");
  }
  EXPECT_EQ(first.Text(), "INFO: [quillfilter] one\n");
}

}  // namespace
