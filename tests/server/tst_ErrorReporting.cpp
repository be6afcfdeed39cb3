#include "BriskoTest.h"
#include "ServerTestCase.h"

#include "TestValues.h"

#include "model/AppSettings.h"
#include "server/AnalyticsService.h"
#include "server/CrashRecord.h"
#include "server/ErrorReporter.h"
#include "server/QueueFlusher.h"

#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <QtTest>

namespace {

// The smallest record a queue can hold.
struct Note
{
    QString text;

    QJsonObject toJsonObject() const { return {{QStringLiteral("message"), text}}; }
    static std::optional<Note> fromJsonObject(const QJsonObject& object)
    {
        const QJsonValue text = object.value(QLatin1String("message"));
        return text.isString() ? std::optional<Note>(Note{text.toString()}) : std::nullopt;
    }
    bool operator==(const Note&) const = default;
};

} // namespace

// The two services that queue records for the server: the stored queue and
// its flushes, which both share, tested once; then what is each service's own.
class tst_ErrorReporting : public ServerTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void keepsTheNewestAndRemovesTheOldestEqual();
    void damageCostsOnlyTheDamagedRecords_data();
    void damageCostsOnlyTheDamagedRecords();
    void overlappingFlushesLoseAndRepeatNothing();
    void interruptedFlushResendsOnlyWhatWasInFlight();
    void reportIsSentWithItsFields();
    void sameReportWithinTwoMinutesIsSentOnce();
    void nothingIsRecordedUnconfiguredOrBlank();
    void messageAndContextAreCut();
    void operationErrorsMakeOneReport();
    void queueAndRecentKeepTheNewest();
    void switchedOffKeepsTheQueue();
    void reporterHandsOtherThreadsOver();
    void deathLeavesAReportTheNextLaunchSends_data();
    void deathLeavesAReportTheNextLaunchSends();
    void crashReportWaitsUntilConfiguredAndIsDroppedWhenOff();
    void damagedCrashFileIsDropped();
    void usageIdIsMadeOnceAndKept();
    void usageEventIsSentWithItsFields();
    void usageSwitchedOffSendsNothing();

private:
    std::unique_ptr<ErrorReportingService> makeService(bool configured = true)
    {
        auto service = std::make_unique<ErrorReportingService>(m_bed->store, m_bed->clock, m_bed->client(),
                                                               ServerTestBed::info(), crashFile());
        if (configured) {
            service->configure(m_bed->endpoint(errors), true, QStringLiteral("id"));
        }
        return service;
    }
    std::unique_ptr<AnalyticsService> makeUsage()
    {
        return std::make_unique<AnalyticsService>(m_bed->store, m_bed->clock, m_bed->client(), ServerTestBed::info());
    }
    // Lets every flush that was started end, and its writes behind reach the
    // store, as they do before the program ends.
    void settle(ErrorReportingService& service)
    {
        QVERIFY(ServerTestBed::await(service.flushQueue()));
        QVERIFY(!service.isFlushing());
        service.waitForListWrites();
    }
    QStringList sent(const QString& field) const { return m_bed->sent(errors, field); }
    QJsonObject firstContext() const
    {
        return m_bed->received(errors).first().json().value(QLatin1String("context")).toObject();
    }
    QString crashFile() const { return m_bed->path(QStringLiteral("defaults.crash")); }
    // The dying is done by a real child process.
    bool crash(const QString& mode)
    {
        QProcess process;
        process.start(QStringLiteral(CRASH_HELPER), {crashFile(), mode});
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            return false;
        }
        return process.exitStatus() == QProcess::CrashExit;
    }

    StoredQueue<Note> queue(qsizetype limit = 100) const { return {m_bed->store, QStringLiteral("Notes"), limit}; }
    std::unique_ptr<QueueFlusher<Note>> flusher() { return std::make_unique<QueueFlusher<Note>>(queue(), m_bed->client()); }
    QUrl notesUrl() const { return QUrl(m_bed->endpoint(errors)); }
    static QStringList texts(const QList<Note>& notes)
    {
        QStringList list;
        for (const Note& note : notes) {
            list.append(note.text);
        }
        return list;
    }
    // What the server received, sorted.
    QString sentNotes() const
    {
        QStringList list = m_bed->sent(errors, QStringLiteral("message"));
        list.sort();
        return list.join(u',');
    }

    const QString errors = QStringLiteral("errors.php");
    const QString events = QStringLiteral("events.php");
};

