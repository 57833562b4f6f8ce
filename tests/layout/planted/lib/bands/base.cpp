#include "bands/base.h"

#include "bands/derived.h"

Base::~Base() {}
