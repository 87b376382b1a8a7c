#include "engine/session/FFmpeg.h"
