#include "BriskoTest.h"

#include <QApplication>

int main(int argc, char** argv)
{
    return BriskoTest::runMain<QApplication>(argc, argv);
}
