#include "bands/derived.h"
