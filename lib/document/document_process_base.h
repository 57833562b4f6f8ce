// document_process_base.h - root of the document-processor tree.
//
// A document processor is the object behind one handle of the C interface.
// It holds the job's conversion parameters and options, writes the
// document-level commands (initialisation, duplex, configured start and end
// bytes), counts pages and hands every page to its page pipeline.
//
//   DocumentProcessBase (abstract)
//     DocumentProcessInk1          serial-head inkjet, one ink
//       DocumentProcessInk2        page-language inkjet
//       DocumentProcessInk3        red/black serial-head inkjet
//       DocumentProcessThermal     thermal receipt and label printers
//       DocumentProcessDot24       24-pin dot printers
//
// Everything runs on the caller's thread; one object serves one document at
// a time.
#ifndef QUILL_LIB_DOCUMENT_DOCUMENT_PROCESS_BASE_H_
#define QUILL_LIB_DOCUMENT_DOCUMENT_PROCESS_BASE_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "quill/libquill.h"

class PackedPage;

// Document-wide attributes read from the option string.
struct DocumentAttributes {
  uint8_t m_Duplex = DUPLEX_NONE;  // DUPLEX_NONE, DUPLEX_HORIZONTAL, DUPLEX_VERTICAL
  bool m_Collate = false;          // collation flag, passed to the page language
  uint16_t m_Nup = 1;              // pages per sheet; kept only
  uint16_t m_Copies = 1;           // copies of each page; 0 sends nothing
  uint16_t m_Scale = 100;          // scale in percent; kept only
  double m_Gamma = 1.0;            // gamma of the colour-to-mono conversion
  std::string m_ExtraOptions;      // the option string of the last non-empty load
  std::string m_InterString;       // scratch text of ToString

  // Sets the six scalar fields to their defaults.
  void Reset();
  // Reads "duplex", "collate", "nup", "copies", "scale", "gamma" (in that
  // order) when present; malformed values keep the field and log a warning.
  // Requires: options != nullptr.
  void FromString(const char* options);
  // The six scalars as an option string; the pointer stays valid until the
  // next call.
  const char* ToString();
};

class DocumentProcessBase {
 public:
  // Builds the defaults and loads the base options of `param`.
  // Requires: param != nullptr.
  explicit DocumentProcessBase(const CONV_PARAM2* param);
  // Flushes stderr, releases stored pages.
  virtual ~DocumentProcessBase();

  DocumentProcessBase(const DocumentProcessBase&) = delete;
  DocumentProcessBase& operator=(const DocumentProcessBase&) = delete;

  // Copies *param (a null write callback becomes a discarding sink) and
  // reloads the base options. Subclasses first hand the call up their chain
  // when include_parent is true, then read their own keys. The base ignores
  // include_parent. Requires: param != nullptr.
  virtual void Update(const CONV_PARAM2* param, bool include_parent);
  // Marks the document started and writes the init, duplex and configured
  // start-of-document bytes.
  virtual void StartDoc();
  // Once per started document: writes the configured end bytes and the
  // termination command, then marks the document ended.
  virtual void EndDoc();
  // Converts one page with all its copies; 0 on success, -1 when rejected.
  virtual int ProcessPage(const RASTER_INFO* raster) = 0;
  // Reads the base option keys of `options` (may be null).
  virtual void LoadOptions(const char* options);
  virtual void OutputInitCommand();
  virtual void OutputTermCommand();
  virtual void OutputDuplexCommand();
  // True when started and not yet ended.
  virtual bool HasNotEnd();
  // Stores a copy of the page (compressed when `deflate`) in m_BackupPages.
  virtual void SaveBackupPage(const RASTER_INFO* raster, bool deflate);
  // Writes the page to the file named by the "dump_name" option.
  virtual void DumpRaster(const RASTER_INFO* raster);

  const CONV_PARAM2& GetConvParam() const { return m_ConvParam; }

 protected:
  // Sends `len` bytes through the job's write callback as one call.
  void WriteBytes(const void* data, size_t len) const;
  void WriteBytes(const std::vector<uint8_t>& bytes) const;

 public:
  CONV_PARAM2 m_ConvParam;                    // copy of the caller's parameters (options pointer as given)
  DocumentAttributes m_DocAttr;               // document attributes
  std::vector<uint8_t> m_CmdAtStartDoc;       // written by StartDoc
  std::vector<uint8_t> m_CmdAtStartPage;      // written before each page's output
  std::vector<uint8_t> m_CmdAtEndPage;        // written after each page's output
  std::vector<uint8_t> m_CmdAtEndDoc;         // written by EndDoc
  uint32_t m_PageCount = 0;                   // pages received since construction
  std::string m_DumpImageName;                // dump file name format; empty disables dumping
  bool m_HasStartDoc = false;                 // document started
  bool m_HasEndDoc = false;                   // document ended
  std::deque<std::shared_ptr<PackedPage>> m_BackupPages;  // stored pages
  std::string m_IccPath;                      // ICC output profile; empty means none
  bool m_ReverseOrder = false;                // forces collation on
};

// The write callback put in place of a null one: accepts and discards.
int DiscardingWrite(void* hdl, const void* data, unsigned int len);

#endif  // QUILL_LIB_DOCUMENT_DOCUMENT_PROCESS_BASE_H_
