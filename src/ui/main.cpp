#include "BriskoApplication.h"

#include <cstdlib>

int main(int argc, char* argv[])
{
    // Never destroyed: see BriskoApplication::shutDown.
    auto* application = new BriskoApplication(argc, argv);
    const int status = application->run();
    application->shutDown();
    std::_Exit(status);
}
