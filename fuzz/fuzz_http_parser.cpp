// Request framing over an arbitrary byte stream, step by step as a connection frames it: besides
// crashes and hangs, a closing event must consume everything that was buffered.
#include <cstdlib>

#include "server/HttpRequestParser.h"

extern "C" int LLVMFuzzerTestOneInput(const char *pData, size_t unSize)
{
    const QByteArray baStream = QByteArray::fromRawData(pData, int(unSize));
    qint32 nContentLength = 0;
    int nPos = 0;
    HttpFrameEvent event;
    do
        event = CHttpRequestParser::next(nContentLength, baStream, nPos);
    while (event.eKind == HttpFrameEvent::Request && nPos < baStream.size());
    const bool bClosing = event.eKind == HttpFrameEvent::NotPost || event.eKind == HttpFrameEvent::LimitExceeded;
    if (bClosing && nPos != baStream.size())
        std::abort();
    return 0;
}
