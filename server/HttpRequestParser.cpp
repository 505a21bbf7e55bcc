#include "server/HttpRequestParser.h"

#include <algorithm>
#include <string_view>

namespace {
const QByteArray kSeparator = QByteArrayLiteral("\r\n\r\n");

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

bool isBlank(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The value as QByteArray::trimmed().toInt() reads it; plain digits, the usual case, without copies.
qint32 parseLength(std::string_view svValue)
{
    while (!svValue.empty() && isBlank(svValue.front()))
        svValue.remove_prefix(1);
    while (!svValue.empty() && isBlank(svValue.back()))
        svValue.remove_suffix(1);
    if (!svValue.empty() && svValue.size() <= 9
        && std::all_of(svValue.begin(), svValue.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        qint32 nValue = 0;
        for (const char c : svValue)
            nValue = nValue * 10 + (c - '0');
        return nValue;
    }
    bool bOk = false;
    const qint32 nValue = QByteArray(svValue.data(), int(svValue.size())).toInt(&bOk, 10);
    return bOk ? nValue : 0;
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
    const std::string_view svHeader(baHeader.constData(), size_t(baHeader.size()));
    const size_t unName = svHeader.find("Content-Length:");
    if (unName == std::string_view::npos)
        return 0;
    const size_t unNewline = svHeader.rfind('\n', unName);
    const size_t unLineStart = unNewline == std::string_view::npos ? 0 : unNewline + 1;
    const size_t unLineEnd = std::min(svHeader.find('\n', unName), svHeader.size());
    // The value is the line's second ':'-separated piece, whatever precedes the name.
    const size_t unColon = svHeader.find(':', unLineStart);
    const size_t unNext = std::min(svHeader.find(':', unColon + 1), unLineEnd);
    return parseLength(svHeader.substr(unColon + 1, unNext - unColon - 1));
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
