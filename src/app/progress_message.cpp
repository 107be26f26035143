#include "app/progress_message.h"

namespace tarvex {

bool PageDefinesThreadData(int currentPage) {
    return currentPage == kPageDiagnostics || currentPage == kPageUtilities ||
           currentPage == kPageAtaCommandSummary;
}

std::optional<ProgressForward> RouteProgress(int currentPage, int kind, uintptr_t wParam, int result) {
    const int code = ProgressCode(wParam);
    int value = 0;
    switch (code) {
        case KORVANEMSG_WPARAM_PROGRESSSTART: value = 0; break;
        case KORVANEMSG_WPARAM_PROGRESSING: value = ProgressPercentage(wParam); break;
        case KORVANEMSG_WPARAM_PROGRESSEND: value = result; break;
        default: return std::nullopt;
    }
    if (!PageDefinesThreadData(currentPage)) {
        return std::nullopt;
    }
    int page = -1;
    switch (kind) {
        case kOperationQuickScan:
        case kOperationFullScan: page = kPageDiagnostics; break;
        case kOperationServiceStop:
            if (code == KORVANEMSG_WPARAM_PROGRESSING) {
                return std::nullopt;
            }
            page = kPageDiagnostics;
            break;
        case kOperationSecurityErase: page = kPageUtilities; break;
        case kOperationAtaStatistics: page = kPageAtaCommandSummary; break;
        default: return std::nullopt;
    }
    if (page != currentPage) {
        return std::nullopt;
    }
    return ProgressForward{page, code, value};
}

}  // namespace tarvex
