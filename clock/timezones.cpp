#include "clock/timezones.h"
