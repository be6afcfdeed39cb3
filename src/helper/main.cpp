#include "SmcHelperTool.h"

#include <cstdio>
#include <cstdlib>

// Runs as root through pkexec. The environment is the caller's business, not
// ours: drop it before anything could read it, and find the SMC from the
// fixed driver paths alone.
int main(int argc, char* argv[])
{
    ::clearenv();

    QByteArrayList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.append(QByteArray(argv[i]));
    }
    QString message;
    const int status = SmcHelperTool::run(arguments, SmcMachine::platform(), &message);
    if (status != SmcHelperTool::exitSuccess) {
        const QByteArray text = message.toUtf8() + '\n';
        std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    }
    return status;
}
