#pragma once
// Switching the monitoring service, which watches the drives against the alert thresholds.
// The service is not part of this program; it is only started, stopped and configured here.
#include <cstdint>
#include <string>

#include "health/self_test.h"

namespace tarvex {

inline constexpr char16_t kMonitoringServiceName[] = u"VARNO Velmora Service";

// How long the stop worker waits for a service that is still stopping, and how often it looks.
inline constexpr uint32_t kServiceStopWaitMs = 30000;
inline constexpr uint32_t kServiceStopPollMs = 500;

// The service stop's `result` in its thread data: the service is stopped, or it is not (then
// `error` holds the reason as a Win32 error).
inline constexpr int32_t kServiceStopSucceeded = 1;
inline constexpr int32_t kServiceStopFailed = 2;

// The worker that turns the service off in the background (argument: the Diagnostics page's
// thread data record for the service stop, operation kind 3); returns 1. It stores the outcome
// in the record before its END. The stop counts as done when the service is stopped at the
// end, whoever stopped it (the page's click sends a stop of its own first); a stop that is
// still pending is waited for up to kServiceStopWaitMs on the platform clock.
uint32_t ServiceStopThread(void* threadData);

// The outcome the worker stored; the error is 0 after a stop that worked.
void StoreServiceStopOutcome(SelfTestThreadData& data, int32_t result, uint32_t error);
uint32_t LoadServiceStopError(const SelfTestThreadData& data);

// The message shown when the service could not be stopped, with the reason for `error`.
std::u16string ServiceStopFailureText(uint32_t error);

}  // namespace tarvex
