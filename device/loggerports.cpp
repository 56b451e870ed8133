#include "device/loggerports.h"
