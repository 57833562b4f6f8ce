/* A plain C99 host of the library interface: proves that libquill.h is
   C-clean and that the functions have C linkage. The C++ test calls
   run_c_host() and checks the collected bytes. */
#include <stddef.h>
#include <string.h>

#include "quill/libquill.h"

struct c_sink {
  unsigned char bytes[256];
  unsigned int len;
};

static int c_collect(void* hdl, const void* data, unsigned int len) {
  struct c_sink* s = (struct c_sink*)hdl;
  if (s->len + len <= sizeof s->bytes) {
    memcpy(s->bytes + s->len, data, len);
    s->len += len;
  }
  return (int)len;
}

/* Runs an empty Ink1 document with `options`; copies at most `cap` output
   bytes to `out` and returns the number produced, or -1 when no processor
   was made. */
int run_c_host(const char* options, unsigned char* out, unsigned int cap) {
  struct c_sink sink;
  CONV_PARAM2 cp;
  RASTER_INFO ri;
  void* doc;
  int not_end;

  memset(&sink, 0, sizeof sink);
  memset(&cp, 0, sizeof cp);
  memset(&ri, 0, sizeof ri);
  cp.shingling = SHINGLING_NONE;
  cp.x_unit = 360;
  cp.y_unit = 360;
  cp.num_pins = 24;
  cp.wr_cb = c_collect;
  cp.wr_hdl = &sink;
  cp.options = options;

  doc = DocProc_GetObject("DocumentProcessInk1", &cp);
  if (doc == NULL) return -1;
  DocProc_StartDoc2(doc, &cp);
  not_end = DocProc_HasNotEnd(doc);
  DocProc_EndDoc(doc);
  if (not_end != 1 || DocProc_HasNotEnd(doc) != 0) sink.len = 0;
  DocProc_Release(doc);

  if (sink.len > cap) sink.len = cap;
  memcpy(out, sink.bytes, sink.len);
  return (int)sink.len;
}
