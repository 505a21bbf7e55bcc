// Request framing fed an arbitrary byte stream in pieces of 1..97 bytes, their sizes seeded by the
// first input byte. Besides crashes and hangs: after a closing event nothing may stay buffered.
#include <cstdlib>

#include "server/HttpRequestParser.h"

extern "C" int LLVMFuzzerTestOneInput(const char *pData, size_t unSize)
{
    if (unSize == 0)
        return 0;
    const QByteArray baStream = QByteArray::fromRawData(pData + 1, int(unSize - 1));
    qint32 nContentLength = 0;
    QByteArray baRecv;
    for (unsigned unSeed = static_cast<unsigned char>(pData[0]), nPos = 0; nPos < unsigned(baStream.size());) {
        unSeed = unSeed * 1103515245u + 12345u;
        const QByteArray baPiece = baStream.mid(int(nPos), int((unSeed >> 16) % 97) + 1);
        nPos += unsigned(baPiece.size());
        for (const HttpFrameEvent &event : CHttpRequestParser::feed(nContentLength, baRecv, baPiece)) {
            const bool bClosing = event.eKind == HttpFrameEvent::NotPost || event.eKind == HttpFrameEvent::LimitExceeded;
            if (bClosing && !baRecv.isEmpty())
                std::abort();
            if (bClosing)
                return 0;
        }
    }
    return 0;
}
