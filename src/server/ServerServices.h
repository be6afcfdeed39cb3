#pragma once

#include "AnalyticsService.h"
#include "ErrorReporter.h"

#include <memory>

// The program's single usage-event service and error reporter, on the
// process's transport and back-off gate. Each is made on first use (on the
// main thread) and shared by everyone who asks while it lives. The reporter
// starts configured from the settings in the defaults store.
namespace ServerServices {
std::shared_ptr<AnalyticsService> analytics(const DefaultsStorePtr& defaults, const ClockPtr& clock);
std::shared_ptr<ErrorReporter> errorReporter(const DefaultsStorePtr& defaults, const ClockPtr& clock);
} // namespace ServerServices
