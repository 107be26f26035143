// The emulated PC's service control manager: names, access rights, start and stop with their
// refusals, pending states on the clock, state kept across machines and processes, and the
// profile's service errors.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include "platform/last_error.h"
#include "platform/sim/embedded_profiles.h"
#include "platform/win32_values.h"
#include "support/test_machine.h"

namespace tarvex::test {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

constexpr char16_t kMonitor[] = u"VARNO Velmora Service";

json PcWithServices() {
    json p = BaseProfile();
    p["services"] = json::array({
        {{"name", "VARNO Velmora Service"},
         {"displayName", "VARNO Velmora"},
         {"startType", "auto"},
         {"state", "running"}},
        {{"name", "Slow"}, {"startSeconds", 5}, {"stopSeconds", 3}},
        {{"name", "Off"}, {"startType", "disabled"}},
        {{"name", "Broken"}, {"failStart", 1053}},
    });
    return p;
}

std::unique_ptr<platform::Service> Open(std::u16string_view name, uint32_t access) {
    auto manager = platform::Current().services->OpenSCManager(win::SC_MANAGER_CONNECT);
    EXPECT_TRUE(manager);
    return manager ? manager->OpenService(name, access) : nullptr;
}

// The state a service has now, by its status.
uint32_t StateOf(std::u16string_view name) {
    auto s = Open(name, win::SERVICE_QUERY_STATUS);
    platform::ServiceStatus status;
    return s && s->QueryServiceStatus(&status) ? status.currentState : 0;
}

uint32_t StartTypeOf(sim::SimMachine& m, std::u16string_view name) {
    auto s = m.Services().Find(name);
    return s ? s->startType : 0;
}

// The call fails with `error` as its last error (a call that succeeds gives kCallSucceeded).
constexpr uint32_t kCallSucceeded = 0xFFFFFFFFu;
#define EXPECT_FAILS_WITH(call, error)                                                         \
    EXPECT_EQ((platform::SetLastError(0), (call)) ? kCallSucceeded : platform::GetLastError(), \
              (error))

TEST(Services, NamesAreMatchedIgnoringCaseAndUnknownOnesDoNotExist) {
    {
        TestMachine bare;  // a profile without services
        EXPECT_FAILS_WITH(Open(kMonitor, win::SERVICE_ALL_ACCESS) != nullptr,
                          win::ERROR_SERVICE_DOES_NOT_EXIST);
    }
    TestMachine m(PcWithServices());
    EXPECT_TRUE(Open(u"varno VELMORA service", win::SERVICE_QUERY_STATUS));
    EXPECT_EQ(m->Services().Find(u"VARNO VELMORA SERVICE")->displayName, u"VARNO Velmora");
    EXPECT_FAILS_WITH(Open(u"Velmora", 0) != nullptr, win::ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_FAILS_WITH(Open(u"Slow ", 0) != nullptr, win::ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_FAILS_WITH(Open(u"", 0) != nullptr, win::ERROR_INVALID_NAME);
    EXPECT_FAILS_WITH(Open(u"Slow\\..\\Slow", 0) != nullptr, win::ERROR_INVALID_NAME);
}

TEST(Services, EveryCallNeedsItsRightAndARefusedCallChangesNothing) {
    TestMachine m(PcWithServices());
    platform::ServiceStatus status;
    {
        auto queryOnly = Open(kMonitor, win::SERVICE_QUERY_STATUS);
        ASSERT_TRUE(queryOnly);
        EXPECT_TRUE(queryOnly->QueryServiceStatus(&status));
        EXPECT_FAILS_WITH(queryOnly->ChangeServiceStartType(win::SERVICE_DISABLED),
                          win::ERROR_ACCESS_DENIED);
        EXPECT_FAILS_WITH(queryOnly->ControlService(win::SERVICE_CONTROL_STOP, &status),
                          win::ERROR_ACCESS_DENIED);
        EXPECT_FAILS_WITH(queryOnly->ControlService(win::SERVICE_CONTROL_INTERROGATE, &status),
                          win::ERROR_ACCESS_DENIED);
    }
    {
        auto stopOnly = Open(u"Off", win::SERVICE_STOP | win::SERVICE_CHANGE_CONFIG);
        EXPECT_FAILS_WITH(stopOnly->QueryServiceStatus(&status), win::ERROR_ACCESS_DENIED);
        EXPECT_FAILS_WITH(stopOnly->StartService(), win::ERROR_ACCESS_DENIED)
            << "the right is checked before the start type";
        EXPECT_TRUE(stopOnly->ChangeServiceStartType(win::SERVICE_DEMAND_START));
        EXPECT_FAILS_WITH(stopOnly->StartService(), win::ERROR_ACCESS_DENIED);
    }
    EXPECT_EQ(StateOf(kMonitor), win::SERVICE_RUNNING);
    EXPECT_EQ(StartTypeOf(m.Machine(), kMonitor), win::SERVICE_AUTO_START);
    EXPECT_EQ(StateOf(u"Off"), win::SERVICE_STOPPED);

    // Generic rights map onto the service rights.
    auto reader = Open(kMonitor, win::GENERIC_READ);
    EXPECT_TRUE(reader->QueryServiceStatus(&status));
    EXPECT_FAILS_WITH(reader->ChangeServiceStartType(win::SERVICE_NO_CHANGE),
                      win::ERROR_ACCESS_DENIED);
    auto runner = Open(kMonitor, win::GENERIC_EXECUTE);
    EXPECT_FAILS_WITH(runner->QueryServiceStatus(&status), win::ERROR_ACCESS_DENIED);
    EXPECT_TRUE(runner->ControlService(win::SERVICE_CONTROL_STOP, &status));
    EXPECT_TRUE(runner->StartService());
    EXPECT_TRUE(
        Open(kMonitor, win::GENERIC_ALL)->ChangeServiceStartType(win::SERVICE_DEMAND_START));
    EXPECT_FAILS_WITH(Open(kMonitor, 0)->QueryServiceStatus(&status), win::ERROR_ACCESS_DENIED);

    // The access asked for is in the call log.
    m->Services().ClearCalls();
    (void)Open(u"Slow", win::SERVICE_QUERY_STATUS);
    const auto calls = m->Services().Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].function, "OpenSCManager");
    EXPECT_EQ(calls[0].argument, win::SC_MANAGER_CONNECT);
    EXPECT_EQ(calls[1].function, "OpenService");
    EXPECT_EQ(calls[1].service, u"Slow");
    EXPECT_EQ(calls[1].argument, win::SERVICE_QUERY_STATUS);
}

TEST(Services, StartAndStopWithTheirRefusals) {
    TestMachine m(PcWithServices());
    auto monitor = Open(kMonitor, win::SERVICE_ALL_ACCESS);
    platform::ServiceStatus status;
    ASSERT_TRUE(monitor->QueryServiceStatus(&status));
    EXPECT_EQ(status.serviceType, win::SERVICE_WIN32_OWN_PROCESS);
    EXPECT_EQ(status.currentState, win::SERVICE_RUNNING);
    EXPECT_EQ(status.controlsAccepted, win::SERVICE_ACCEPT_STOP);
    EXPECT_FAILS_WITH(monitor->StartService(), win::ERROR_SERVICE_ALREADY_RUNNING);

    status = {};
    ASSERT_TRUE(monitor->ControlService(win::SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(status.currentState, win::SERVICE_STOPPED) << "no stop time: stopped at once";
    EXPECT_EQ(status.controlsAccepted, 0u);
    status = {};
    EXPECT_FAILS_WITH(monitor->ControlService(win::SERVICE_CONTROL_STOP, &status),
                      win::ERROR_SERVICE_NOT_ACTIVE);
    EXPECT_EQ(status.currentState, win::SERVICE_STOPPED)
        << "the status is filled when the service is not active";
    EXPECT_EQ(status.serviceType, win::SERVICE_WIN32_OWN_PROCESS);
    EXPECT_FAILS_WITH(monitor->ControlService(win::SERVICE_CONTROL_INTERROGATE, &status),
                      win::ERROR_SERVICE_NOT_ACTIVE);
    ASSERT_TRUE(monitor->StartService());
    EXPECT_EQ(StateOf(kMonitor), win::SERVICE_RUNNING);
    EXPECT_TRUE(monitor->ControlService(win::SERVICE_CONTROL_INTERROGATE, &status));
    EXPECT_EQ(status.currentState, win::SERVICE_RUNNING);

    // Bad controls and records are refused before anything happens.
    EXPECT_FAILS_WITH(monitor->ControlService(2 /* pause */, &status),
                      win::ERROR_INVALID_PARAMETER);
    EXPECT_FAILS_WITH(monitor->ControlService(0, &status), win::ERROR_INVALID_PARAMETER);
    EXPECT_FAILS_WITH(monitor->ControlService(win::SERVICE_CONTROL_STOP, nullptr),
                      win::ERROR_INVALID_PARAMETER);
    EXPECT_FAILS_WITH(monitor->QueryServiceStatus(nullptr), win::ERROR_INVALID_PARAMETER);
    EXPECT_EQ(StateOf(kMonitor), win::SERVICE_RUNNING);

    // A disabled service does not start until its start type allows it.
    auto off = Open(u"Off", win::SERVICE_ALL_ACCESS);
    EXPECT_FAILS_WITH(off->StartService(), win::ERROR_SERVICE_DISABLED);
    EXPECT_EQ(StateOf(u"Off"), win::SERVICE_STOPPED);
    ASSERT_TRUE(off->ChangeServiceStartType(win::SERVICE_DEMAND_START));
    EXPECT_TRUE(off->StartService());
    EXPECT_EQ(StateOf(u"Off"), win::SERVICE_RUNNING);
    // Disabling a running service leaves it running.
    ASSERT_TRUE(off->ChangeServiceStartType(win::SERVICE_DISABLED));
    EXPECT_EQ(StateOf(u"Off"), win::SERVICE_RUNNING);
    EXPECT_FAILS_WITH(off->StartService(), win::ERROR_SERVICE_ALREADY_RUNNING);

    // A scripted start failure leaves the service stopped, every time.
    auto broken = Open(u"Broken", win::SERVICE_ALL_ACCESS);
    EXPECT_FAILS_WITH(broken->StartService(), win::ERROR_SERVICE_REQUEST_TIMEOUT);
    EXPECT_FAILS_WITH(broken->StartService(), win::ERROR_SERVICE_REQUEST_TIMEOUT);
    EXPECT_EQ(StateOf(u"Broken"), win::SERVICE_STOPPED);
}

TEST(Services, StartTypesForDriversAndUnknownOnesAreRefused) {
    TestMachine m(PcWithServices());
    auto s = Open(u"Slow", win::SERVICE_CHANGE_CONFIG);
    for (uint32_t refused : {win::SERVICE_BOOT_START, win::SERVICE_SYSTEM_START, 5u, 0x7FFFFFFFu}) {
        EXPECT_FAILS_WITH(s->ChangeServiceStartType(refused), win::ERROR_INVALID_PARAMETER)
            << refused;
    }
    EXPECT_EQ(StartTypeOf(m.Machine(), u"Slow"), win::SERVICE_DEMAND_START);
    for (uint32_t type :
         {win::SERVICE_AUTO_START, win::SERVICE_DISABLED, win::SERVICE_DEMAND_START}) {
        EXPECT_TRUE(s->ChangeServiceStartType(type));
        EXPECT_EQ(StartTypeOf(m.Machine(), u"Slow"), type);
    }
    ASSERT_TRUE(s->ChangeServiceStartType(win::SERVICE_DISABLED));
    EXPECT_TRUE(s->ChangeServiceStartType(win::SERVICE_NO_CHANGE));
    EXPECT_EQ(StartTypeOf(m.Machine(), u"Slow"), win::SERVICE_DISABLED)
        << "SERVICE_NO_CHANGE keeps it";
}

TEST(Services, PendingStatesAdvanceOnTheMachineClock) {
    TestMachine m(PcWithServices());
    auto slow = Open(u"Slow", win::SERVICE_ALL_ACCESS);
    platform::ServiceStatus status;
    ASSERT_TRUE(slow->StartService());
    ASSERT_TRUE(slow->QueryServiceStatus(&status));
    EXPECT_EQ(status.currentState, win::SERVICE_START_PENDING);
    EXPECT_EQ(status.controlsAccepted, 0u) << "a starting service takes no stop";
    EXPECT_EQ(status.checkPoint, 1u);
    EXPECT_EQ(status.waitHint, 5000u);
    EXPECT_FAILS_WITH(slow->StartService(), win::ERROR_SERVICE_ALREADY_RUNNING);
    status = {};
    EXPECT_FAILS_WITH(slow->ControlService(win::SERVICE_CONTROL_STOP, &status),
                      win::ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    EXPECT_EQ(status.currentState, win::SERVICE_START_PENDING)
        << "the status is filled when the control is refused";

    m->Clock().Advance(2500);
    ASSERT_TRUE(slow->QueryServiceStatus(&status));
    EXPECT_EQ(status.currentState, win::SERVICE_START_PENDING);
    EXPECT_EQ(status.checkPoint, 3u) << "the check point moves as the start goes on";
    EXPECT_EQ(status.waitHint, 2500u);
    m->Clock().Sleep(2499);
    EXPECT_EQ(StateOf(u"Slow"), win::SERVICE_START_PENDING);
    m->Clock().Sleep(1);
    ASSERT_TRUE(slow->QueryServiceStatus(&status));
    EXPECT_EQ(status.currentState, win::SERVICE_RUNNING);
    EXPECT_EQ(status.checkPoint, 0u);
    EXPECT_EQ(status.waitHint, 0u);

    ASSERT_TRUE(slow->ControlService(win::SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(status.currentState, win::SERVICE_STOP_PENDING);
    EXPECT_EQ(status.waitHint, 3000u);
    EXPECT_FAILS_WITH(slow->StartService(), win::ERROR_SERVICE_ALREADY_RUNNING)
        << "it runs until it has stopped";
    EXPECT_FAILS_WITH(slow->ControlService(win::SERVICE_CONTROL_STOP, &status),
                      win::ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    m->Clock().Advance(3000);
    EXPECT_EQ(StateOf(u"Slow"), win::SERVICE_STOPPED);
    EXPECT_EQ(m->Services().Find(u"slow")->currentState, win::SERVICE_STOPPED);
}

TEST(Services, StateIsKeptAcrossMachinesOnOneStateDirectory) {
    TempDir dir;
    const fs::path state = dir.Path() / "state";
    {
        TestMachine a(PcWithServices(), state);
        platform::ServiceStatus status;
        ASSERT_TRUE(Open(kMonitor, win::SERVICE_ALL_ACCESS)
                        ->ControlService(win::SERVICE_CONTROL_STOP, &status));
        ASSERT_TRUE(Open(u"Off", win::SERVICE_CHANGE_CONFIG)
                        ->ChangeServiceStartType(win::SERVICE_AUTO_START));
        ASSERT_TRUE(Open(u"Slow", win::SERVICE_START)->StartService());  // at the clock's start
    }
    {
        TestMachine b(PcWithServices(), state);
        EXPECT_EQ(StateOf(kMonitor), win::SERVICE_STOPPED)
            << "the profile says running, the state file wins";
        EXPECT_EQ(StartTypeOf(b.Machine(), u"Off"), win::SERVICE_AUTO_START);
        // The start began at this run's wall time: it goes on by the wall clock.
        EXPECT_EQ(StateOf(u"Slow"), win::SERVICE_START_PENDING);
        b->Clock().Advance(5000);
        EXPECT_EQ(StateOf(u"Slow"), win::SERVICE_RUNNING);
        platform::ServiceStatus status;
        ASSERT_TRUE(
            Open(u"Slow", win::SERVICE_STOP)->ControlService(win::SERVICE_CONTROL_STOP, &status));
        EXPECT_EQ(status.currentState, win::SERVICE_STOP_PENDING);
    }
    {
        // This run's clock starts before that stop began: the run that stopped it is over, and
        // so is the stop. It stays over when the clock passes the moment the stop began.
        TestMachine c(PcWithServices(), state);
        EXPECT_EQ(StateOf(u"Slow"), win::SERVICE_STOPPED);
        c->Clock().Advance(6000);
        EXPECT_EQ(StateOf(u"Slow"), win::SERVICE_STOPPED);
    }
}

TEST(Services, MachinesOpenAtOnceSeeEachOthersChanges) {
    TempDir dir;
    const fs::path state = dir.Path() / "state";
    TestMachine gui(PcWithServices(), state);
    auto guiMonitor = Open(kMonitor, win::SERVICE_ALL_ACCESS);
    {
        TestMachine cli(PcWithServices(), state);
        platform::ServiceStatus status;
        ASSERT_TRUE(Open(kMonitor, win::SERVICE_ALL_ACCESS)
                        ->ControlService(win::SERVICE_CONTROL_STOP, &status));
        ASSERT_TRUE(Open(kMonitor, win::SERVICE_ALL_ACCESS)
                        ->ChangeServiceStartType(win::SERVICE_DEMAND_START));
    }
    platform::ServiceStatus status;
    ASSERT_TRUE(guiMonitor->QueryServiceStatus(&status));
    EXPECT_EQ(status.currentState, win::SERVICE_STOPPED)
        << "the other machine's stop is seen at once";
    // A change here keeps the other machine's changes.
    ASSERT_TRUE(Open(u"Off", win::SERVICE_CHANGE_CONFIG)
                    ->ChangeServiceStartType(win::SERVICE_DEMAND_START));
    TestMachine later(PcWithServices(), state);
    EXPECT_EQ(StateOf(kMonitor), win::SERVICE_STOPPED);
    EXPECT_EQ(StartTypeOf(later.Machine(), kMonitor), win::SERVICE_DEMAND_START);
    EXPECT_EQ(StartTypeOf(later.Machine(), u"Off"), win::SERVICE_DEMAND_START);
}

TEST(Services, AChangeThatCannotBeKeptFailsAndIsNotMade) {
    TestMachine m(PcWithServices());
    // Every write of the state file fails, as on a broken disk.
    ::setenv("TARVEX_FAIL_WRITE", "EIO:services.json", 1);
    auto monitor = Open(kMonitor, win::SERVICE_ALL_ACCESS);
    platform::ServiceStatus status;
    EXPECT_FAILS_WITH(monitor->ControlService(win::SERVICE_CONTROL_STOP, &status),
                      win::ERROR_GEN_FAILURE);
    EXPECT_FAILS_WITH(monitor->ChangeServiceStartType(win::SERVICE_DISABLED),
                      win::ERROR_GEN_FAILURE);
    EXPECT_EQ(StateOf(kMonitor), win::SERVICE_RUNNING);
    EXPECT_EQ(StartTypeOf(m.Machine(), kMonitor), win::SERVICE_AUTO_START);
    EXPECT_TRUE(monitor->ChangeServiceStartType(win::SERVICE_AUTO_START))
        << "no change needs no save";
    // On a full disk the failure says so.
    ::setenv("TARVEX_FAIL_WRITE", "ENOSPC:services.json", 1);
    EXPECT_FAILS_WITH(monitor->ControlService(win::SERVICE_CONTROL_STOP, &status), win::ERROR_DISK_FULL);
    ::unsetenv("TARVEX_FAIL_WRITE");
    for (const auto& e : fs::directory_iterator(m.StateDir())) {
        EXPECT_EQ(e.path().extension() == ".tmp", false) << "left behind: " << e.path();
    }
    EXPECT_TRUE(monitor->ControlService(win::SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(StateOf(kMonitor), win::SERVICE_STOPPED);
}

TEST(Services, WorkerThreadsCanSwitchServicesTogether) {
    TestMachine m(PcWithServices());
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([] {
            for (int i = 0; i < 25; ++i) {
                auto s = Open(kMonitor, win::SERVICE_ALL_ACCESS);
                platform::ServiceStatus status;
                if (!s->ControlService(win::SERVICE_CONTROL_STOP, &status)) {
                    (void)s->StartService();
                }
                (void)s->QueryServiceStatus(&status);
            }
        });
    }
    for (std::thread& w : workers) {
        w.join();
    }
    const uint32_t state = StateOf(kMonitor);
    EXPECT_TRUE(state == win::SERVICE_RUNNING || state == win::SERVICE_STOPPED) << state;
    TestMachine reopened(PcWithServices(), m.StateDir());
    EXPECT_EQ(StateOf(kMonitor), state) << "the state file holds the last change";
}

TEST(Services, StateFileIsWrittenWhenNewAndADamagedOneStopsTheMachine) {
    TempDir dir;
    const fs::path state = dir.Path() / "state";
    { TestMachine first(PcWithServices(), state); }
    const json written = json::parse(ReadHostFile(state / "services.json"));
    ASSERT_EQ(written["services"].size(), 4u);
    EXPECT_EQ(written["services"][0]["name"], "VARNO Velmora Service");
    EXPECT_EQ(written["services"][0]["state"], "running");

    const char* damaged[] = {
        "{not json",
        R"({"version": 1, "services": [{"name": "Slow", "state": "paused", "startType": "auto"}]})",
        R"({"version": 1, "services": [{"name": "Slow", "state": "startPending", "startType": "auto"}]})",
        R"({"version": 7, "services": []})",
    };
    for (const char* text : damaged) {
        std::ofstream(state / "services.json", std::ios::trunc) << text;
        auto loaded = sim::LoadMachineProfile(PcWithServices().dump(), "test", "test.json");
        sim::SimOptions options;
        options.stateDir = state;
        options.virtualClock = true;
        std::string error;
        EXPECT_FALSE(sim::SimMachine::Create(*loaded.profile, options, &error)) << text;
        EXPECT_NE(error.find("services.json: the service state is damaged"), std::string::npos)
            << error;
    }
}

TEST(Services, ProfileErrorsNameTheField) {
    struct Case {
        json service;
        const char* expected;
    };
    const Case cases[] = {
        {{{"displayName", "x"}}, "$.services[0].name: required field is missing"},
        {{{"name", "A"}, {"colour", 1}}, "$.services[0].colour: unknown field"},
        {{{"name", ""}}, "$.services[0].name: expected 1 to 256 characters"},
        {{{"name", std::string(257, 'x')}}, "$.services[0].name: expected 1 to 256 characters"},
        {{{"name", "a/b"}}, "$.services[0].name: a service name has no '/'"},
        {{{"name", "A"}, {"startType", "manual"}},
         "$.services[0].startType: expected auto, demand or disabled"},
        {{{"name", "A"}, {"state", "paused"}}, "$.services[0].state: expected running or stopped"},
        {{{"name", "A"}, {"startSeconds", -1}},
         "$.services[0].startSeconds: expected a number from 0 to 3600"},
        {{{"name", "A"}, {"stopSeconds", "2"}}, "$.services[0].stopSeconds: expected a number"},
        {{{"name", "A"}, {"failStart", 0}},
         "$.services[0].failStart: expected an integer from 1 to 65535"},
    };
    for (const Case& c : cases) {
        json p = BaseProfile();
        p["services"] = json::array({c.service});
        auto r = sim::LoadMachineProfile(p.dump(), "test", "test.json");
        EXPECT_FALSE(r.profile) << c.service.dump();
        EXPECT_EQ(r.error.rfind("test.json: ", 0), 0u) << r.error;
        EXPECT_NE(r.error.find(c.expected), std::string::npos) << r.error;
    }
    json twice = BaseProfile();
    twice["services"] = json::array({{{"name", "Velmora"}}, {{"name", "VELMORA"}}});
    EXPECT_NE(sim::LoadMachineProfile(twice.dump(), "t", "t.json")
                  .error.find("$.services[1].name: the service"),
              std::string::npos);
    json notArray = BaseProfile();
    notArray["services"] = json::object();
    EXPECT_NE(sim::LoadMachineProfile(notArray.dump(), "t", "t.json")
                  .error.find("$.services: expected an array"),
              std::string::npos);
}

TEST(Services, DemoPcRunsTheMonitoringService) {
    const sim::EmbeddedProfile* demo = sim::FindEmbeddedProfile("demo");
    ASSERT_NE(demo, nullptr);
    auto r = sim::LoadMachineProfile(demo->text, "demo", "embedded:demo");
    ASSERT_TRUE(r.profile) << r.error;
    ASSERT_EQ(r.profile->services.size(), 1u);
    const sim::ServiceProfile& s = r.profile->services[0];
    EXPECT_EQ(s.name, kMonitor);
    EXPECT_EQ(s.startType, win::SERVICE_AUTO_START);
    EXPECT_TRUE(s.running);
}

}  // namespace
}  // namespace tarvex::test
