#pragma once

#include <QtGlobal>

namespace Platform {
// Milliseconds since the first call in this process, rounded to the nearest millisecond and
// cut to 32 bits. Unaffected by changes of the wall clock.
quint32 getTickMs();
}
