// The exported document functions of libquillcore: handle creation by class
// name and forwarding to the processor's virtual operations.

#include <cstring>
#include <exception>
#include <memory>
#include <new>

#include "document/document_process_base.h"
#include "document/document_process_dot24.h"
#include "document/document_process_ink1.h"
#include "document/document_process_ink2.h"
#include "document/document_process_ink3.h"
#include "document/document_process_thermal.h"
#include "interface/page_bounds.h"
#include "quill/libquill.h"
#include "support/log.h"

namespace {

using Factory = DocumentProcessBase* (*)(const CONV_PARAM2*);

template <typename T>
DocumentProcessBase* Make(const CONV_PARAM2* param) {
  return new T(param);
}

struct ProcessorClass {
  const char* name;  // exact class name a caller asks for
  Factory make;      // null while the class is not available
};

// Compared in this order, byte for byte over the whole name.
constexpr ProcessorClass kClasses[] = {
    {"DocumentProcessInk1", Make<DocumentProcessInk1>},
    {"DocumentProcessInk2", Make<DocumentProcessInk2>},
    {"DocumentProcessInk3", Make<DocumentProcessInk3>},
    {"DocumentProcessThermal", Make<DocumentProcessThermal>},
    {"DocumentProcessDot24", Make<DocumentProcessDot24>},
};

DocumentProcessBase* AsProcessor(void* obj) { return static_cast<DocumentProcessBase*>(obj); }

void WarnInvalid() { quill_log::Warning("invalid object"); }

// Runs `fn`, turning any exception into an error record and `failed`: no
// exception may cross the C boundary into the host.
template <typename R, typename Fn>
R Guarded(const char* what, R failed, Fn fn) {
  try {
    return fn();
  } catch (const std::exception& e) {
    quill_log::Error("%s failed: %s", what, e.what());
  } catch (...) {
    quill_log::Error("%s failed", what);
  }
  return failed;
}

template <typename Fn>
void GuardedVoid(const char* what, Fn fn) {
  Guarded<int>(what, 0, [&] {
    fn();
    return 0;
  });
}

}  // namespace

extern "C" {

void* DocProc_GetObject(const char* name, const CONV_PARAM2* param) {
  if (name == nullptr || param == nullptr) return nullptr;
  for (const ProcessorClass& cls : kClasses) {
    if (std::strcmp(name, cls.name) != 0) continue;
    if (cls.make == nullptr) return nullptr;
    return Guarded<void*>("DocProc_GetObject", nullptr,
                          [&]() -> void* { return cls.make(param); });
  }
  return nullptr;
}

void DocProc_Release(void* obj) {
  if (obj == nullptr) return WarnInvalid();
  GuardedVoid("DocProc_Release", [&] { delete AsProcessor(obj); });
}

void DocProc_Update(void* obj, const CONV_PARAM2* param) {
  if (obj == nullptr) return WarnInvalid();
  if (param == nullptr) return;
  GuardedVoid("DocProc_Update", [&] { AsProcessor(obj)->Update(param, true); });
}

void DocProc_StartDoc(void* obj) {
  if (obj == nullptr) return WarnInvalid();
  GuardedVoid("DocProc_StartDoc", [&] { AsProcessor(obj)->StartDoc(); });
}

void DocProc_StartDoc2(void* obj, const CONV_PARAM2* param) {
  if (obj == nullptr) return WarnInvalid();
  GuardedVoid("DocProc_StartDoc2", [&] {
    if (param != nullptr) AsProcessor(obj)->Update(param, true);
    AsProcessor(obj)->StartDoc();
  });
}

int DocProc_ProcessPage(void* obj, const RASTER_INFO* raster) {
  if (obj == nullptr) {
    WarnInvalid();
    return -1;
  }
  if (raster == nullptr) return -1;
  // Refused before the processor sees the page: nothing is allocated,
  // rotated or screened for a size no printer takes.
  if (!quill_bounds::RasterWithinBounds(*raster)) return -1;
  return Guarded("DocProc_ProcessPage", -1, [&] { return AsProcessor(obj)->ProcessPage(raster); });
}

int DocProc_ProcessPage2(void* obj, const CONV_PARAM2* param, const RASTER_INFO* raster) {
  if (obj == nullptr) {
    WarnInvalid();
  } else if (param != nullptr) {
    GuardedVoid("DocProc_ProcessPage2", [&] { AsProcessor(obj)->Update(param, true); });
  }
  return DocProc_ProcessPage(obj, raster);
}

void DocProc_EndDoc(void* obj) {
  if (obj == nullptr) return WarnInvalid();
  GuardedVoid("DocProc_EndDoc", [&] { AsProcessor(obj)->EndDoc(); });
}

int DocProc_HasNotEnd(void* obj) {
  if (obj == nullptr) {
    WarnInvalid();
    return 0;
  }
  return AsProcessor(obj)->HasNotEnd() ? 1 : 0;
}

}  // extern "C"
