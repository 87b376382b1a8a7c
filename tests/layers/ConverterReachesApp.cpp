#include "app/shared/Presets.h"
