#pragma once

#include <QList>
#include <QMutex>
#include <QPair>
#include <QString>
#include <QtGlobal>

// Collects every qDebug/qWarning while it lives (from any thread), so tests can assert on the
// diagnostic streams exactly instead of only ignoring expected messages.
class MessageCapture
{
public:
    MessageCapture() { pPrevious = qInstallMessageHandler(&MessageCapture::handle); }
    ~MessageCapture() { qInstallMessageHandler(pPrevious); }

    static QList<QPair<QtMsgType, QString>> take()
    {
        QMutexLocker locker(&mutex());
        QList<QPair<QtMsgType, QString>> lstTaken;
        lstTaken.swap(messages());
        return lstTaken;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &, const QString &strText)
    {
        QMutexLocker locker(&mutex());
        messages().append(qMakePair(type, strText));
    }
    static QMutex &mutex()
    {
        static QMutex s_mutex;
        return s_mutex;
    }
    static QList<QPair<QtMsgType, QString>> &messages()
    {
        static QList<QPair<QtMsgType, QString>> s_lstMessages;
        return s_lstMessages;
    }

    QtMessageHandler pPrevious = nullptr;
};
