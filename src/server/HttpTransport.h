#pragma once

#include "HttpRequest.h"
#include "HttpResponse.h"

#include <QList>
#include <QObject>
#include <QSslCertificate>

#include <functional>

class QNetworkAccessManager;

// The one way the program reaches the maker's server: a QNetworkAccessManager
// on the thread that owns this object (the main thread in the program), with
// the limits every server feature relies on:
// - only http and https addresses with a host are requested;
// - the whole exchange ends after the request's time-out, however slowly
//   the server sends;
// - an answer longer than the request's limit is abandoned unread, so a
//   hostile server cannot fill the memory;
// - redirects are followed only to the same scheme and host (at most 5).
// The platform loader already works off the calling thread, so nothing here
// blocks the thread the object lives on. A post that wants only its status
// goes over a socket of its own (StatusOnlyPost), which is cut as soon as
// the status is in.
//
// In offline mode every request fails at once without any network traffic.
class HttpTransport : public QObject
{
    Q_OBJECT

public:
    using Completion = std::function<void(const HttpResponse&)>;

    explicit HttpTransport(QObject* parent = nullptr);
    ~HttpTransport() override;

    void setOffline(bool offline);
    bool isOffline() const { return m_offline; }

    // Certificate authorities to trust, for tests that talk HTTPS to a
    // loopback server with a certificate made on the spot. Servers are always
    // verified; the program never calls this and trusts the system's roots.
    void setAdditionalCaCertificates(const QList<QSslCertificate>& certificates);

    // Call on the object's thread. done runs on that thread, always later
    // (never inside send), exactly once, unless the transport is destroyed
    // first.
    void send(const HttpRequest& request, Completion done);

    // BRISKO_OFFLINE set to anything but "" or "0".
    static bool offlineRequested();

    // An http or https URL with a host; anything else is refused.
    static bool isServerUrl(const QUrl& url);
    // The text as a server URL, or an invalid QUrl.
    static QUrl serverUrl(const QString& text);

private:
    QNetworkAccessManager* m_manager;
    bool m_offline = false;
    QList<QSslCertificate> m_additionalCaCertificates;
};
