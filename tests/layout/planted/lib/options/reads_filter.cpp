#include "filter/job.h"
