// doc_api.h - the exported document functions of libquillcore as the
// DocApi that quillfilter's main loop calls (host/doc_job.h holds it, shared
// with the printer application).
#ifndef QUILL_FILTER_DOC_API_H_
#define QUILL_FILTER_DOC_API_H_

#include "doc_job.h"
#include "filter_job.h"

namespace quill_filter {

using quill_host::LibraryApi;

}  // namespace quill_filter

#endif  // QUILL_FILTER_DOC_API_H_
