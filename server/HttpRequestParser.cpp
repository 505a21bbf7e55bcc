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

HttpFrameEvent limitEvent(HttpFrameEvent::Limit eLimit, qint64 nValue)
{
    HttpFrameEvent event = makeEvent(HttpFrameEvent::LimitExceeded, QByteArray(), nValue);
    event.eLimit = eLimit;
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

HttpFrameEvent CHttpRequestParser::next(qint32 &nContentLength, const QByteArray &baBuffer, int &nPos)
{
    const std::string_view svRest(baBuffer.constData() + nPos, size_t(baBuffer.size() - nPos));
    if (nContentLength == 0) {
        const size_t unSeparator = svRest.find("\r\n\r\n");
        const int nSeparator = unSeparator == std::string_view::npos ? -1 : int(unSeparator);
        if (headerTooLarge(nSeparator, int(svRest.size()))) {
            nPos = baBuffer.size();
            return limitEvent(HttpFrameEvent::HeaderSize, qint64(svRest.size()));
        }
        if (nSeparator < 0)
            return makeEvent(HttpFrameEvent::HeaderIncomplete);
        if (svRest.compare(0, 4, "POST") != 0) {
            nPos = baBuffer.size();
            return makeEvent(HttpFrameEvent::NotPost, QByteArray(svRest.data(), int(svRest.size())));
        }
        nContentLength = contentLength(QByteArray::fromRawData(svRest.data(), nSeparator));
        if (nContentLength > kMaxBodyBytes) {
            const qint32 nAnnounced = nContentLength;
            nContentLength = 0;
            nPos = baBuffer.size();
            return limitEvent(HttpFrameEvent::BodySize, nAnnounced);
        }
        nPos += nSeparator + kSeparator.size();
    }
    if (nContentLength > baBuffer.size() - nPos)
        return makeEvent(HttpFrameEvent::BodyIncomplete);
    const int nBody = qMax(nContentLength, 0);
    // A deep copy: the buffer may be a view of the caller's read buffer, and the body may outlive it.
    const HttpFrameEvent event = makeEvent(HttpFrameEvent::Request, QByteArray(baBuffer.constData() + nPos, nBody));
    nPos += nBody;
    nContentLength = 0;
    return event;
}

QList<HttpFrameEvent> CHttpRequestParser::feed(qint32 &nContentLength, QByteArray &baRecv, const QByteArray &baNew)
{
    QList<HttpFrameEvent> lstEvents;
    baRecv.append(baNew);
    int nPos = 0;
    while (nPos < baRecv.size()) {
        const HttpFrameEvent event = next(nContentLength, baRecv, nPos);
        lstEvents.append(event);
        if (event.eKind != HttpFrameEvent::Request)
            break;
        if (nPos < baRecv.size())
            lstEvents.append(makeEvent(HttpFrameEvent::NextRequest, QByteArray(), baRecv.size() - nPos));
    }
    baRecv.remove(0, nPos);
    return lstEvents;
}
