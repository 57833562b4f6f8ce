// dot_test_util.cpp - fixtures for the quilldot tests.
#include "dot_test_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

extern char** environ;

namespace dot_test {

TempDir::TempDir() {
  char tmpl[] = "/tmp/quilldot-test-XXXXXX";
  const char* made = mkdtemp(tmpl);
  path_ = made ? made : "/tmp";
}

TempDir::~TempDir() {
  if (path_ != "/tmp") {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
}

void WriteTextFile(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
}

Bytes ReadFileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// --- Pages --------------------------------------------------------------

namespace {

cups_page_header2_t BaseHeader(unsigned width, unsigned height, unsigned hres, unsigned vres) {
  cups_page_header2_t h;
  memset(&h, 0, sizeof h);
  h.HWResolution[0] = hres;
  h.HWResolution[1] = vres;
  h.PageSize[0] = hres ? width * 72 / hres : 0;
  h.PageSize[1] = vres ? height * 72 / vres : 0;
  h.NumCopies = 1;
  h.cupsWidth = width;
  h.cupsHeight = height;
  h.cupsBitsPerColor = 1;
  h.cupsBitsPerPixel = 1;
  h.cupsBytesPerLine = (width + 7) / 8;
  h.cupsColorOrder = CUPS_ORDER_CHUNKED;
  h.cupsColorSpace = CUPS_CSPACE_K;
  return h;
}

}  // namespace

cups_page_header2_t BandHeader(unsigned width, unsigned height, unsigned row_count, unsigned hres,
                               unsigned vres) {
  cups_page_header2_t h = BaseHeader(width, height, hres, vres);
  h.cupsRowCount = row_count;
  return h;
}

cups_page_header2_t RasterHeader(unsigned width, unsigned height, unsigned hres, unsigned vres,
                                 int planes, unsigned compression) {
  cups_page_header2_t h = BaseHeader(width, height, hres, vres);
  h.cupsCompression = compression;
  h.cupsColorOrder = CUPS_ORDER_BANDED;
  switch (planes) {
    case 3: h.cupsColorSpace = CUPS_CSPACE_CMY; break;
    case 4: h.cupsColorSpace = CUPS_CSPACE_KCMY; break;
    case 6: h.cupsColorSpace = CUPS_CSPACE_KCMYcm; break;
    default: h.cupsColorSpace = CUPS_CSPACE_K; break;
  }
  h.cupsBytesPerLine = (width + 7) / 8 * static_cast<unsigned>(planes);
  return h;
}

DotRows RandomDots(unsigned width, unsigned height, unsigned seed, int percent) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> d(0, 99);
  DotRows dots(height, std::vector<uint8_t>(width, 0));
  for (auto& row : dots)
    for (auto& v : row) v = d(rng) < percent ? 1 : 0;
  return dots;
}

void BlankRows(DotRows* dots, unsigned first, unsigned last) {
  for (unsigned y = first; y < last && y < dots->size(); ++y)
    std::fill((*dots)[y].begin(), (*dots)[y].end(), 0);
}

DotRows BlankDots(unsigned width, unsigned height) {
  return DotRows(height, std::vector<uint8_t>(width, 0));
}

std::vector<Bytes> PackRows(const DotRows& dots, unsigned bytes_per_line) {
  std::vector<Bytes> rows;
  for (const auto& row : dots) {
    Bytes packed(bytes_per_line, 0);
    for (size_t x = 0; x < row.size() && x / 8 < bytes_per_line; ++x)
      if (row[x]) packed[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    rows.push_back(packed);
  }
  return rows;
}

RasterPage MakePage(const cups_page_header2_t& header, const DotRows& dots) {
  return RasterPage{header, PackRows(dots, header.cupsBytesPerLine)};
}

RasterPage MakePlanarPage(const cups_page_header2_t& header, const std::vector<DotRows>& planes) {
  const unsigned plane_bytes = header.cupsBytesPerLine / static_cast<unsigned>(planes.size());
  RasterPage page{header, {}};
  for (unsigned y = 0; y < header.cupsHeight; ++y) {
    Bytes row;
    for (const DotRows& p : planes) {
      Bytes part = PackRows(DotRows{p[y]}, plane_bytes)[0];
      row.insert(row.end(), part.begin(), part.end());
    }
    page.rows.push_back(row);
  }
  return page;
}

bool WriteRaster(const std::string& path, const std::vector<RasterPage>& pages,
                 bool compressed) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  cups_raster_t* ras = cupsRasterOpen(fd, compressed ? CUPS_RASTER_WRITE_COMPRESSED : CUPS_RASTER_WRITE);
  bool ok = ras != nullptr;
  for (const RasterPage& page : pages) {
    if (!ok) break;
    cups_page_header2_t h = page.header;
    ok = cupsRasterWriteHeader2(ras, &h) != 0;
    for (const Bytes& row : page.rows) {
      if (!ok) break;
      Bytes copy = row;
      ok = cupsRasterWritePixels(ras, copy.data(), static_cast<unsigned>(copy.size())) ==
           copy.size();
    }
  }
  if (ras) cupsRasterClose(ras);
  close(fd);
  return ok;
}

// --- PPDs ---------------------------------------------------------------

std::string PpdText(const PpdSpec& spec) {
  std::ostringstream p;
  p << "*PPD-Adobe: \"4.3\"\n"
    << "*FormatVersion: \"4.3\"\n"
    << "*FileVersion: \"1.0\"\n"
    << "*LanguageVersion: English\n"
    << "*LanguageEncoding: ISOLatin1\n"
    << "*PCFileName: \"QUILLTST.PPD\"\n"
    << "*Manufacturer: \"Quill\"\n"
    << "*Product: \"(" << spec.nickname << ")\"\n"
    << "*ModelName: \"" << spec.nickname << "\"\n"
    << "*ShortNickName: \"" << spec.nickname << "\"\n"
    << "*NickName: \"" << spec.nickname << "\"\n"
    << "*PSVersion: \"(3010.000) 0\"\n"
    << "*LanguageLevel: \"3\"\n"
    << "*ColorDevice: False\n"
    << "*DefaultColorSpace: Gray\n"
    << "*FileSystem: False\n"
    << "*Throughput: \"1\"\n"
    << "*LandscapeOrientation: Plus90\n"
    << "*TTRasterizer: Type42\n"
    << "*cupsVersion: 2.4\n"
    << "*cupsModelNumber: " << spec.model << "\n"
    << "*cupsManualCopies: True\n"
    << "*cupsFilter: \"application/vnd.cups-raster 0 " << spec.filter << "\"\n";
  for (const auto& a : spec.addons) p << "*add-ons " << a.first << ": \"" << a.second << "\"\n";
  if (!spec.sizes.empty()) {
    const std::string def = spec.sizes[0].name;
    p << "*OpenUI *PageSize/Media Size: PickOne\n*OrderDependency: 10 AnySetup *PageSize\n"
      << "*DefaultPageSize: " << def << "\n";
    for (const auto& s : spec.sizes)
      p << "*PageSize " << s.name << ": \"<</PageSize[" << s.width << " " << s.length
        << "]/ImagingBBox null>>setpagedevice\"\n";
    p << "*CloseUI: *PageSize\n";
    p << "*OpenUI *PageRegion: PickOne\n*OrderDependency: 10 AnySetup *PageRegion\n"
      << "*DefaultPageRegion: " << def << "\n";
    for (const auto& s : spec.sizes)
      p << "*PageRegion " << s.name << ": \"<</PageSize[" << s.width << " " << s.length
        << "]/ImagingBBox null>>setpagedevice\"\n";
    p << "*CloseUI: *PageRegion\n";
    p << "*DefaultImageableArea: " << def << "\n";
    for (const auto& s : spec.sizes)
      p << "*ImageableArea " << s.name << ": \"0 0 " << s.width << " " << s.top << "\"\n";
    p << "*DefaultPaperDimension: " << def << "\n";
    for (const auto& s : spec.sizes)
      p << "*PaperDimension " << s.name << ": \"" << s.width << " " << s.length << "\"\n";
  }
  int order = 20;
  for (const PpdOption& o : spec.options) {
    p << "*OpenUI *" << o.key << "/" << o.key << ": PickOne\n"
      << "*OrderDependency: " << order++ << " AnySetup *" << o.key << "\n";
    if (!o.default_choice.empty()) p << "*Default" << o.key << ": " << o.default_choice << "\n";
    for (const std::string& c : o.choices)
      p << "*" << o.key << " " << c << "/" << o.key << " " << c << ": \"\"\n";
    p << "*CloseUI: *" << o.key << "\n";
  }
  return p.str();
}

// --- Running the filter -------------------------------------------------

std::string QuilldotPath() { return QUILLDOT_PATH; }

namespace {

// The environment of the parent without the entries that extra replaces.
std::vector<std::string> ChildEnv(const std::vector<std::string>& extra,
                                  const std::vector<std::string>& drop) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    bool keep = true;
    for (const std::string& name : drop)
      if (entry.compare(0, name.size() + 1, name + "=") == 0) keep = false;
    for (const std::string& x : extra) {
      const std::string name = x.substr(0, x.find('=') + 1);
      if (entry.compare(0, name.size(), name) == 0) keep = false;
    }
    if (keep) env.push_back(entry);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

std::vector<char*> CStrings(std::vector<std::string>& v) {
  std::vector<char*> out;
  for (std::string& s : v) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

pid_t Spawn(const std::string& program, std::vector<std::string> argv,
            std::vector<std::string> env, int in_fd, const std::string& out_path,
            const std::string& err_path) {
  std::vector<char*> cargv = CStrings(argv);
  std::vector<char*> cenv = CStrings(env);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in_fd < 0 || out < 0 || err < 0) _exit(127);
  dup2(in_fd, 0);
  dup2(out, 1);
  dup2(err, 2);
  signal(SIGPIPE, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  execve(program.c_str(), cargv.data(), cenv.data());
  _exit(127);
}

}  // namespace

void WaitChild(pid_t pid, int timeout_s, RunResult* result) {
  const time_t deadline = time(nullptr) + timeout_s;
  int wstatus = 0;
  for (;;) {
    const pid_t r = waitpid(pid, &wstatus, WNOHANG);
    if (r == pid) break;
    if (r < 0 && errno != EINTR) return;
    if (time(nullptr) > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &wstatus, 0);
      result->timed_out = true;
      break;
    }
    usleep(2000);
  }
  if (WIFEXITED(wstatus)) result->status = WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) result->signal = WTERMSIG(wstatus);
}

