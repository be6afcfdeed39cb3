#include "BriskoTest.h"
#include "ServerTestCase.h"

#include "server/QueueFlusher.h"

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

// The stored queue and its flushes, which every service that sends records
// shares: the cap, unreadable values, and that a flush loses nothing and
// sends nothing twice however requests, new records and the end of the
// program interleave, against a real loopback server.
class tst_StoredQueue : public ServerTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void keepsTheNewestAndRemovesTheOldestEqual();
    void unreadableValueReadsAsEmptyAndIsReplaced_data();
    void unreadableValueReadsAsEmptyAndIsReplaced();
    void overlappingFlushesLoseAndRepeatNothing();
    void interruptedFlushResendsOnlyWhatWasInFlight();

private:
    StoredQueue<Note> queue(qsizetype limit = 100) const { return {m_bed->store, QStringLiteral("Notes"), limit}; }
    std::unique_ptr<QueueFlusher<Note>> flusher() { return std::make_unique<QueueFlusher<Note>>(queue(), m_bed->client()); }
    QUrl url() const { return QUrl(m_bed->endpoint(errors)); }
    static QStringList texts(const QList<Note>& notes)
    {
        QStringList list;
        for (const Note& note : notes) {
            list.append(note.text);
        }
        return list;
    }
    // What the server received, sorted.
    QString sent() const
    {
        QStringList list = m_bed->sent(errors, QStringLiteral("message"));
        list.sort();
        return list.join(u',');
    }

    const QString errors = QStringLiteral("errors.php");
};

void tst_StoredQueue::keepsTheNewestAndRemovesTheOldestEqual()
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
}

void tst_StoredQueue::unreadableValueReadsAsEmptyAndIsReplaced_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QStringList>("readable");
    QTest::newRow("not JSON") << QByteArray("\xff\xfe not json") << QStringList();
    QTest::newRow("an array left open") << QByteArray(R"([{"message":"x"})") << QStringList();
    QTest::newRow("an object") << QByteArray(R"({"message":"x"})") << QStringList();
    QTest::newRow("an element that is no object") << QByteArray(R"([{"message":"x"},7])") << QStringList();
    // One damaged record costs none of the others.
    QTest::newRow("a record that does not decode")
        << QByteArray(R"([{"message":"x"},{"message":1}])") << QStringList({QStringLiteral("x")});
    QTest::newRow("brackets and quotes inside a text, spaces between")
        << QByteArray(R"( [ {"message":"}],{\"[\\"} ,{"message":"y"} ] )")
        << QStringList({QStringLiteral("}],{\"[\\"), QStringLiteral("y")});
}

void tst_StoredQueue::unreadableValueReadsAsEmptyAndIsReplaced()
{
    QFETCH(QByteArray, stored);
    QFETCH(QStringList, readable);
    QVERIFY(m_bed->store->setData(QStringLiteral("Notes"), stored));
    QCOMPARE(texts(queue().load()), readable);
    queue().append(Note{QStringLiteral("после порчи")});
    QCOMPARE(texts(queue().load()), readable + QStringList({QStringLiteral("после порчи")}));
}

void tst_StoredQueue::overlappingFlushesLoseAndRepeatNothing()
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
        notes->flush(url());
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
        QVERIFY(ServerTestBed::await(notes->flush(url())));
    }
    QVERIFY(!notes->isRunning());
    QVERIFY(queue().load().isEmpty());
    QCOMPARE(added, 12);
    QCOMPARE(delivered.size(), 12);
    for (auto it = delivered.constBegin(); it != delivered.constEnd(); ++it) {
        QVERIFY2(it.value() == 1, qPrintable(it.key()));
    }
}

void tst_StoredQueue::interruptedFlushResendsOnlyWhatWasInFlight()
{
    for (int i = 0; i < 3; ++i) {
        queue().append(Note{QStringLiteral("запись %1").arg(i)});
    }
    // Until the host has answered once, one post runs at a time.
    m_bed->server.enqueue(ServerTestBed::apiPath(errors), ScriptedResponse::delayed(200, 300));
    {
        const auto first = flusher();
        first->flush(url());
        QTRY_COMPARE(m_bed->received(errors).size(), 1);
        QCOMPARE(sent(), QStringLiteral("запись 0"));
        // The program ends while the server still holds the oldest record.
    }
    QCOMPARE(queue().load().size(), 3);
    const auto next = flusher();
    QVERIFY(ServerTestBed::await(next->flush(url())));
    QVERIFY(queue().load().isEmpty());
    QCOMPARE(sent(), QStringLiteral("запись 0,запись 0,запись 1,запись 2"));
}

BRISKO_TEST(tst_StoredQueue)
#include "tst_StoredQueue.moc"
