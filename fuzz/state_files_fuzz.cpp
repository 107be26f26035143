// Feeds arbitrary text to the readers of the emulated PC's state files: a drive's state
// (disks/diskN.json) and the services' state (services.json). The first byte picks the
// reader. A drive state that reads back must write and read again to the same state.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>

#include "platform/sim/devices/drive_state.h"
#include "platform/sim/services/service_state.h"

using namespace tarvex::sim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    if (data[0] % 2 == 0) {
        DriveState state;
        try {
            state = ParseDriveState(text);
        } catch (const std::exception&) {
            return 0;
        }
        if (!(ParseDriveState(DriveStateText(state)) == state)) {
            std::abort();  // what the reader accepts, the writer must keep
        }
    } else {
        try {
            (void)ParseServiceRecords(text);
        } catch (const std::exception&) {
        }
    }
    return 0;
}