RunResult RunProgram(const std::string& program, const std::vector<std::string>& argv,
                     const std::vector<std::string>& env, const std::string& stdin_path,
                     int timeout_s) {
  TempDir dir;
  RunResult result;
  const int in_fd = open(stdin_path.empty() ? "/dev/null" : stdin_path.c_str(), O_RDONLY);
  const pid_t pid = Spawn(program, argv, ChildEnv(env, {}), in_fd, dir.File("out"),
                          dir.File("err"));
  if (in_fd >= 0) close(in_fd);
  if (pid < 0) return result;
  WaitChild(pid, timeout_s, &result);
  result.out = ReadFileBytes(dir.File("out"));
  const Bytes err = ReadFileBytes(dir.File("err"));
  result.err.assign(err.begin(), err.end());
  return result;
}

namespace {
// A server address nobody listens on: the destination lookup fails at once.
constexpr char kNoServer[] = "CUPS_SERVER=/nonexistent/quill-test-cups.sock";
constexpr int kFilterTimeoutSeconds = 60;
}  // namespace

RunResult RunQuilldot(const std::vector<std::string>& args, const std::string& ppd_path,
                      const std::string& stdin_path, const std::string& cups_server) {
  std::vector<std::string> argv = args;
  std::vector<std::string> env = {cups_server.empty() ? kNoServer : "CUPS_SERVER=" + cups_server};
  if (!ppd_path.empty()) env.push_back("PPD=" + ppd_path);
  TempDir dir;
  RunResult result;
  const int in_fd = open(stdin_path.empty() ? "/dev/null" : stdin_path.c_str(), O_RDONLY);
  const pid_t pid = Spawn(QuilldotPath(), argv, ChildEnv(env, {"PPD"}), in_fd, dir.File("out"),
                          dir.File("err"));
  if (in_fd >= 0) close(in_fd);
  if (pid < 0) return result;
  WaitChild(pid, kFilterTimeoutSeconds, &result);
  result.out = ReadFileBytes(dir.File("out"));
  const Bytes err = ReadFileBytes(dir.File("err"));
  result.err.assign(err.begin(), err.end());
  return result;
}

std::vector<std::string> JobArgs(const std::string& raster_path, const std::string& options) {
  std::vector<std::string> args = {"dotq", "7", "tester", "title", "1", options};
  if (!raster_path.empty()) args.push_back(raster_path);
  return args;
}

Child StartWithPipe(const std::string& program, const std::vector<std::string>& argv,
                    const std::vector<std::string>& env, const std::string& out_path,
                    const std::string& err_path) {
  Child child;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return child;
  std::vector<std::string> full_env = env;
  full_env.push_back(kNoServer);
  child.pid = Spawn(program, argv, ChildEnv(full_env, {"PPD"}), fds[0], out_path, err_path);
  close(fds[0]);
  child.stdin_fd = fds[1];
  return child;
}

int CountOf(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) ++n;
  return n;
}

}  // namespace dot_test
