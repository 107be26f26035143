#pragma once
// The device-tree re-enumeration of the main window's Refresh on Windows XP, where a disk
// attached while the PC runs stays unseen until the tree is enumerated again.

namespace tarvex {

// Loads "cfgmgr32.dll", locates the root device node (no device id, flags 0) and re-enumerates
// it (flags 0). True when both calls returned CR_SUCCESS. The library is freed in every case.
[[nodiscard]] bool ReenumerateDeviceTree();

}  // namespace tarvex