void tst_ErrorReporting::keepsTheNewestAndRemovesTheOldestEqual()
{
    const StoredQueue<Note> notes = queue(3);
    for (const char* text : {"один", "два", "три", "два", "пять"}) {
        notes.append(Note{QString::fromUtf8(text)});
    }
    QCOMPARE(texts(notes.load()), QStringList({QStringLiteral("три"), QStringLiteral("два"), QStringLiteral("пять")}));
    notes.append(Note{QStringLiteral("пять")});
    notes.removeFirst(Note{QStringLiteral("пять")});
    notes.removeFirst(Note{QStringLiteral("нет такой")});
    QCOMPARE(texts(notes.load()), QStringList({QStringLiteral("два"), QStringLiteral("пять")}));
    // Another holder of the key sees every change at once.
    QCOMPARE(texts(queue(3).load()), texts(notes.load()));
    // Appended lines are folded into one array once they pass the queue's
    // bytes, so the value stays bounded however long the program runs.
    const QString large(400, QChar(u'я'));
    for (int i = 0; i < 20; ++i) {
        notes.append(Note{large + QString::number(i)});
    }
    QVERIFY(m_bed->store->data(notes.key())->size() < 3 * StoredQueue<Note>::bytesPerRecord + 1000);
    QCOMPARE(texts(notes.load()), QStringList({large + QStringLiteral("17"), large + QStringLiteral("18"), large + QStringLiteral("19")}));
}

void tst_ErrorReporting::damageCostsOnlyTheDamagedRecords_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QStringList>("readable");
    const QStringList x{QStringLiteral("x")};
    QTest::newRow("not JSON") << QByteArray("\xff\xfe not json") << QStringList();
    QTest::newRow("an array left open") << QByteArray(R"([{"message":"x"})") << QStringList();
    // One damaged record costs none of the others.
    QTest::newRow("an element that is no object") << QByteArray(R"([{"message":"x"},7])") << x;
    QTest::newRow("a record that does not decode") << QByteArray(R"([{"message":"x"},{"message":1}])") << x;
    QTest::newRow("brackets and quotes inside a text, spaces between")
        << QByteArray(R"( [ {"message":"}],{\"[\\"} ,{"message":"y"} ] )")
        << QStringList({QStringLiteral("}],{\"[\\"), QStringLiteral("y")});
    QTest::newRow("appended lines, the last cut off by a crash")
        << QByteArray("[{\"message\":\"x\"}]\n{\"message\":\"y\"}\n\n{\"message\":\"") << QStringList({QStringLiteral("x"), QStringLiteral("y")});
}

void tst_ErrorReporting::damageCostsOnlyTheDamagedRecords()
{
    QFETCH(QByteArray, stored);
    QFETCH(QStringList, readable);
    QVERIFY(m_bed->store->setData(QStringLiteral("Notes"), stored));
    QCOMPARE(texts(queue().load()), readable);
    queue().append(Note{QStringLiteral("после порчи")});
    QCOMPARE(texts(queue().load()), readable + QStringList({QStringLiteral("после порчи")}));
}

