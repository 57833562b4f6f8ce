#include "preview/ok.h"
#include "support/plain.h"
#include "quill/api.h"
