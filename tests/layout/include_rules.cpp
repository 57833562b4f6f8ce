// include_rules.cpp - checks that #include lines keep the source tree's
// dependency arrows pointing one way.
//
//   include_rules ROOT
//
// ROOT is the top of a source tree (the project, or a small fixture tree of
// the same shape). Every .h/.c/.cpp under lib/, include/, host/, filter/,
// app/, quillconvert/, dotfilter/, preview/ and examples/ is read; each include
// that names a file of the tree is resolved the way the compiler would find
// it (next to the including file first, then the include roots) and the
// folder it lands in is checked against the table of allowed directions
// below. Includes that name no file of the tree are system headers and are
// not checked, except that a quoted include in lib/ must name its folder.
//
// A second rule holds inside every folder of lib/: the file pair of a base
// class never includes the header of a class derived from it (a base that
// needs to know its derived classes should ask them through a virtual
// operation instead).
//
// Prints one line per violation, "path:line: reason", and exits 1 when there
// is any, 0 otherwise; 2 for a usage error or an unreadable tree.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The library's subsystems and what each may include (besides itself and
// the public headers in include/quill/). Closed under transitivity: a layer
// may reach everything below it.
const std::map<std::string, std::set<std::string>> kLibraryArrows = {
    {"interface", {"document", "halftone", "bands", "raster", "options", "support"}},
    {"document", {"halftone", "bands", "raster", "options", "support"}},
    {"bands", {"raster", "support"}},
    {"halftone", {"support"}},
    {"raster", {"support"}},
    {"options", {"support"}},
    {"support", {}},
};

// Top-level folders whose sources are checked, and the zones (a top-level
// folder, "lib/<subsystem>" or "include/quill") each may include besides
// its own.
const std::map<std::string, std::set<std::string>> kProgramArrows = {
    {"host", {"include/quill"}},     // shared by quillfilter and the printer application
    {"filter", {"include/quill", "host"}},
    {"app", {"include/quill", "host", "dotfilter"}},
    {"quillconvert", {"include/quill"}},
    {"examples", {"include/quill"}},
    {"dotfilter", {}},  // stands alone
    {"preview", {}},    // stands alone: the tests' oracle shares no code with lib/
    {"include", {}},    // the public headers include only each other
};

struct Violation {
  std::string where;  // path:line, relative to ROOT
  std::string reason;
};

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool IsSource(const fs::path& p) {
  const std::string e = p.extension().string();
  return e == ".h" || e == ".c" || e == ".cpp";
}

// The zone of a path relative to ROOT: "lib/<subsystem>", "include/quill",
// or the top-level folder ("" for files at the top).
std::string ZoneOf(const fs::path& rel) {
  auto it = rel.begin();
  if (it == rel.end()) return "";
  const std::string top = it->string();
  if (++it == rel.end()) return "";  // a file at the top of the tree
  if (top == "lib" || top == "include") {
    const std::string sub = it->string();
    if (++it == rel.end()) return top;  // a file directly in lib/ or include/
    return top + "/" + sub;
  }
  return top;
}

// Where an include lands: the first existing candidate, relative to ROOT, or
// empty when it names no file of the tree.
fs::path Resolve(const fs::path& root, const fs::path& including, const std::string& name,
                 bool quoted) {
  std::vector<fs::path> bases;
  if (quoted) bases.push_back(including.parent_path());
  bases.push_back(root / "lib");
  bases.push_back(root / "include");
  bases.push_back(root);
  for (const fs::path& b : bases) {
    const fs::path c = (b / name).lexically_normal();
    std::error_code ec;
    if (fs::is_regular_file(c, ec)) return c.lexically_relative(root);
  }
  return {};
}

// Programs that include nothing outside their own folder, not even the
// public headers: quilldot, and quillpreview, whose decoders are the tests'
// oracle of the library.
bool StandsAlone(const std::string& zone) {
  const std::string top = zone.substr(0, zone.find('/'));
  return top == "dotfilter" || top == "preview";
}

// Whether a file in zone `from` may include a file in zone `to`.
bool Allowed(const std::string& from, const std::string& to, std::string* why) {
  if (from == to) return true;
  // Everyone but the stand-alone programs may use the public headers.
  if (to == "include/quill" && !StandsAlone(from)) return true;
  if (from.rfind("lib/", 0) == 0) {
    const std::string sub = from.substr(4);
    auto arrows = kLibraryArrows.find(sub);
    if (arrows == kLibraryArrows.end()) {
      *why = "lib/" + sub + " is not a subsystem of the library";
      return false;
    }
    if (to.rfind("lib/", 0) == 0 && arrows->second.count(to.substr(4)) != 0) return true;
    *why = from + " may not include " + (to.empty() ? "the top of the tree" : to);
    return false;
  }
  const std::string top = from.substr(0, from.find('/'));
  auto arrows = kProgramArrows.find(top);
  if (arrows != kProgramArrows.end() && arrows->second.count(to) != 0) return true;
  *why = top + "/ may not include " + to +
         (top == "dotfilter" ? " (quilldot stands alone)"
                             : top == "preview" ? " (quillpreview stands alone)" : "");
  return false;
}

