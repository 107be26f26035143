#include <gtest/gtest.h>

#include <thread>

#include "platform/last_error.h"
#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_dialogs.h"
#include "platform/sim/sim_windows.h"
#include "platform/win32_values.h"
#include "support/test_machine.h"

namespace tarvex::sim {
namespace {

TEST(SimClock, VirtualTimeMovesOnlyWhenSomethingSleeps) {
    SimClock clock(SimClock::Kind::Virtual, 1.0, 1767225600000, 5000);
    EXPECT_EQ(clock.GetTickCount(), 5000u);
    EXPECT_EQ(clock.Time(), 1767225600);
    clock.Sleep(5000);
    std::thread worker([&] {
        for (int i = 0; i < 10; ++i) {
            clock.Sleep(1000);
        }
    });
    worker.join();
    EXPECT_EQ(clock.GetTickCount(), 20000u) << "sleeps of every thread add up";
    EXPECT_EQ(clock.Time(), 1767225615);
    EXPECT_EQ(platform::UnixMsFromFileTime(clock.GetSystemTimeAsFileTime()), 1767225615000);
    EXPECT_EQ(clock.SleepCount(), 11u);
    clock.Advance(500);
    EXPECT_EQ(clock.GetTickCount64(), 20500u);
}

TEST(SimClock, TickCountWrapsAt32Bits) {
    SimClock clock(SimClock::Kind::Virtual, 1.0, 0, 0xFFFFFF00ull);
    clock.Sleep(0x200);
    EXPECT_EQ(clock.GetTickCount(), 0x100u);
    EXPECT_EQ(clock.GetTickCount64(), 0x100000100ull);
}

TEST(SimClock, ScaledClockAgesFasterThanRealTime) {
    SimClock clock(SimClock::Kind::Scaled, 10000.0, 1767225600000, 0);
    clock.Sleep(60000);  // a minute of the PC's time, a few real milliseconds
    EXPECT_GE(clock.ElapsedMs(), 60000);
    EXPECT_GE(clock.Time(), 1767225660);
}

TEST(SimWindows, FindByTitleAndPostInOrder) {
    SimWindows windows;
    EXPECT_EQ(windows.FindWindow(u"QUELT Tarvex"), platform::kNullHwnd);
    std::vector<platform::WindowMessage> seen;
    auto main = windows.RegisterWindow(u"QUELT Tarvex", nullptr);
    auto other = windows.RegisterWindow(u"Other", [&](const platform::WindowMessage& m) { seen.push_back(m); });
    EXPECT_EQ(windows.FindWindow(u"QUELT Tarvex"), main);
    EXPECT_EQ(windows.FindWindow(u"quelt tarvex"), platform::kNullHwnd) << "titles match exactly";

    std::thread worker([&] {
        for (uintptr_t i = 0; i < 50; ++i) {
            EXPECT_TRUE(windows.PostMessage(main, win::WM_USER + 100, i, 7));
        }
    });
    worker.join();
    EXPECT_TRUE(windows.PostMessage(other, win::WM_CLOSE, 0, 0));
    auto queued = windows.TakeMessages(main);
    ASSERT_EQ(queued.size(), 50u);
    for (uintptr_t i = 0; i < 50; ++i) {
        EXPECT_EQ(queued[i].wParam, i);
    }
    EXPECT_TRUE(windows.TakeMessages(main).empty());
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].message, win::WM_CLOSE);
    EXPECT_EQ(windows.PostedMessages().size(), 51u);

    // A window posted to for hours keeps only the recent posts in the log, the newest last.
    auto sink = windows.RegisterWindow(u"Sink", [](const platform::WindowMessage&) {});
    for (uintptr_t i = 0; i < 10000; ++i) {
        ASSERT_TRUE(windows.PostMessage(sink, win::WM_USER + 100, i, 0));
    }
    const auto log = windows.PostedMessages();
    EXPECT_LE(log.size(), 4096u);
    EXPECT_GE(log.size(), 2048u);
    EXPECT_EQ(log.back().wParam, 9999u);
    EXPECT_EQ(log[log.size() - 2].wParam, 9998u) << "in order";

