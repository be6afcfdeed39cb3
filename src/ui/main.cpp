#include "BriskoApplication.h"

int main(int argc, char* argv[])
{
    BriskoApplication application(argc, argv);
    return application.run();
}
