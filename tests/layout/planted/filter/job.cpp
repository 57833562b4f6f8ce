#include "job.h"
#include "quill/api.h"
#include <document/doc.h>
