#include "device/replyassembler.h"
