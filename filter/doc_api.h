// doc_api.h - the exported document functions of libquillcore as the
// DocApi that quillfilter's main loop calls.
#ifndef QUILL_FILTER_DOC_API_H_
#define QUILL_FILTER_DOC_API_H_

#include "filter_job.h"
#include "quill/libquill.h"

namespace quill_filter {

// The library's own functions; valid for the life of the process.
inline const DocApi& LibraryApi() {
  static const DocApi api = {DocProc_GetObject, DocProc_StartDoc2, DocProc_ProcessPage2,
                             DocProc_EndDoc, DocProc_Release};
  return api;
}

}  // namespace quill_filter

#endif  // QUILL_FILTER_DOC_API_H_