    windows.UnregisterWindow(main);
    EXPECT_FALSE(windows.PostMessage(main, win::WM_QUIT, 0, 0));
    EXPECT_EQ(platform::GetLastError(), win::ERROR_INVALID_WINDOW_HANDLE);
}

TEST(SimDialogs, AnswersFromScriptElseCautiously) {
    SimDialogs dialogs;
    EXPECT_EQ(dialogs.MessageBox(u"Erase?", u"QUELT Tarvex", win::MB_YESNO | win::MB_ICONQUESTION), win::IDNO);
    EXPECT_EQ(dialogs.MessageBox(u"Go on?", u"QUELT Tarvex", win::MB_OKCANCEL), win::IDCANCEL);
    EXPECT_EQ(dialogs.MessageBox(u"Done", u"QUELT Tarvex", win::MB_OK), win::IDOK);
    dialogs.QueueMessageBoxAnswer(win::IDYES);
    EXPECT_EQ(dialogs.MessageBox(u"Erase?", u"QUELT Tarvex", win::MB_YESNO), win::IDYES);
    EXPECT_FALSE(dialogs.GetOpenFileName(u"Open", u"Firmware (*.bin)|*.bin||", u"C:\\"));
    dialogs.QueueOpenFileAnswer(u"C:\\fw.bin");
    EXPECT_EQ(dialogs.GetOpenFileName(u"Open", u"*.bin", u""), u"C:\\fw.bin");
    auto shown = dialogs.ShownDialogs();
    ASSERT_EQ(shown.size(), 6u);
    EXPECT_EQ(shown[0].text, u"Erase?");
    EXPECT_EQ(shown[0].type, win::MB_YESNO | win::MB_ICONQUESTION);
    EXPECT_EQ(shown[3].answer, win::IDYES);
    EXPECT_EQ(shown[5].kind, SimDialogs::Shown::Kind::OpenFile);
}

TEST(SimSystem, VersionRecordHonoursItsSizeAndEnvironmentIgnoresCase) {
    nlohmann::json profile = test::BaseProfile();
    profile["os"]["versionInfoEx"] = false;
    profile["environment"] = {{"SYSTEMDRIVE", "D:"}};
    test::TestMachine m(profile);
    auto& system = m->System();
    platform::OsVersionInfoExW info;
    info.dwOSVersionInfoSize = platform::kOsVersionInfoExWSize;
    EXPECT_FALSE(system.GetVersionEx(&info)) << "this PC refuses the extended record";
    info.dwOSVersionInfoSize = platform::kOsVersionInfoWSize;
    ASSERT_TRUE(system.GetVersionEx(&info));
    EXPECT_EQ(info.dwMajorVersion, 6u);
    EXPECT_EQ(info.wServicePackMajor, 0u) << "the plain record has no service-pack fields";
    EXPECT_EQ(system.GetEnvironmentVariable(u"SystemDrive"), u"D:");
    EXPECT_EQ(system.GetEnvironmentVariable(u"windir"), u"C:\\Windows");
    EXPECT_FALSE(system.GetEnvironmentVariable(u"NOPE"));
    EXPECT_EQ(system.GetModuleFileName(), u"C:\\Tools\\Tarvex.exe");
    EXPECT_EQ(system.GetCommandLine(), u"\"C:\\Tools\\Tarvex.exe\"");
    EXPECT_EQ(system.ConvertDefaultLocale(0x0400), 1033u);
    EXPECT_EQ(system.ConvertDefaultLocale(0x0012), 0x0412u);
    EXPECT_EQ(system.ConvertDefaultLocale(0x0004), 0x0804u);
    EXPECT_EQ(system.ConvertDefaultLocale(0x0404), 0x0404u);
}

}  // namespace
}  // namespace tarvex::sim
