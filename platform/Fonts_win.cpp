#include "platform/Fonts.h"

namespace Platform {
void registerFontSubstitutions()
{
    // "Microsoft YaHei" is installed with every Chinese Windows; nothing to map.
}
}
