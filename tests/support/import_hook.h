// Test doubles for system functions: for the life of an ImportHook, calls that the
// code under test makes through this program's import table reach the replacement.
#pragma once

#include <windows.h>

#define VELMARO_IMPORT_SLOT(function) extern "C" void* __imp_##function;

class ImportHook {
public:
    ImportHook(void** slot, void* replacement);
    ~ImportHook();
    ImportHook(const ImportHook&) = delete;
    ImportHook& operator=(const ImportHook&) = delete;

    // The system's own function, for replacements that pass calls on.
    void* Original() const { return original_; }

private:
    void** slot_;
    void* original_;
};

#define VELMARO_HOOK(function, replacement)                     \
    ImportHook hook_##function {                                \
        &__imp_##function, reinterpret_cast<void*>(replacement) \
    }