void tst_ErrorReporting::overlappingFlushesLoseAndRepeatNothing()
{
    // Answers alternate between a slow failure and a quick success, and a
    // new record, with a flush of its own as the services ask for one, comes
    // with every request the server takes.
    const QString path = ServerTestBed::apiPath(errors);
    for (int i = 0; i < 40; ++i) {
        m_bed->server.enqueue(path, ScriptedResponse::delayed(i % 2 == 0 ? 500 : 200, i % 2 == 0 ? 60 : 0));
    }
    const auto notes = flusher();
    QMap<QString, int> delivered;
    int added = 0;
    const auto add = [&] {
        queue().append(Note{QStringLiteral("отчёт %1").arg(added++)});
        notes->flush(notesUrl());
    };
    const QObject scope;
    connect(&m_bed->server, &LoopbackMakerServer::requestReceived, &scope, [&](const QString&, const QString&, int status) {
        if (status == 200) {
            delivered[m_bed->server.requests().last().json().value(QLatin1String("message")).toString()] += 1;
        }
        if (added < 12) {
            add();
        }
    });
    add();
    for (int round = 0; round < 20 && (added < 12 || !queue().load().isEmpty()); ++round) {
        QVERIFY(ServerTestBed::await(notes->flush(notesUrl())));
    }
    QVERIFY(!notes->isRunning());
    QVERIFY(queue().load().isEmpty());
    QCOMPARE(added, 12);
    QCOMPARE(delivered.size(), 12);
    for (auto it = delivered.constBegin(); it != delivered.constEnd(); ++it) {
        QVERIFY2(it.value() == 1, qPrintable(it.key()));
    }
}

void tst_ErrorReporting::interruptedFlushResendsOnlyWhatWasInFlight()
{
    for (int i = 0; i < 3; ++i) {
        queue().append(Note{QStringLiteral("запись %1").arg(i)});
    }
    // Until the host has answered once, one post runs at a time.
    m_bed->server.enqueue(ServerTestBed::apiPath(errors), ScriptedResponse::delayed(200, 300));
    {
        const auto first = flusher();
        first->flush(notesUrl());
        QTRY_COMPARE(m_bed->received(errors).size(), 1);
        QCOMPARE(sentNotes(), QStringLiteral("запись 0"));
        // The program ends while the server still holds the oldest record.
    }
    QCOMPARE(queue().load().size(), 3);
    const auto next = flusher();
    QVERIFY(ServerTestBed::await(next->flush(notesUrl())));
    QVERIFY(queue().load().isEmpty());
    QCOMPARE(sentNotes(), QStringLiteral("запись 0,запись 0,запись 1,запись 2"));
}

void tst_ErrorReporting::reportIsSentWithItsFields()
{
    auto service = makeService(false);
    service->configure(m_bed->endpoint(errors), true, QStringLiteral("3f2c1e9a-0000-4000-8000-000000000001"));
    service->report(AppFeature::archiveMove, QStringLiteral("  Не удалось перенести «Фото 2024»\n"),
                    {{QStringLiteral("path"), QStringLiteral("/Users/Анна/Movies")}});
    QTRY_COMPARE(m_bed->received(errors).size(), 1);
    QCOMPARE(m_bed->received(errors).first().header("Content-Type"), QByteArray("application/json"));
    QCOMPARE(m_bed->received(errors).first().json(),
             QJsonObject({{QStringLiteral("anonymous_id"), QStringLiteral("3f2c1e9a-0000-4000-8000-000000000001")},
                          {QStringLiteral("feature"), QStringLiteral("archive_move")},
                          {QStringLiteral("message"), QStringLiteral("Не удалось перенести «Фото 2024»")},
                          {QStringLiteral("app_version"), QStringLiteral("1.4.2")},
                          {QStringLiteral("build"), QStringLiteral("42")},
                          {QStringLiteral("os_version"), ServerTestBed::info().osVersion},
                          {QStringLiteral("timestamp"), QStringLiteral("2026-03-14T06:30:15Z")},
                          {QStringLiteral("context"),
                           QJsonObject{{QStringLiteral("path"), QStringLiteral("/Users/Анна/Movies")}}}}));
    settle(*service);
    QVERIFY(service->loadQueue().isEmpty());
    QCOMPARE(service->loadRecent().size(), 1);
}

