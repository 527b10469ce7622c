#include "audio_levels.h"
