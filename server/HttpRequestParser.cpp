#include "server/HttpRequestParser.h"

#include <string_view>

namespace {
const QByteArray kSeparator = QByteArrayLiteral("\r\n\r\n");

// Substring search through string_view (memchr on the first byte): several times cheaper than
// QByteArray::indexOf on the short headers every request brings.
int findBytes(const QByteArray &baHaystack, std::string_view svNeedle)
{
    const size_t unPos = std::string_view(baHaystack.constData(), size_t(baHaystack.size())).find(svNeedle);
    return unPos == std::string_view::npos ? -1 : int(unPos);
}

HttpFrameEvent makeEvent(HttpFrameEvent::Kind eKind, const QByteArray &baData = QByteArray(), qint64 nValue = 0)
{
    HttpFrameEvent event;
    event.eKind = eKind;
    event.baData = baData;
    event.nValue = nValue;
    return event;
}

HttpFrameEvent limitEvent(HttpFrameEvent::Limit eLimit, qint64 nValue, QByteArray &baRecv)
{
    HttpFrameEvent event = makeEvent(HttpFrameEvent::LimitExceeded, QByteArray(), nValue);
    event.eLimit = eLimit;
    baRecv.clear();
    return event;
}

// A header that has already outgrown the limit, or whose separator ends past it.
bool headerTooLarge(int nSeparator, int nBuffered)
{
    if (nSeparator < 0)
        return nBuffered >= CHttpRequestParser::kMaxHeaderBytes;
    return nSeparator + kSeparator.size() > CHttpRequestParser::kMaxHeaderBytes;
}
}

qint32 CHttpRequestParser::contentLength(const QByteArray &baHeader)
{
    // The first line holding the name is the line of its first occurrence; no line list is built.
    const int nName = findBytes(baHeader, "Content-Length:");
    if (nName < 0)
        return 0;
    const int nLineStart = baHeader.lastIndexOf('\n', nName) + 1;
    int nLineEnd = baHeader.indexOf('\n', nName);
    if (nLineEnd < 0)
        nLineEnd = baHeader.size();
    // The value is the line's second ':'-separated piece, whatever precedes the name.
    const int nColon = baHeader.indexOf(':', nLineStart);
    int nNext = baHeader.indexOf(':', nColon + 1);
    if (nNext < 0 || nNext > nLineEnd)
        nNext = nLineEnd;
    bool bOk = false;
    const qint32 nValue = baHeader.mid(nColon + 1, nNext - nColon - 1).trimmed().toInt(&bOk, 10);
    return bOk ? nValue : 0;
}

QList<HttpFrameEvent> CHttpRequestParser::feed(qint32 &nContentLength, QByteArray &baRecv, const QByteArray &baNew)
{
    QList<HttpFrameEvent> lstEvents;
    baRecv.append(baNew);
    while (!baRecv.isEmpty()) {
        if (nContentLength == 0) {
            const int nSeparator = findBytes(baRecv, "\r\n\r\n");
            if (headerTooLarge(nSeparator, baRecv.size())) {
                lstEvents.append(limitEvent(HttpFrameEvent::HeaderSize, baRecv.size(), baRecv));
                return lstEvents;
            }
            if (nSeparator < 0) {
                lstEvents.append(makeEvent(HttpFrameEvent::HeaderIncomplete));
                return lstEvents;
            }
            const QByteArray baHeader = baRecv.left(nSeparator);
            if (!baHeader.startsWith("POST")) {
                lstEvents.append(makeEvent(HttpFrameEvent::NotPost, baRecv));
                baRecv.clear();
                return lstEvents;
            }
            nContentLength = contentLength(baHeader);
            if (nContentLength > kMaxBodyBytes) {
                const qint32 nAnnounced = nContentLength;
                nContentLength = 0;
                lstEvents.append(limitEvent(HttpFrameEvent::BodySize, nAnnounced, baRecv));
                return lstEvents;
            }
            baRecv.remove(0, nSeparator + kSeparator.size());
        }
        if (nContentLength > baRecv.size()) {
            lstEvents.append(makeEvent(HttpFrameEvent::BodyIncomplete));
            return lstEvents;
        }
        const int nBody = qMax(nContentLength, 0);
        lstEvents.append(makeEvent(HttpFrameEvent::Request, baRecv.left(nBody)));
        baRecv.remove(0, nBody);
        nContentLength = 0;
        if (!baRecv.isEmpty())
            lstEvents.append(makeEvent(HttpFrameEvent::NextRequest, QByteArray(), baRecv.size()));
    }
    return lstEvents;
}
