#include "health/drive_info_figures.h"

#include <algorithm>

#include <fmt/format.h>

#include "device/ata_command.h"
#include "platform/text.h"

namespace tarvex {

DriveInfoFigures ComputeDriveInfoFigures(const PhysicalDriveInfo& record) {
    ATACommand ata;
    DriveInfoFigures f;
    const std::u16string_view model = platform::FixedText(record.modelNumber);
    auto contains = [&](std::u16string_view text) { return model.find(text) != std::u16string_view::npos; };

    f.status = ata.CheckDiskStatus(record);

    // Only the maker's drives show their host writes.
    f.totalWrittenText = u"N/A";
    if (contains(u"VARNO")) {
        f.totalWrittenGiB = ata.GetTotalBytesWritten(record);
        if (f.totalWrittenGiB >= 0) {
            f.totalWrittenText = platform::Utf8ToUtf16(fmt::format("{:.2f}TB", static_cast<double>(f.totalWrittenGiB) / 1024.0));
        }
    }

    f.temperature = ata.GetDriveTemperature(record);
    f.temperatureText = f.temperature == TemperatureUnavailable
                            ? std::u16string(u"N/A")
                            : platform::Utf8ToUtf16(fmt::format("{} \u00B0C", f.temperature));
    f.temperatureState = f.temperature < 31 ? 0 : (f.temperature >= 71 ? 2 : 1);

    f.healthIconState = (f.status == 1 || contains(u"TL40") || contains(u"NZ90Q")) ? 0 : 1;

    const bool makerLife = model.substr(0, 5) == u"VARNO" && !contains(u"RB54");
    f.remainingLife = std::clamp<int>(makerLife ? ata.GetRemainingLife(record) : 100, 0, 100);
    return f;
}

}  // namespace tarvex
