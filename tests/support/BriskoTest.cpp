#include "BriskoTest.h"

#include <QByteArray>
#include <QList>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace BriskoTest {
namespace {

struct Registration
{
    QByteArray name;
    const char* sourceFile;
    void (*initMain)();
    Factory create;
};

// Filled by static initializers of the test files, so built on first use.
QList<Registration>& registrations()
{
    static QList<Registration> all;
    return all;
}

QByteArray nameOfFile(const char* sourceFile)
{
    QByteArray name(sourceFile);
    name = name.mid(name.lastIndexOf('/') + 1);
    const qsizetype dot = name.lastIndexOf('.');
    return dot > 0 ? name.left(dot) : name;
}

int runOne(const Registration& registration, int argc, char** argv)
{
    const std::unique_ptr<QObject> test = registration.create();
    QTest::setMainSourcePath(registration.sourceFile);
    return QTest::qExec(test.get(), argc, argv);
}

} // namespace

bool registerClass(const char* sourceFile, void (*initMain)(), Factory create)
{
    const QByteArray name = nameOfFile(sourceFile);
    for (const Registration& existing : registrations()) {
        if (existing.name == name) {
            std::fprintf(stderr, "Two test classes registered as %s\n", name.constData());
            std::abort();
        }
    }
    registrations().append({name, sourceFile, initMain, create});
    return true;
}

std::optional<Selection> select(int& argc, char** argv, int& exitCode)
{
    if (argc < 2 || argv[1][0] == '-') {
        if (argc >= 2 && std::strcmp(argv[1], "-classes") == 0) {
            for (const Registration& registration : registrations()) {
                std::printf("%s\n", registration.name.constData());
            }
            exitCode = 0;
            return std::nullopt;
        }
        for (const Registration& registration : registrations()) {
            registration.initMain();
        }
        return Selection{};
    }
    for (qsizetype index = 0; index < registrations().size(); ++index) {
        if (registrations().at(index).name == argv[1]) {
            registrations().at(index).initMain();
            // The class's own arguments follow its name; QtTest sees them
            // as if they were the program's.
            std::memmove(argv + 1, argv + 2, sizeof(char*) * (argc - 1));
            --argc;
            return Selection{int(index)};
        }
    }
    std::fprintf(stderr, "No test class %s here; %s -classes lists them\n", argv[1], argv[0]);
    exitCode = 2;
    return std::nullopt;
}

int run(const Selection& selection, int argc, char** argv)
{
    if (selection.index >= 0) {
        return runOne(registrations().at(selection.index), argc, argv);
    }
    int failedClasses = 0;
    for (const Registration& registration : registrations()) {
        if (runOne(registration, argc, argv) != 0) {
            ++failedClasses;
        }
    }
    return failedClasses;
}

} // namespace BriskoTest