void tst_ErrorReporting::sameReportWithinTwoMinutesIsSentOnce()
{
    auto service = makeService();
    const QString message = QStringLiteral("Нет доступа к папке");
    service->report(AppFeature::scan, message, {});
    m_bed->clock->advance(119);
    service->report(AppFeature::scan, QStringLiteral("  ") + message, {});
    // Another feature is another fault.
    service->report(AppFeature::cleanArchive, message, {});
    settle(*service);
    QCOMPARE(sent(QStringLiteral("feature")), QStringList({QStringLiteral("scan"), QStringLiteral("clean_archive")}));

    m_bed->clock->advance(2);
    service->report(AppFeature::scan, message, {});
    settle(*service);
    QCOMPARE(sent(QStringLiteral("feature")).size(), 3);

    // The window is in memory only: a new run reports at once.
    auto restarted = makeService();
    restarted->report(AppFeature::scan, message, {});
    settle(*restarted);
    QCOMPARE(sent(QStringLiteral("feature")).size(), 4);
}

void tst_ErrorReporting::nothingIsRecordedUnconfiguredOrBlank()
{
    auto service = makeService(false);
    service->report(AppFeature::general, QStringLiteral("before configure"), {});
    service->configure(QString(), true, QStringLiteral("id"));
    service->report(AppFeature::general, QStringLiteral("without an endpoint"), {});
    service->configure(m_bed->endpoint(errors), true, QString());
    service->report(AppFeature::general, QStringLiteral("without an id"), {});
    service->configure(m_bed->endpoint(errors), true, QStringLiteral("id"));
    service->report(AppFeature::general, QStringLiteral(" \n\t\r\n "), {});
    service->report(AppFeature::general, QString(), {});
    settle(*service);
    QVERIFY(service->loadQueue().isEmpty() && service->loadRecent().isEmpty());
    QVERIFY(m_bed->server.requests().isEmpty());
}

void tst_ErrorReporting::messageAndContextAreCut()
{
    const QMap<QString, QString> context{{QStringLiteral("UserPassword"), QStringLiteral("hunter2")},
                                         {QStringLiteral("serialNumber"), QStringLiteral("C02XYZ")},
                                         {QStringLiteral("DISK_SERIAL"), QStringLiteral("W1234")},
                                         {QStringLiteral("путь"), QString(600, QLatin1Char('p'))},
                                         {QString(70, QLatin1Char('k')), QStringLiteral("long key")}};
    const QMap<QString, QString> expected{{QStringLiteral("путь"), QString(500, QLatin1Char('p'))},
                                          {QString(64, QLatin1Char('k')), QStringLiteral("long key")}};
    QCOMPARE(ErrorReportingService::sanitizedContext(context), expected);
    QMap<QString, QString> many;
    for (int i = 0; i < 30; ++i) {
        many.insert(QStringLiteral("key%1").arg(i, 2, 10, QLatin1Char('0')), QString::number(i));
    }
    QCOMPARE(ErrorReportingService::sanitizedContext(many).size(), 20);

    auto service = makeService();
    service->report(AppFeature::cooling, QString(2500, QChar(0x044F)), context);
    // A character outside the basic plane is not split at the limit.
    service->report(AppFeature::general, QString(1999, QLatin1Char('a')) + QStringLiteral("😀tail"), {});
    settle(*service);
    QCOMPARE(sent(QStringLiteral("message")),
             QStringList({QString(2000, QChar(0x044F)), QString(1999, QLatin1Char('a'))}));
    QCOMPARE(firstContext(), QJsonObject({{QStringLiteral("путь"), QString(500, QLatin1Char('p'))},
                                          {QString(64, QLatin1Char('k')), QStringLiteral("long key")}}));
}

