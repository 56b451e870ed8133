#include "clock/alarmlimits.h"
