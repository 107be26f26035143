// The named mutexes of the emulated PC: seen by every program on one PC, gone with the last
// program that holds them however it ends, and made by exactly one of programs starting at
// once. Two objects on one folder stand for two processes (each entry is locked through its
// own file description, as another process's would be); forked children are real ones.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "platform/sim/sim_kernel_objects.h"
#include "platform/text.h"
#include "platform/win32_values.h"
#include "support/test_machine.h"

namespace tarvex::test {
namespace {

using platform::GetLastError;
using platform::kNullHandle;
using platform::SetLastError;

constexpr char16_t kName[] = u"QUELT Tarvex";

int Reap(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The last error CreateMutex left, with the handle closed again.
uint32_t CreateAndClose(sim::SimKernelObjects& objects, std::u16string_view name) {
    SetLastError(77);
    const auto h = objects.CreateMutex(name);
    const uint32_t error = GetLastError();
    if (h != kNullHandle) {
        EXPECT_TRUE(objects.CloseHandle(h));
    }
    return error;
}

TEST(SimMutexes, ASecondProgramFindsTheMutexUntilTheLastHandleCloses) {
    TempDir dir;
    sim::SimKernelObjects gui(dir.Path());
    sim::SimKernelObjects other(dir.Path());

    EXPECT_EQ(other.OpenMutex(kName), kNullHandle);
    EXPECT_EQ(GetLastError(), win::ERROR_FILE_NOT_FOUND);
    SetLastError(77);
    const auto first = gui.CreateMutex(kName);
    ASSERT_NE(first, kNullHandle);
    EXPECT_EQ(GetLastError(), win::ERROR_SUCCESS) << "made: the last error is cleared";

    SetLastError(0);
    const auto second = other.CreateMutex(kName);
    ASSERT_NE(second, kNullHandle) << "an existing mutex still gives a handle";
    EXPECT_EQ(GetLastError(), win::ERROR_ALREADY_EXISTS);
    EXPECT_NE(second, first);
    EXPECT_EQ(CreateAndClose(gui, kName), win::ERROR_ALREADY_EXISTS) << "in the same process too";
    const auto opened = other.OpenMutex(kName);
    EXPECT_NE(opened, kNullHandle);

    // The mutex lasts while any handle anywhere is open.
    EXPECT_TRUE(gui.CloseHandle(first));
    EXPECT_EQ(CreateAndClose(gui, kName), win::ERROR_ALREADY_EXISTS) << "the other program still holds it";
    EXPECT_TRUE(other.CloseHandle(second));
    EXPECT_NE(gui.OpenMutex(kName), kNullHandle) << "one handle of the other program is left";
    EXPECT_TRUE(other.CloseHandle(opened));
    EXPECT_FALSE(other.CloseHandle(opened));
    EXPECT_EQ(GetLastError(), win::ERROR_INVALID_HANDLE);
    EXPECT_EQ(gui.OpenMutexNames().size(), 1u) << "the handle the last OpenMutex gave";

    // A program that ends closes its handles.
    {
        sim::SimKernelObjects ending(dir.Path());
        ASSERT_NE(ending.CreateMutex(u"Ending"), kNullHandle);
        ASSERT_NE(ending.CreateMutex(u"Ending"), kNullHandle);
        EXPECT_EQ(CreateAndClose(other, u"Ending"), win::ERROR_ALREADY_EXISTS);
    }
    EXPECT_EQ(other.OpenMutex(u"Ending"), kNullHandle);
    EXPECT_EQ(GetLastError(), win::ERROR_FILE_NOT_FOUND);
}

TEST(SimMutexes, NamesCompareExactlyWithinTheirNamespace) {
    TempDir dir;
    sim::SimKernelObjects holder(dir.Path());
    sim::SimKernelObjects probe(dir.Path());
    ASSERT_NE(holder.CreateMutex(kName), kNullHandle);

    EXPECT_EQ(CreateAndClose(probe, u"quelt tarvex"), win::ERROR_SUCCESS) << "case counts";
    EXPECT_EQ(CreateAndClose(probe, u"QUELT Tarvex "), win::ERROR_SUCCESS);
    EXPECT_EQ(CreateAndClose(probe, u"Local\\QUELT Tarvex"), win::ERROR_ALREADY_EXISTS) << "the session's name";
    EXPECT_EQ(CreateAndClose(probe, u"Global\\QUELT Tarvex"), win::ERROR_SUCCESS) << "another namespace";
    ASSERT_NE(holder.CreateMutex(u"Global\\Shared"), kNullHandle);
    EXPECT_EQ(CreateAndClose(probe, u"global\\Shared"), win::ERROR_ALREADY_EXISTS) << "the prefix ignores case";
    EXPECT_EQ(CreateAndClose(probe, u"Shared"), win::ERROR_SUCCESS);

    // Names Windows refuses give no handle.
    const std::u16string longest(win::MAX_PATH, u'm');
    EXPECT_EQ(CreateAndClose(probe, longest), win::ERROR_SUCCESS);
    struct Refused {
        std::u16string name;
        uint32_t error;
    };
    for (const Refused& r : {Refused{longest + u"m", win::ERROR_FILENAME_EXCED_RANGE},
                             Refused{u"A\\B", win::ERROR_PATH_NOT_FOUND},
                             Refused{u"Local\\A\\B", win::ERROR_PATH_NOT_FOUND},
                             Refused{u"Local\\", win::ERROR_INVALID_NAME},
                             Refused{u"Global\\", win::ERROR_INVALID_NAME}}) {
        SetLastError(0);
        EXPECT_EQ(probe.CreateMutex(r.name), kNullHandle) << platform::Utf16ToUtf8(r.name);
        EXPECT_EQ(GetLastError(), r.error) << platform::Utf16ToUtf8(r.name);
        EXPECT_EQ(probe.OpenMutex(r.name), kNullHandle);
    }
    EXPECT_EQ(probe.OpenMutex(u""), kNullHandle);
    EXPECT_EQ(GetLastError(), win::ERROR_INVALID_NAME);

    // Unnamed mutexes are each their own.
    SetLastError(77);
    const auto a = probe.CreateMutex(u"");
    EXPECT_EQ(GetLastError(), win::ERROR_SUCCESS);
    const auto b = probe.CreateMutex(u"");
    EXPECT_EQ(GetLastError(), win::ERROR_SUCCESS);
    EXPECT_NE(a, kNullHandle);
    EXPECT_NE(a, b);
    EXPECT_EQ(probe.OpenMutexNames(), (std::vector<std::u16string>{u"", u""}));
}

TEST(SimMutexes, AMutexGoesWithItsProcessHoweverItEnds) {
    TempDir dir;
    for (int signal : {SIGTERM, SIGKILL}) {
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            sim::SimKernelObjects objects(dir.Path());
            SetLastError(77);
            const bool made = objects.CreateMutex(kName) != kNullHandle && GetLastError() == 0;
            char c = made ? 'y' : 'n';
            (void)::write(ready[1], &c, 1);
            ::pause();  // until killed
            ::_exit(0);
        }
        char c = 0;
        ASSERT_EQ(::read(ready[0], &c, 1), 1);
        ASSERT_EQ(c, 'y');
        sim::SimKernelObjects here(dir.Path());
        EXPECT_EQ(CreateAndClose(here, kName), win::ERROR_ALREADY_EXISTS) << "alive: it holds the mutex";
        ::kill(child, signal);
        EXPECT_EQ(Reap(child), 128 + signal);
        ::close(ready[0]);
        ::close(ready[1]);
        EXPECT_EQ(here.OpenMutex(kName), kNullHandle) << "ended without closing: gone";
        EXPECT_EQ(GetLastError(), win::ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(CreateAndClose(here, kName), win::ERROR_SUCCESS) << "made afresh";
    }
}

TEST(SimMutexes, OfProgramsStartingAtOnceExactlyOneMakesTheMutex) {
    TempDir dir;
    for (int round = 0; round < 3; ++round) {
        int go[2];
        int results[2];
        ASSERT_EQ(::pipe(go), 0);
        ASSERT_EQ(::pipe(results), 0);
        std::vector<pid_t> children;
        for (int i = 0; i < 4; ++i) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::close(go[1]);
                sim::SimKernelObjects objects(dir.Path());
                char c = 0;
                (void)::read(go[0], &c, 1);  // everyone starts when the parent closes the pipe
                SetLastError(77);
                const auto h = objects.CreateMutex(kName);
                c = h == kNullHandle ? '!' : GetLastError() == 0 ? 'y' : GetLastError() == 183 ? 'n' : '?';
                (void)::write(results[1], &c, 1);
                ::pause();
                ::_exit(0);
            }
            children.push_back(pid);
        }
        ::close(go[0]);
        ::close(go[1]);
        std::string seen;
        for (int i = 0; i < 4; ++i) {
            char c = 0;
            ASSERT_EQ(::read(results[0], &c, 1), 1);
            seen += c;
        }
        std::sort(seen.begin(), seen.end());
        EXPECT_EQ(seen, "nnny") << "round " << round;
        for (pid_t p : children) {
            ::kill(p, SIGKILL);
            Reap(p);
        }
        ::close(results[0]);
        ::close(results[1]);
    }
}

TEST(SimMutexes, EachStateDirectoryIsItsOwnPc) {
    TestMachine office;
    TestMachine lab;
    ASSERT_EQ(platform::Current().kernelObjects, &lab->KernelObjects()) << "the installed machine's mutexes";
    ASSERT_NE(office->KernelObjects().CreateMutex(kName), kNullHandle);
    EXPECT_EQ(lab->KernelObjects().OpenMutex(kName), kNullHandle) << "another PC";
    EXPECT_EQ(CreateAndClose(lab->KernelObjects(), kName), win::ERROR_SUCCESS);

    // A second program on the office PC sees it.
    TestMachine officeAgain(BaseProfile(), office.StateDir());
    EXPECT_EQ(CreateAndClose(officeAgain->KernelObjects(), kName), win::ERROR_ALREADY_EXISTS);
}

}  // namespace
}  // namespace tarvex::test
