#include "platform/Fonts.h"

#include <QFont>
#include <QStringList>

namespace Platform {
void registerFontSubstitutions()
{
    QFont::insertSubstitutions(QStringLiteral("Microsoft YaHei"),
                               {QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                                QStringLiteral("WenQuanYi Zen Hei")});
}
}
