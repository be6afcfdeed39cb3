#include "TerminationFlag.h"

TerminationFlag& TerminationFlag::process()
{
    static TerminationFlag flag;
    return flag;
}
