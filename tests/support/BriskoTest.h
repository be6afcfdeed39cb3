#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QtTest/qtest.h>

#include <memory>
#include <optional>

// Each test folder builds one program, tests_<folder>, out of its QtTest
// classes. A class registers itself with BRISKO_TEST in place of QTEST_MAIN,
// under the name of its file (tst_Foo for tst_Foo.cpp), which is also the
// name CTest lists it by.
//
//   tests_fileops                      every class in turn
//   tests_fileops tst_FileMover [ARGS] one class, ARGS as for any QtTest program
//   tests_fileops -classes             the names of the classes
//
// A class's static initMain(), when it has one, runs before the application
// object exists (all of them first when every class runs).
namespace BriskoTest {

using Factory = std::unique_ptr<QObject> (*)();

bool registerClass(const char* sourceFile, void (*initMain)(), Factory create);

// What main runs; nullopt once it has answered by itself (the list of
// classes, an unknown name), with that exit status in exitCode.
struct Selection
{
    int index = -1; // -1: every class
};
std::optional<Selection> select(int& argc, char** argv, int& exitCode);
int run(const Selection& selection, int argc, char** argv);

// The folder's main: Application is QCoreApplication, or QApplication for
// the window's tests.
template<typename Application>
int runMain(int argc, char** argv)
{
    int exitCode = 0;
    const std::optional<Selection> selection = select(argc, argv, exitCode);
    if (!selection) {
        return exitCode;
    }
    Application app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    return run(*selection, argc, argv);
}

} // namespace BriskoTest

#define BRISKO_TEST(TestObject)                                                                          \
    [[maybe_unused]] static const bool briskoTestRegistered_##TestObject = ::BriskoTest::registerClass( \
        __FILE__, &QT_PREPEND_NAMESPACE(QTest::Internal::callInitMain)<TestObject>,                   \
        []() -> std::unique_ptr<QObject> { return std::make_unique<TestObject>(); });
