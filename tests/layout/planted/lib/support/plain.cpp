#include "plain.h"
int plain() { return 0; }
