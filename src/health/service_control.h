#pragma once
// Switching the monitoring service, which watches the drives against the alert thresholds.
// The service is not part of this program; it is only started, stopped and configured here.
#include <cstdint>

namespace tarvex {

inline constexpr char16_t kMonitoringServiceName[] = u"VARNO Velmora Service";

// The worker that turns the service off in the background (argument: the Diagnostics page's
// thread data record for the service stop, operation kind 3); returns 1.
uint32_t ServiceStopThread(void* threadData);

}  // namespace tarvex
