#include "device/configreply.h"
