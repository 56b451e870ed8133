#include "device/loggerports_p.h"

// Windows lists its ports from the registry and the device manager; nothing cheaper to ask first.
bool LoggerPorts::mayListLogger()
{
    return true;
}
