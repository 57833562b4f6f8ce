#ifndef DERIVED_H_
#define DERIVED_H_
#include "bands/base.h"
class Derived : public Base {};
class Grandchild final : public Derived {};
#endif
