#pragma once

#include "AnalyticsService.h"
#include "ErrorReporter.h"

#include <QFuture>
#include <QList>

#include <chrono>
#include <memory>

// The program's single usage-event service and error reporter, on the
// process's transport and back-off gate (the composition root hands in the
// same ones every time). Each is made on first use (on the main thread) and
// shared by everyone who asks while it lives. The reporter starts configured
// from the settings in the defaults store; the gate keeps its back-offs in
// that store.
namespace ServerServices {
// The argument a program is started with to be a sender (sendQueuedUsage).
inline const QString usageSenderArgument = QStringLiteral("--send-queued-usage");

// queues: where the usage events wait (PlatformDefaultsStore::openQueues),
// or null to keep them in defaults.
std::shared_ptr<AnalyticsService> analytics(const DefaultsStorePtr& defaults, const DefaultsStorePtr& queues,
                                            const ClockPtr& clock, QPointer<HttpTransport> transport,
                                            std::shared_ptr<RateLimitGate> gate);
std::shared_ptr<ErrorReporter> errorReporter(const DefaultsStorePtr& defaults, const DefaultsStorePtr& queues,
                                             const ClockPtr& clock,
                                             QPointer<HttpTransport> transport, std::shared_ptr<RateLimitGate> gate);

// Marks a short-lived process (the command line): from now on the services
// made here are also kept by this module until finishSends, so that the sends
// a command started can go on after the command's own objects are gone, and
// the usage service works for a short process (AnalyticsService): its events
// wait for finishSendsBeyondExit.
void startShortLivedProcess();
// For the end of a short-lived process (main thread): gives the flushes that
// run at most grace on the event loop, returning as soon as they end; then
// every host of gate that has not answered a post still in flight counts as
// unreachable, the error queue is written through, and the retained services
// are let go. What was not delivered stays queued for a later run.
void finishSends(RateLimitGate& gate, std::chrono::milliseconds grace);
// For the end of the command line, once its output is complete and the
// other threads are idle: when there is something to send (the usage events
// the command queued, unless their host is held back, or sends still
// running), the sends go on in a process that outlives this one and gives
// them finishSends' grace, while this returns at once for the process to
// exit; whoever waits for the command does not wait for the server.
// - Queued events alone go to a sender: this program started with
//   usageSenderArgument once this process has ended
//   (BackgroundContinuation::startAfterExit).
// - Sends already running (an error report on its way) go on in a copy of
//   the process (BackgroundContinuation::split), which has their sockets.
// The usage queue is sent by one process at a time (its claim, see
// StoredQueue::claimSending): while an earlier command's sender still sends,
// this command's events wait for a later one. Where nothing is to be sent it
// is finishSends; where no other process can be had, the sends get their
// grace here.
void finishSendsBeyondExit(RateLimitGate& gate, std::chrono::milliseconds grace);
// The whole work of a sender a command started (usageSenderArgument), on the
// main thread: once it holds the claim on sending the usage queue, sends the
// queue as the stored settings say (to their endpoint; nothing while
// analytics is off) and gives the sends finishSends' grace. Ends the process
// at the limit a copy has too.
void sendQueuedUsage(const DefaultsStorePtr& defaults, const DefaultsStorePtr& queues, const ClockPtr& clock,
                     QPointer<HttpTransport> transport, std::shared_ptr<RateLimitGate> gate,
                     std::chrono::milliseconds grace);
} // namespace ServerServices
