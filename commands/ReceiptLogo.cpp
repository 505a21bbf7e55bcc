#include "commands/ReceiptLogo.h"

namespace {
const QString kLogoTag = QStringLiteral("<img  src=");
}

bool hasLogoTag(const QString &strHtml)
{
    return strHtml.contains(kLogoTag);
}

QString extractLogoAddress(const QString &strHtml)
{
    static const QString kImageQuote = kLogoTag + QLatin1Char('"');
    const int nPos = strHtml.indexOf(kImageQuote);
    if (nPos < 0)
        return QString();
    const int nStart = nPos + kImageQuote.size();
    const int nEnd = strHtml.indexOf(QLatin1Char('"'), nStart);
    // Without a closing quote there can be no later quoted image either: the address runs to the end.
    return nEnd < 0 ? strHtml.mid(nStart) : strHtml.mid(nStart, nEnd - nStart);
}
