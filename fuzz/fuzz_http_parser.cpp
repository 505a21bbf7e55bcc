// Request framing fed an arbitrary byte stream cut at arbitrary points. The first input byte seeds
// the cut sizes; the rest is the stream. Checks that the cuts never change which requests come out
// and that the Content-Length scan agrees with the plain split-into-lines reading of the header.
#include <QByteArray>
#include <QList>

#include <cstdlib>

#include "server/HttpRequestParser.h"

namespace {
qint32 referenceContentLength(const QByteArray &baHeader)
{
    for (const QByteArray &baLine : baHeader.split('\n')) {
        if (!baLine.contains("Content-Length:"))
            continue;
        bool bOk = false;
        const qint32 nValue = baLine.split(':').value(1).trimmed().toInt(&bOk, 10);
        return bOk ? nValue : 0;
    }
    return 0;
}

// Bodies dispatched, then "!" and the kind of a closing event (not a POST, over a limit) if any.
// bCut false: the whole stream in one read; true: pieces of 1..97 bytes drawn from the seed.
QList<QByteArray> run(const QByteArray &baStream, bool bCut, unsigned unSeed)
{
    QList<QByteArray> lstOut;
    qint32 nContentLength = 0;
    QByteArray baRecv;
    int nPos = 0;
    do {
        unSeed = unSeed * 1103515245u + 12345u;
        const int nPiece = bCut ? int((unSeed >> 16) % 97) + 1 : baStream.size();
        const QByteArray baPiece = baStream.mid(nPos, nPiece);
        nPos += baPiece.size();
        for (const HttpFrameEvent &event : CHttpRequestParser::feed(nContentLength, baRecv, baPiece)) {
            if (event.eKind == HttpFrameEvent::Request)
                lstOut << event.baData;
            if (event.eKind == HttpFrameEvent::NotPost || event.eKind == HttpFrameEvent::LimitExceeded) {
                if (!baRecv.isEmpty())
                    std::abort();  // the caller closes the connection: nothing may stay buffered
                return lstOut << "!" + QByteArray::number(int(event.eKind));
            }
        }
    } while (nPos < baStream.size());
    return lstOut;
}
}

extern "C" int LLVMFuzzerTestOneInput(const char *pData, size_t unSize)
{
    if (unSize == 0)
        return 0;
    const QByteArray baStream = QByteArray::fromRawData(pData + 1, int(unSize - 1));
    if (CHttpRequestParser::contentLength(baStream) != referenceContentLength(baStream))
        std::abort();
    if (run(baStream, false, 0) != run(baStream, true, static_cast<unsigned char>(pData[0])))
        std::abort();
    return 0;
}
