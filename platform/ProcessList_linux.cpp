#include "platform/ProcessList.h"
