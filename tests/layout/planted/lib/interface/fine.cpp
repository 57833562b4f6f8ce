#include <vector>

#include "document/doc.h"
#include "quill/api.h"
#include "support/plain.h"
