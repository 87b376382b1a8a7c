#include "converter/AVConverter.h"
