#include "quill/api.h"
#include "dot.h"
