#include <stddef.h>
int api(void);
