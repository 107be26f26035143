// Feeds arbitrary bytes to every decoder of drive data: IDENTIFY pages, SMART attribute and
// threshold pages, NVMe Identify Controller strings and the NVMe health log.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "device/identify_decoding.h"
#include "health/nvme_health_log.h"
#include "health/smart_attributes.h"
#include "health/smart_names.h"

using namespace tarvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PhysicalDriveInfo record = EmptyDriveRecord();
    uint8_t page[512] = {};
    std::memcpy(page, data, size < 512 ? size : 512);
    StoreSataIdentify(record, page);
    (void)SataRevisionText(record.identify);
    (void)LinkSpeedText(record);
    (void)WwnText(record.identify);
    (void)MaxLba(record.identify);
    (void)DecodeSecurityStatus(record.identify);

    const size_t rest = size > 512 ? size - 512 : 0;
    std::memcpy(record.smartData, data + (size > 512 ? 512 : 0), rest < 512 ? rest : 512);
    std::memcpy(record.smartThresholds, data + (size > 1024 ? 1024 : 0), size > 1024 ? (size - 1024 < 512 ? size - 1024 : 512) : 0);
    ParseSmartAttributes(record);
    ParseSmartThresholds(record);
    for (uint32_t i = 0; i < record.attributeCount; ++i) {
        (void)LookupSmartAttributeName(record, record.attributes[i].id);
        (void)RawValue48(record.attributes[i]);
    }
    if (record.attributeCount > 30 || record.temperature >= 100 || record.temperature < 0) {
        __builtin_trap();
    }

    std::memcpy(record.nvmeIdentify, data, size < sizeof record.nvmeIdentify ? size : sizeof record.nvmeIdentify);
    StoreNvmeIdentifyStrings(record);
    (void)DecodeNvmeHealthLog(record.smartData);
    return 0;
}
