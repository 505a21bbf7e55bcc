#include "platform/AutoStartEntries.h"
