#include "tests/support/import_hook.h"

namespace {

void WriteSlot(void** slot, void* value) {
    DWORD oldProtection = 0;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &oldProtection);
    *slot = value;
    VirtualProtect(slot, sizeof *slot, oldProtection, &oldProtection);
}

}  // namespace

ImportHook::ImportHook(void** slot, void* replacement) : slot_(slot), original_(*slot) {
    WriteSlot(slot_, replacement);
}

ImportHook::~ImportHook() {
    WriteSlot(slot_, original_);
}
