#include "device/configcommand.h"
