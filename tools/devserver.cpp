// brisko-devserver: the loopback stand-in for the maker's server, run by
// hand (tools/devserver) to try the program against a local server.
#include "LoopbackMakerServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

namespace {

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Local stand-in for the Brisko Vella server (127.0.0.1 only)."));
    parser.addHelpOption();
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Port to listen on (default 8765)."),
                                  QStringLiteral("N"), QStringLiteral("8765"));
    const QCommandLineOption country(QStringLiteral("country"),
                                     QStringLiteral("Country region.php reports (default RU; UA is blocked)."),
                                     QStringLiteral("CC"), QStringLiteral("RU"));
    const QCommandLineOption rateLimit(QStringLiteral("rate-limit"),
                                       QStringLiteral("Answer events and errors with 429 and this Retry-After."),
                                       QStringLiteral("SECONDS"));
    const QCommandLineOption fail(QStringLiteral("fail"),
                                  QStringLiteral("Answer events, errors and feedback with this status."),
                                  QStringLiteral("STATUS"));
    parser.addOptions({port, country, rateLimit, fail});
    parser.process(application);

    bool portOk = false;
    const uint portNumber = parser.value(port).toUInt(&portOk);
    if (!portOk || portNumber > 65535) {
        out() << "brisko-devserver: bad port " << parser.value(port) << Qt::endl;
        return 2;
    }
    LoopbackMakerServer server;
    server.setCountry(parser.value(country).toUpper());
    const QStringList posts = {QStringLiteral("events.php"), QStringLiteral("errors.php")};
    if (parser.isSet(rateLimit)) {
        for (const QString& name : posts) {
            server.setStanding(QStringLiteral("/api/brisko/") + name,
                               ScriptedResponse::withHeader(429, "Retry-After", parser.value(rateLimit).toLatin1()));
        }
    }
    if (parser.isSet(fail)) {
        const int status = parser.value(fail).toInt();
        for (const QString& name : posts + QStringList{QStringLiteral("feedback.php")}) {
            server.setStanding(QStringLiteral("/api/brisko/") + name,
                               ScriptedResponse::json(status, R"({"ok":false,"error":"Сервер разработчика отказал"})"));
        }
    }
    if (!server.listen(quint16(portNumber))) {
        out() << "brisko-devserver: cannot listen on 127.0.0.1:" << portNumber << Qt::endl;
        return 1;
    }

    QObject::connect(&server, &LoopbackMakerServer::requestReceived, &server,
                     [&server](const QString& method, const QString& path, int status) {
                         const RecordedRequest request = server.requests().last();
                         out() << method << ' ' << path << " -> " << status;
                         if (!request.body.isEmpty()) {
                             out() << "  " << QString::fromUtf8(request.body.left(300));
                         }
                         out() << Qt::endl;
                     });

    const auto endpoint = [&server](const char* name) { return server.endpoint(QLatin1String(name)); };
    out() << "Serving the maker's endpoints on " << server.url(QStringLiteral("/api/brisko/")) << Qt::endl
          << "Point the program at it with:" << Qt::endl
          << "  brisko settings set regionCheckURL=" << endpoint("region.php")
          << " analyticsEndpoint=" << endpoint("events.php") << " errorsEndpoint=" << endpoint("errors.php")
          << " feedbackEndpoint=" << endpoint("feedback.php") << " adsConfigURL=" << endpoint("ads.json")
          << " updateCheckURL=" << endpoint("version.json") << Qt::endl
          << "Requests follow; Ctrl-C stops." << Qt::endl;
    return application.exec();
}
