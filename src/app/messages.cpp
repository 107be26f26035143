#include "app/messages.h"

#include "app/string_table.h"
#include "platform/platform.h"

namespace tarvex {

int ShowMessage(std::u16string_view text, uint32_t type) {
    return platform::Current().dialogs->MessageBox(text, kApplicationCaption, type);
}

int ShowResourceMessage(int stringId, uint32_t type) { return ShowMessage(LoadResourceString(stringId), type); }

void ShowBusyRefusal() { (void)ShowResourceMessage(kStringBusyRefusal); }

}  // namespace tarvex
