#include "BriskoTest.h"
#include "platform/BackgroundContinuation.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// In the copy of this threaded test, async-signal-safe calls only.
[[noreturn]] void reportAndHang(const QByteArray& report)
{
    struct stat out = {};
    struct stat null = {};
    const bool quiet =
        ::fstat(STDOUT_FILENO, &out) == 0 && ::stat("/dev/null", &null) == 0 && out.st_rdev == null.st_rdev;
    char line[64];
    const int length = std::snprintf(line, sizeof line, "%d %d %d %d", int(::getpid()), ::getsid(0) == ::getpid(),
                                     quiet, ::getpriority(PRIO_PROCESS, 0) > 0);
    const QByteArray partial = report + ".part";
    const int fd = ::open(partial.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0 && ::write(fd, line, size_t(length)) == length && ::close(fd) == 0) {
        ::rename(partial.constData(), report.constData());
    }
    for (;;) {
        ::pause();
    }
}
} // namespace

// The process that finishes a command's sends, a copy or a new program: a
// process of its own that holds nothing of the caller's output, is outside
// the caller's job, and is ended by its limit when it hangs.
class tst_BackgroundContinuation : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void theCopyLetsTheCallersReaderGoAndEndsAtItsLimit()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QByteArray report = QFile::encodeName(dir.filePath(QStringLiteral("копия")));
        // The caller's output is a pipe, as when a script reads a command's result.
        int pipe[2];
        QCOMPARE(::pipe2(pipe, O_CLOEXEC), 0);
        const int savedOut = ::dup(STDOUT_FILENO);
        QVERIFY(::dup2(pipe[1], STDOUT_FILENO) >= 0);
        ::close(pipe[1]);
        const BackgroundContinuation::Side side = BackgroundContinuation::split(std::chrono::seconds(1));
        if (side == BackgroundContinuation::Side::continuation) {
            reportAndHang(report);
        }
        ::dup2(savedOut, STDOUT_FILENO);
        ::close(savedOut);
        QVERIFY(side == BackgroundContinuation::Side::caller);

        QTRY_VERIFY(QFile::exists(QFile::decodeName(report)));
        QFile file(QFile::decodeName(report));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> facts = file.readAll().split(' ');
        QCOMPARE(facts.size(), 4);
        QCOMPARE(facts.at(1), QByteArray("1")); // a session of its own
        QCOMPARE(facts.at(2), QByteArray("1")); // its output goes nowhere
        QCOMPARE(facts.at(3), QByteArray("1")); // it yields to the user's work
        // The copy still runs, yet the reader of the caller's output sees its end.
        QCOMPARE(::fcntl(pipe[0], F_SETFL, O_NONBLOCK), 0);
        char byte;
        QCOMPARE(::read(pipe[0], &byte, 1), ssize_t(0));
        ::close(pipe[0]);
        int status = 0;
        QCOMPARE(::waitpid(pid_t(facts.at(0).toInt()), &status, 0), pid_t(facts.at(0).toInt()));
        QVERIFY(WIFSIGNALED(status));
        QCOMPARE(WTERMSIG(status), SIGALRM);
    }

    void theProgramStartsOnceTheCallerHasEnded_data()
    {
        QTest::addColumn<bool>("withoutInput");
        QTest::newRow("as a shell starts it") << false;
        // Its first new descriptor then takes the place of standard input.
        QTest::newRow("without standard input") << true;
    }

    void theProgramStartsOnceTheCallerHasEnded()
    {
        QFETCH(bool, withoutInput);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QByteArray report = QFile::encodeName(dir.filePath(QStringLiteral("программа")));
        const QByteArray lastWord = QFile::encodeName(dir.filePath(QStringLiteral("последнее слово")));
        // Fields of /proc/PID/stat after the name: 6 is the session, 19 the nice value.
        // $0 is the report, $1 the caller's last word; then field N of
        // /proc/PID/stat becomes ${N}: 6 is the session, 19 the nice value.
        const QByteArray script = "set -e; test -e \"$1\" && seen=1 || seen=0;"
                                  "read -r stat < /proc/$$/stat; set -- - - ${stat#*) };"
                                  "printf '%s %s %s %s %s' $$ \"$6\" \"${19}\" \"$(readlink /proc/$$/fd/1)\" $seen"
                                  " > \"$0.part\"; mv \"$0.part\" \"$0\"; exec sleep 60";
        int pipe[2];
        QCOMPARE(::pipe2(pipe, O_CLOEXEC), 0);
        const pid_t caller = ::fork();
        QVERIFY(caller >= 0);
        if (caller == 0) {
            // The caller's output is a pipe, as when a script reads a command's
            // result; a descriptor without close-on-exec is not handed down either.
            ::dup2(pipe[1], STDOUT_FILENO);
            ::dup(pipe[1]);
            if (withoutInput) {
                ::close(STDIN_FILENO);
            }
            const bool started = BackgroundContinuation::startAfterExit("/bin/sh", {"-c", script, report, lastWord});
            // The caller's last work: the program must not have started yet.
            ::usleep(300 * 1000);
            const int fd = ::open(lastWord.constData(), O_WRONLY | O_CREAT, 0600);
            ::_exit(started && fd >= 0 ? 7 : 1);
        }
        ::close(pipe[1]);
        int status = 0;
        QCOMPARE(::waitpid(caller, &status, 0), caller);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 7);

        QTRY_VERIFY(QFile::exists(QFile::decodeName(report)));
        QFile file(QFile::decodeName(report));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> facts = file.readAll().split(' ');
        QCOMPARE(facts.size(), 5);
        const pid_t program = pid_t(facts.at(0).toInt());
        QCOMPARE(facts.at(1).toInt(), int(program)); // a session of its own
        QVERIFY(facts.at(2).toInt() > 0);            // it yields to the user's work
        QCOMPARE(facts.at(3), QByteArray("/dev/null"));
        QCOMPARE(facts.at(4), QByteArray("1")); // it started after the caller's end
        // The program still runs, yet the reader of the caller's output sees its end.
        QCOMPARE(::kill(program, 0), 0);
        QCOMPARE(::fcntl(pipe[0], F_SETFL, O_NONBLOCK), 0);
        char byte;
        QCOMPARE(::read(pipe[0], &byte, 1), ssize_t(0));
        ::close(pipe[0]);
        ::kill(program, SIGKILL);
    }
};

BRISKO_TEST(tst_BackgroundContinuation)
#include "tst_BackgroundContinuation.moc"
