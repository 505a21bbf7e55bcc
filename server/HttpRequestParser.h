#pragma once

#include <QByteArray>

// One thing the framing found while consuming a connection's bytes, in stream order.
struct HttpFrameEvent
{
    enum Kind {
        HeaderIncomplete,  // no blank line yet; the bytes wait in the buffer
        NotPost,           // header does not start with "POST"; baData = everything that was buffered
        BodyIncomplete,    // header consumed, body still short; the bytes wait in the buffer
        Request,           // one complete request; baData = exactly its body
        LimitExceeded,     // a size limit was broken; eLimit says which, nValue the size seen
    };
    enum Limit { NoLimit, HeaderSize, BodySize };

    Kind eKind = HeaderIncomplete;
    Limit eLimit = NoLimit;
    QByteArray baData;
    qint64 nValue = 0;
};

// Cuts POST requests out of one connection's byte stream. Pure: no sockets, no logging; the caller
// turns the events into log lines, dispatches and replies. After NotPost or LimitExceeded the
// buffer is empty and the caller closes the connection.
class CHttpRequestParser
{
public:
    // A command header is a few hundred bytes; 64 KiB leaves room for any browser's extra lines.
    static constexpr int kMaxHeaderBytes = 64 * 1024;
    // Receipts are HTML of a few KiB that refer to their logo; 32 MiB is far past any real body.
    static constexpr qint32 kMaxBodyBytes = 32 * 1024 * 1024;

    // One step of the framing over baBuffer from nPos on, so a caller can stop between two
    // requests: Request advances nPos past the request; HeaderIncomplete and BodyIncomplete leave
    // the rest of the buffer to wait; NotPost and LimitExceeded move nPos to the end. nContentLength
    // is the connection's framing state (0 = a header is expected).
    static HttpFrameEvent next(qint32 &nContentLength, const QByteArray &baBuffer, int &nPos);

    // Value of the first header line containing "Content-Length:"; 0 when absent or unparsable.
    static qint32 contentLength(const QByteArray &baHeader);
};