void tst_ErrorReporting::operationErrorsMakeOneReport()
{
    auto service = std::shared_ptr<ErrorReportingService>(makeService());
    ErrorReporter reporter(service);
    reporter.reportOperationErrors(AppFeature::archiveMove, {}, {});
    QStringList errorTexts;
    for (int i = 1; i <= 7; ++i) {
        errorTexts.append(QStringLiteral("Ошибка %1").arg(i));
    }
    reporter.reportOperationErrors(AppFeature::archiveMove, errorTexts,
                                   {{QStringLiteral("target"), QStringLiteral("/Volumes/Архив")}});
    settle(*service);
    QCOMPARE(sent(QStringLiteral("message")),
             QStringList({QStringLiteral("Ошибка 1 | Ошибка 2 | Ошибка 3 | Ошибка 4 | Ошибка 5")}));
    QCOMPARE(firstContext(), QJsonObject({{QStringLiteral("error_count"), QStringLiteral("7")},
                                          {QStringLiteral("more_errors"), QStringLiteral("+2")},
                                          {QStringLiteral("target"), QStringLiteral("/Volumes/Архив")}}));
    QCOMPARE(ErrorReporter::operationContext({QStringLiteral("a"), QStringLiteral("b")}, {}),
             (QMap<QString, QString>{{QStringLiteral("error_count"), QStringLiteral("2")}}));
    // Without a service the reports go nowhere.
    ErrorReporter(nullptr).reportOperationErrors(AppFeature::scan, errorTexts, {});
}

void tst_ErrorReporting::queueAndRecentKeepTheNewest()
{
    auto service = makeService();
    // The host is in its back-off: every flush keeps everything, without traffic.
    m_bed->gate->block(QStringLiteral("127.0.0.1"), 3600);
    for (int i = 1; i <= 100; ++i) {
        service->report(AppFeature::scan, QStringLiteral("сбой %1").arg(i), {});
    }
    service->report(AppFeature::update, QString(300, QLatin1Char('u')), {});
    settle(*service);
    QCOMPARE(service->loadQueue().size(), 100);
    QCOMPARE(service->loadRecent().size(), 20);
    QCOMPARE(service->loadRecent().first().message, QStringLiteral("сбой 82"));
    QVERIFY(m_bed->server.requests().isEmpty());
    QCOMPARE(ErrorReportingService::recentSummaries(m_bed->store, 3),
             QStringList({QStringLiteral("update: ") + QString(200, QLatin1Char('u')),
                          QStringLiteral("scan: сбой 100"), QStringLiteral("scan: сбой 99")}));
}

void tst_ErrorReporting::switchedOffKeepsTheQueue()
{
    auto service = makeService();
    m_bed->server.setStanding(ServerTestBed::apiPath(errors), ScriptedResponse::json(500, {}));
    service->report(AppFeature::general, QStringLiteral("first"), {});
    service->report(AppFeature::general, QStringLiteral("second"), {});
    settle(*service);
    QCOMPARE(service->loadQueue().size(), 2);
    const qsizetype tries = m_bed->received(errors).size();

    service->configure(m_bed->endpoint(errors), false, QStringLiteral("id"));
    service->report(AppFeature::general, QStringLiteral("while off"), {});
    settle(*service);
    QCOMPARE(service->loadQueue().size(), 2);
    QCOMPARE(m_bed->received(errors).size(), tries);

    m_bed->server.clearStanding(ServerTestBed::apiPath(errors));
    service->configure(m_bed->endpoint(errors), true, QStringLiteral("id"));
    settle(*service);
    QVERIFY(service->loadQueue().isEmpty());
    QCOMPARE(m_bed->received(errors).size(), tries + 2);
}

