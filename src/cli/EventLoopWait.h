#pragma once

#include <QFuture>

// Runs the event loop until future has finished: the services publish their
// results through queued calls on this thread, and the command line has no
// window whose loop would deliver them.
void waitInEventLoop(const QFuture<void>& future);
