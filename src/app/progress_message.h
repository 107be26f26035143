#pragma once
// The progress message that every background worker posts to the main window, and the main
// window's rule for passing it on to the page that started the work.
//
// wParam: the low byte is the code; for PROGRESSING the bits 16..31 carry the percentage
// (0..100). lParam: the address of the posting worker's thread data, which outlives the
// worker until its END has been handled.
#include <cstdint>
#include <optional>

namespace tarvex {

inline constexpr uint32_t KORVANEMSG_PROGRESS = 0x0465;  // WM_USER + 0x65

inline constexpr int KORVANEMSG_WPARAM_PROGRESSSTART = 1;
inline constexpr int KORVANEMSG_WPARAM_PROGRESSING = 2;
inline constexpr int KORVANEMSG_WPARAM_PROGRESSEND = 3;

// The title under which the workers look up the main window.
inline constexpr char16_t kMainWindowTitle[] = u"QUELT Tarvex";

// The kinds of background operation that BusyOperation holds.
enum OperationKind : int {
    kOperationNone = 0,
    kOperationQuickScan = 1,
    kOperationFullScan = 2,
    kOperationServiceStop = 3,
    kOperationSecurityErase = 4,
    kOperationAtaStatistics = 5,
    kOperationTrim = 6,
};

// The pages of the main window, in the property sheet's order.
enum PageIndex : int {
    kPageDriveInfo = 0,
    kPageDiagnostics = 1,
    kPageUtilities = 2,
    kPageSystemOptimization = 3,
    kPageSystemInfo = 4,
    kPageAtaCommandSummary = 5,
};

inline constexpr uintptr_t ProgressWParam(int code, int percentage = 0) {
    return static_cast<uintptr_t>((static_cast<uint32_t>(percentage) & 0xFFFF) << 16 |
                                  (static_cast<uint32_t>(code) & 0xFF));
}
inline constexpr int ProgressCode(uintptr_t wParam) { return static_cast<int>(wParam & 0xFF); }
inline constexpr int ProgressPercentage(uintptr_t wParam) { return static_cast<int>((wParam >> 16) & 0xFFFF); }

// The page that reads the operation kind from the thread data when `currentPage` is active:
// the Diagnostics, Utilities and ATA Command Summary pages define a record; others give none.
bool PageDefinesThreadData(int currentPage);

// Where one progress message goes. `kind` is the operation kind read from the thread data
// (0 when the current page defines no record); `result` is the END result word. Nothing
// when the message is dropped: unknown codes, a kind whose page is not current, and
// PROGRESSING of the service stop.
struct ProgressForward {
    int page;
    int code;
    int value;  // 0 for START, the percentage for PROGRESSING, the result for END
};
std::optional<ProgressForward> RouteProgress(int currentPage, int kind, uintptr_t wParam, int result);

}  // namespace tarvex