struct Include {
  int line;
  std::string name;
  bool quoted;
};

std::vector<Include> IncludesOf(const std::string& text) {
  static const std::regex kInclude(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])");
  std::vector<Include> out;
  std::istringstream in(text);
  std::string line;
  int n = 0;
  while (std::getline(in, line)) {
    ++n;
    std::smatch m;
    if (std::regex_search(line, m, kInclude)) out.push_back({n, m[2], m[1] == "\""});
  }
  return out;
}

// Class declarations with base clauses: derived -> bases.
void ScanClasses(const std::string& text, const fs::path& rel,
                 std::map<std::string, std::vector<std::string>>* bases,
                 std::map<std::string, fs::path>* header_of) {
  static const std::regex kClass(R"(\b(?:class|struct)\s+(\w+)\s*(?:final\s*)?(:\s*[^{;]*)?\{)");
  static const std::regex kBase(R"((\w+)\s*(?:<[^>]*>)?\s*$)");
  for (std::sregex_iterator it(text.begin(), text.end(), kClass), end; it != end; ++it) {
    const std::string name = (*it)[1];
    (*header_of)[name] = rel;
    if (!(*it)[2].matched) continue;
    std::string clause = std::string((*it)[2]).substr(1);
    std::stringstream parts(clause);
    std::string part;
    while (std::getline(parts, part, ',')) {
      std::smatch m;
      if (std::regex_search(part, m, kBase)) (*bases)[name].push_back(m[1]);
    }
  }
}

bool DerivesFrom(const std::string& cls, const std::string& base,
                 const std::map<std::string, std::vector<std::string>>& bases, int depth = 0) {
  auto it = bases.find(cls);
  if (it == bases.end() || depth > 32) return false;
  for (const std::string& b : it->second) {
    if (b == base || DerivesFrom(b, base, bases, depth + 1)) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s ROOT\n", argv[0]);
    return 2;
  }
  const fs::path root = fs::path(argv[1]).lexically_normal();
  std::error_code ec;
  if (!fs::is_directory(root / "lib", ec)) {
    std::fprintf(stderr, "%s: no lib/ folder\n", root.c_str());
    return 2;
  }

  std::vector<fs::path> files;  // relative to root, sorted
  for (const char* top : {"lib", "include", "host", "filter", "app", "quillconvert", "dotfilter", "preview", "examples"}) {
    if (!fs::is_directory(root / top, ec)) continue;
    for (const auto& e : fs::recursive_directory_iterator(root / top)) {
      if (e.is_regular_file() && IsSource(e.path())) files.push_back(e.path().lexically_relative(root));
    }
  }
  std::sort(files.begin(), files.end());

  std::map<std::string, std::vector<std::string>> bases;
  std::map<std::string, fs::path> header_of;
  std::map<fs::path, std::string> texts;
  for (const fs::path& rel : files) {
    texts[rel] = ReadFile(root / rel);
    if (rel.extension() == ".h" && *rel.begin() == "lib") ScanClasses(texts[rel], rel, &bases, &header_of);
  }

  std::vector<Violation> found;
  for (const fs::path& rel : files) {
    const std::string zone = ZoneOf(rel);
    const bool in_lib = zone.rfind("lib/", 0) == 0;
    // Classes declared in this file pair's header.
    std::vector<std::string> own;
    fs::path own_header = rel;
    own_header.replace_extension(".h");
    for (const auto& [cls, h] : header_of) {
      if (h == own_header) own.push_back(cls);
    }
    for (const Include& inc : IncludesOf(texts[rel])) {
      const std::string where = rel.string() + ":" + std::to_string(inc.line);
      const fs::path target = Resolve(root, root / rel, inc.name, inc.quoted);
      if (target.empty()) {
        if (in_lib && inc.quoted) {
          found.push_back({where, "\"" + inc.name + "\" names no file of the tree (name the folder)"});
        }
        continue;
      }
      const std::string to = ZoneOf(target);
      std::string why;
      if (!Allowed(zone, to, &why)) {
        found.push_back({where, "includes " + target.string() + ": " + why});
        continue;
      }
      if (in_lib && inc.quoted && inc.name.find('/') == std::string::npos) {
        found.push_back({where, "\"" + inc.name + "\": name the folder (\"" +
                                    fs::path(to).filename().string() + "/" + inc.name + "\")"});
      }
      if (!in_lib || to != zone || target == own_header) continue;
      bool reported = false;
      for (const auto& [cls, h] : header_of) {
        if (h != target || reported) continue;
        for (const std::string& base : own) {
          if (!reported && DerivesFrom(cls, base, bases)) {
            found.push_back({where, "the file of base class " + base + " includes " +
                                        target.string() + " of its derived class " + cls});
            reported = true;
          }
        }
      }
    }
  }

  for (const Violation& v : found) std::printf("%s: %s\n", v.where.c_str(), v.reason.c_str());
  return found.empty() ? 0 : 1;
}
