#pragma once

#include "HttpRequest.h"
#include "HttpResponse.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslCertificate>
#include <QTimer>
#include <QUrl>

#include <functional>

class QTcpSocket;

// A post whose answer is only its status (usage events, error reports,
// feedback), on a socket of its own on the calling thread. The connection is
// cut as soon as the status line and headers are in: the platform loader
// would go on draining a body on its network thread (an endless one for
// ever), and every later request of the process would wait behind it.
//
// It keeps the limits of HttpTransport: the whole exchange ends at the
// request's time-out, a redirect is followed only to the same scheme and host
// (the post is made again there, at most 5 times), and a head that has not
// ended within 64 KiB is refused. A post that failed is not tried again here:
// whoever queued it keeps it for later.
//
// Owned by its parent (the transport); deletes itself once it has answered.
class StatusOnlyPost : public QObject
{
    Q_OBJECT

public:
    using Completion = std::function<void(const HttpResponse&)>;

    // done runs later on this thread, exactly once, unless the parent is
    // destroyed first.
    static void start(const HttpRequest& request, const QList<QSslCertificate>& additionalCaCertificates,
                      Completion done, QObject* parent);

    static constexpr qsizetype maxHeadBytes = 64 * 1024;
    static constexpr int maxRedirects = 5;

private:
    StatusOnlyPost(const HttpRequest& request, const QList<QSslCertificate>& additionalCaCertificates,
                   Completion done, QObject* parent);

    void connectTo(const QUrl& url);
    void writeRequest();
    void readHead();
    void socketFailed();
    void fail(const QString& text, bool timedOut = false);
    void finish(const HttpResponse& response);
    void dropSocket();

    HttpRequest m_request;
    QList<QSslCertificate> m_additionalCaCertificates;
    Completion m_done;
    QUrl m_url;
    QPointer<QTcpSocket> m_socket;
    QByteArray m_head;
    QTimer m_deadline;
    int m_redirects = 0;
    bool m_finished = false;
};
