#include "common/ppd_writer.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace quill_test {
namespace {

std::string Points(float v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", static_cast<double>(v));
  return buf;
}

std::string ResolutionKeyword(const PpdResolution& r) {
  return r.x_dpi == r.y_dpi ? std::to_string(r.x_dpi) + "dpi"
                            : std::to_string(r.x_dpi) + "x" + std::to_string(r.y_dpi) + "dpi";
}

void WriteOption(std::ostringstream& out, const PpdOption& opt, int order) {
  out << "*OpenUI *" << opt.keyword << "/" << opt.text << ": PickOne\n";
  out << "*OrderDependency: " << order << " AnySetup *" << opt.keyword << "\n";
  out << "*Default" << opt.keyword << ": " << opt.default_choice << "\n";
  for (const PpdChoice& c : opt.choices) {
    out << "*" << opt.keyword << " " << c.keyword << "/" << c.text << ": \"" << c.code << "\"\n";
  }
  out << "*CloseUI: *" << opt.keyword << "\n";
}

struct Size {
  const char* name;
  const char* text;
  float width;
  float height;
};

constexpr Size kSizes[] = {{"Letter", "US Letter", 612.0f, 792.0f}, {"A4", "A4", 595.0f, 842.0f}};

}  // namespace

PpdOption CustomColorModeOption(const std::vector<std::string>& choices,
                                const std::string& default_choice) {
  PpdOption opt;
  opt.keyword = "CustomColorMode";
  opt.text = "Ink";
  opt.default_choice = default_choice;
  for (const std::string& c : choices) {
    opt.choices.push_back({c, c == "2" ? "Black and red" : "Black (mode " + c + ")", ""});
  }
  return opt;
}

std::string MakePpd(const PpdSpec& spec) {
  std::ostringstream out;
  out << "*PPD-Adobe: \"4.3\"\n"
      << "*FormatVersion: \"4.3\"\n"
      << "*FileVersion: \"1.0\"\n"
      << "*LanguageVersion: English\n"
      << "*LanguageEncoding: ISOLatin1\n"
      << "*PCFileName: \"" << spec.pc_file_name << "\"\n"
      << "*Manufacturer: \"Quill\"\n"
      << "*Product: \"(" << spec.model_name << ")\"\n"
      << "*ModelName: \"" << spec.model_name << "\"\n"
      << "*ShortNickName: \"" << spec.model_name << "\"\n"
      << "*NickName: \"" << spec.model_name << "\"\n"
      << "*PSVersion: \"(3010.000) 0\"\n"
      << "*LanguageLevel: \"3\"\n"
      << "*ColorDevice: " << (spec.color_device ? "True" : "False") << "\n"
      << "*DefaultColorSpace: " << (spec.color_device ? "RGB" : "Gray") << "\n"
      << "*FileSystem: False\n"
      << "*Throughput: \"1\"\n"
      << "*LandscapeOrientation: Plus90\n"
      << "*TTRasterizer: Type42\n"
      << "*cupsVersion: 2.4\n"
      << "*cupsModelNumber: " << spec.model_number << "\n"
      << "*cupsManualCopies: True\n"
      << "*cupsFilter: \"application/vnd.cups-raster 100 " << spec.filter << "\"\n";

  out << "*OpenUI *PageSize/Media Size: PickOne\n"
      << "*OrderDependency: 10 AnySetup *PageSize\n"
      << "*DefaultPageSize: Letter\n";
  for (const Size& s : kSizes) {
    out << "*PageSize " << s.name << "/" << s.text << ": \"<</PageSize[" << Points(s.width) << " "
        << Points(s.height) << "]/ImagingBBox null>>setpagedevice\"\n";
  }
  out << "*CloseUI: *PageSize\n"
      << "*OpenUI *PageRegion/Media Size: PickOne\n"
      << "*OrderDependency: 10 AnySetup *PageRegion\n"
      << "*DefaultPageRegion: Letter\n";
  for (const Size& s : kSizes) {
    out << "*PageRegion " << s.name << "/" << s.text << ": \"<</PageSize[" << Points(s.width)
        << " " << Points(s.height) << "]/ImagingBBox null>>setpagedevice\"\n";
  }
  out << "*CloseUI: *PageRegion\n"
      << "*DefaultImageableArea: Letter\n";
  for (const Size& s : kSizes) {
    out << "*ImageableArea " << s.name << "/" << s.text << ": \"" << Points(spec.margins[0]) << " "
        << Points(spec.margins[1]) << " " << Points(s.width - spec.margins[2]) << " "
        << Points(s.height - spec.margins[3]) << "\"\n";
  }
  out << "*DefaultPaperDimension: Letter\n";
  for (const Size& s : kSizes) {
    out << "*PaperDimension " << s.name << "/" << s.text << ": \"" << Points(s.width) << " "
        << Points(s.height) << "\"\n";
  }

  if (!spec.resolutions.empty()) {
    out << "*OpenUI *Resolution/Resolution: PickOne\n"
        << "*OrderDependency: 20 AnySetup *Resolution\n"
        << "*DefaultResolution: " << ResolutionKeyword(spec.resolutions.front()) << "\n";
    for (const PpdResolution& r : spec.resolutions) {
      out << "*Resolution " << ResolutionKeyword(r) << "/" << ResolutionKeyword(r)
          << ": \"<</HWResolution[" << r.x_dpi << " " << r.y_dpi << "]";
      if (r.row_count != 0) out << "/cupsRowCount " << r.row_count;
      out << ">>setpagedevice\"\n";
    }
    out << "*CloseUI: *Resolution\n";
  }

  out << "*OpenUI *ColorModel/Color Mode: PickOne\n"
      << "*OrderDependency: 20 AnySetup *ColorModel\n"
      << "*DefaultColorModel: " << (spec.color_device ? "RGB" : "Gray") << "\n";
  if (spec.color_device) {
    out << "*ColorModel RGB/Color: \"<</cupsColorOrder 0/cupsColorSpace 1/cupsBitsPerColor 8"
           "/cupsCompression 0>>setpagedevice\"\n";
  }
  out << "*ColorModel Gray/Grayscale: \"<</cupsColorOrder 0/cupsColorSpace 18"
         "/cupsBitsPerColor 8/cupsCompression 0>>setpagedevice\"\n"
      << "*CloseUI: *ColorModel\n";

  if (spec.duplex) {
    out << "*OpenUI *Duplex/2-Sided Printing: PickOne\n"
        << "*OrderDependency: 30 AnySetup *Duplex\n"
        << "*DefaultDuplex: None\n"
        << "*Duplex None/Off: \"<</Duplex false>>setpagedevice\"\n"
        << "*Duplex DuplexNoTumble/Long Edge: \"<</Duplex true/Tumble false>>setpagedevice\"\n"
        << "*Duplex DuplexTumble/Short Edge: \"<</Duplex true/Tumble true>>setpagedevice\"\n"
        << "*CloseUI: *Duplex\n";
  }

  int order = 40;
  for (const PpdOption& opt : spec.options) WriteOption(out, opt, order++);
  for (const std::string& line : spec.extra_lines) out << line << "\n";

  out << "*DefaultFont: Courier\n"
      << "*Font Courier: Standard \"(002.004S)\" Standard ROM\n";
  return out.str();
}

bool WritePpd(const std::string& path, const PpdSpec& spec) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  file << MakePpd(spec);
  file.close();
  return static_cast<bool>(file);
}

}  // namespace quill_test
