#include "detect_job.h"