void tst_ErrorReporting::reporterHandsOtherThreadsOver()
{
    auto service = std::shared_ptr<ErrorReportingService>(makeService(false));
    auto reporter = std::make_shared<ErrorReporter>(service);
    AppSettings settings = AppSettings::defaults(m_bed->dir.path());
    settings.errorsEndpoint = m_bed->endpoint(errors);
    std::unique_ptr<QThread> worker(QThread::create([reporter, settings] {
        reporter->configure(settings, QStringLiteral("from-a-worker"));
        reporter->report(AppFeature::safeCleanup, QStringLiteral("Кэш занят другим процессом"), {});
    }));
    worker->start();
    QVERIFY(worker->wait(10000));
    QTRY_COMPARE(m_bed->received(errors).size(), 1);
    QCOMPARE(sent(QStringLiteral("anonymous_id")), QStringList({QStringLiteral("from-a-worker")}));
    QCOMPARE(sent(QStringLiteral("feature")), QStringList({QStringLiteral("safe_cleanup")}));
    settle(*service);
}

void tst_ErrorReporting::deathLeavesAReportTheNextLaunchSends_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("exception");
    QTest::addColumn<QString>("message");
    QTest::newRow("invalid memory access") << "segv" << "SIGSEGV" << "Fatal signal SIGSEGV (invalid memory access)";
    QTest::newRow("arithmetic error") << "fpe" << "SIGFPE" << "Fatal signal SIGFPE (arithmetic error)";
    QTest::newRow("abort") << "abort" << "SIGABRT" << "Fatal signal SIGABRT (abort)";
    QTest::newRow("uncaught exception") << "exception" << "std::runtime_error" << "Диск отключён во время переноса";
    QTest::newRow("uncaught non-exception") << "foreign" << "int" << "int";
}

void tst_ErrorReporting::deathLeavesAReportTheNextLaunchSends()
{
    QFETCH(QString, mode);
    QFETCH(QString, exception);
    QFETCH(QString, message);
    QVERIFY(crash(mode));
    const std::optional<CrashRecord> record = CrashRecord::read(crashFile());
    QVERIFY(record);
    QCOMPARE(record->exception, exception);
    QCOMPARE(record->message, message);
    QVERIFY(!record->frames.isEmpty() && record->frames.size() <= 15);
    QVERIFY2(!record->frames.first().startsWith(QLatin1Char('/')), qPrintable(record->frames.first()));

    auto service = makeService();
    QTRY_COMPARE(m_bed->received(errors).size(), 1);
    QCOMPARE(sent(QStringLiteral("feature")), QStringList({QStringLiteral("crash")}));
    QCOMPARE(sent(QStringLiteral("message")), QStringList({message}));
    QCOMPARE(firstContext().value(QLatin1String("exception")).toString(), exception);
    QVERIFY(!firstContext().value(QLatin1String("stack")).toString().isEmpty());
    QVERIFY(!QFile::exists(crashFile()));

    // The launch after that has nothing more to send.
    settle(*service);
    auto nextLaunch = makeService();
    settle(*nextLaunch);
    QCOMPARE(m_bed->received(errors).size(), 1);
}

void tst_ErrorReporting::crashReportWaitsUntilConfiguredAndIsDroppedWhenOff()
{
    QVERIFY(crash(QStringLiteral("segv")));
    auto service = makeService(false);
    service->configure(QString(), true, QStringLiteral("id"));
    settle(*service);
    QVERIFY(QFile::exists(crashFile()));
    QVERIFY(service->loadQueue().isEmpty());

    service->configure(m_bed->endpoint(errors), false, QStringLiteral("id"));
    QVERIFY(!QFile::exists(crashFile()));
    service->configure(m_bed->endpoint(errors), true, QStringLiteral("id"));
    settle(*service);
    QVERIFY(m_bed->received(errors).isEmpty());
    QVERIFY(service->loadRecent().isEmpty());
}

