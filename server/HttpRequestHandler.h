#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// What the HTTP server knows of the application: one request body in, one reply text out.
class IHttpRequestHandler
{
public:
    using ReplyFunction = std::function<void(const QString &strReply)>;
    virtual ~IHttpRequestHandler() = default;
    // fnReply is called once, at once or later, on the server's thread.
    virtual void handleRequest(const QByteArray &baBody, const ReplyFunction &fnReply) = 0;
};
