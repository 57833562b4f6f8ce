/*
 * emptyjob - a minimal host of libquillcore written in plain C.
 *
 * Creates a document processor from an option string, starts and ends a
 * document without pages, and prints the printer bytes it produced in hex.
 *
 *   emptyjob [options [class]]
 *     options  the option string, default "start_doc=1B7803:duplex=1"
 *     class    the processor class, default "DocumentProcessInk1"
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "quill/libquill.h"

struct sink {
  unsigned char bytes[65536];
  unsigned int len;
};

static int collect(void* hdl, const void* data, unsigned int len) {
  struct sink* s = (struct sink*)hdl;
  unsigned int room = (unsigned int)sizeof s->bytes - s->len;
  unsigned int n = len < room ? len : room;
  memcpy(s->bytes + s->len, data, n);
  s->len += n;
  return (int)len;
}

int main(int argc, char** argv) {
  const char* options = argc > 1 ? argv[1] : "start_doc=1B7803:duplex=1";
  const char* name = argc > 2 ? argv[2] : "DocumentProcessInk1";
  static struct sink out;
  CONV_PARAM2 cp;
  void* doc;
  unsigned int i;

  memset(&cp, 0, sizeof cp);
  cp.x_unit = 360;
  cp.y_unit = 360;
  cp.num_pins = 24;
  cp.wr_cb = collect;
  cp.wr_hdl = &out;
  cp.options = options;

  doc = DocProc_GetObject(name, &cp);
  if (doc == NULL) {
    fprintf(stderr, "ERROR: no document processor named \"%s\"\n", name);
    return 1;
  }
  DocProc_StartDoc2(doc, &cp);
  DocProc_EndDoc(doc);
  DocProc_Release(doc);

  printf("%s with \"%s\": %u bytes\n", name, options, out.len);
  for (i = 0; i < out.len; ++i) printf("%02X%c", out.bytes[i], (i % 16 == 15 || i + 1 == out.len) ? '\n' : ' ');
  return 0;
}
