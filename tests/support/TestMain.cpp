#include "BriskoTest.h"

int main(int argc, char** argv)
{
    return BriskoTest::runMain<QCoreApplication>(argc, argv);
}