void tst_ErrorReporting::damagedCrashFileIsDropped()
{
    QVERIFY(writeAll(crashFile(), "brisko-crash\nexception: SIGSEGV\nstack:\n"));
    QVERIFY(!CrashRecord::read(crashFile()));
    auto service = makeService();
    settle(*service);
    QVERIFY(!QFile::exists(crashFile()));
    QVERIFY(m_bed->received(errors).isEmpty());

    QVERIFY(!CrashRecord::parse("something else\nmessage: x\n"));
    const std::optional<CrashRecord> parsed = CrashRecord::parse(
        "brisko-crash\nexception: SIGBUS\nmessage: Fatal signal SIGBUS (bus error)\nstack:\n"
        "/opt/Brisko Vella/bin/brisko(_Z4walkv+0x1d) [0x55d0c0de]\n/usr/lib/libc.so.6(+0x3bfd0) [0x7f00]\n");
    QVERIFY(parsed);
    QCOMPARE(parsed->frames, QStringList({QStringLiteral("brisko(_Z4walkv+0x1d) [0x55d0c0de]"),
                                          QStringLiteral("libc.so.6(+0x3bfd0) [0x7f00]")}));
}

void tst_ErrorReporting::usageIdIsMadeOnceAndKept()
{
    const QString first = makeUsage()->anonymousId();
    const QRegularExpression uuid(QStringLiteral("^[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}$"));
    QVERIFY(uuid.match(first).hasMatch());
    QCOMPARE(m_bed->store->data(AnalyticsService::anonymousIdKey), first.toUtf8());
    QCOMPARE(makeUsage()->anonymousId(), first);

    m_bed->store->setData(AnalyticsService::anonymousIdKey, "\xff not an id");
    const QString replaced = makeUsage()->anonymousId();
    QVERIFY(uuid.match(replaced).hasMatch() && replaced != first);
    QCOMPARE(m_bed->store->data(AnalyticsService::anonymousIdKey), replaced.toUtf8());
}

void tst_ErrorReporting::usageEventIsSentWithItsFields()
{
    auto service = makeUsage();
    const QMap<QString, QString> metadata{{QStringLiteral("items"), QStringLiteral("12")},
                                          {QStringLiteral("category"), QStringLiteral("largeFolders")}};
    service->track(QStringLiteral("scan_completed"), metadata, true, m_bed->endpoint(events));
    QTRY_COMPARE(m_bed->received(events).size(), 1);
    QCOMPARE(m_bed->received(events).first().json(),
             QJsonObject({{QStringLiteral("anonymous_id"), service->anonymousId()},
                          {QStringLiteral("app_version"), QStringLiteral("1.4.2")},
                          {QStringLiteral("build"), QStringLiteral("42")},
                          {QStringLiteral("event"), QStringLiteral("scan_completed")},
                          {QStringLiteral("metadata"), QJsonObject{{QStringLiteral("items"), QStringLiteral("12")},
                                                                   {QStringLiteral("category"), QStringLiteral("largeFolders")}}},
                          {QStringLiteral("os_version"), ServerTestBed::info().osVersion},
                          {QStringLiteral("timestamp"), QStringLiteral("2026-03-14T06:30:15Z")}}));
    QVERIFY(ServerTestBed::await(service->whenIdle()));
    QVERIFY(service->loadQueue().isEmpty());
}

// The window flushes at launch with the switch as stored: off, the queue waits.
void tst_ErrorReporting::usageSwitchedOffSendsNothing()
{
    auto service = makeUsage();
    m_bed->gate->block(QStringLiteral("127.0.0.1"), 600);
    service->track(QStringLiteral("app_launch"), {}, true, m_bed->endpoint(events));
    QVERIFY(ServerTestBed::await(service->whenIdle()));
    m_bed->restart();
    auto fresh = makeUsage();
    QVERIFY(ServerTestBed::await(fresh->flush(m_bed->endpoint(events), false)));
    QVERIFY(m_bed->received(events).isEmpty());
    QVERIFY(ServerTestBed::await(fresh->flush(m_bed->endpoint(events), true)));
    QCOMPARE(m_bed->sent(events, QStringLiteral("event")), QStringList({QStringLiteral("app_launch")}));
}

BRISKO_TEST(tst_ErrorReporting)
#include "tst_ErrorReporting.moc"
