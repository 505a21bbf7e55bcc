#include "platform/Printers.h"
