// Screening that reaches up into the document layer.
#include "document/doc.h"
