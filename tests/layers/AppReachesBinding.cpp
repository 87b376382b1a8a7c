#include "binding/AVLibs.h"
