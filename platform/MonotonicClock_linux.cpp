#include "platform/MonotonicClock.h"
