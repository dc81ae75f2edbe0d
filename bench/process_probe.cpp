// Prints what Windows reports of a running program's resources:
//   process_probe NAME.exe  ->  handles=N gdi=N user=N
// Handles are -1 where the system cannot list them; the rest are 0 where it does not
// keep count (as Wine does for GDI and USER objects).
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

DWORD FindProcess(const char* name) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    DWORD found = 0;
    for (BOOL more = Process32First(snapshot, &entry); more && found == 0; more = Process32Next(snapshot, &entry))
        if (_stricmp(entry.szExeFile, name) == 0) found = entry.th32ProcessID;
    CloseHandle(snapshot);
    return found;
}

// Handles the process holds, counted in the system's handle list: the process's own
// count is not reported by every system.
long long CountHandles(DWORD id) {
    struct Entry {
        ULONG ownerPid;
        BYTE objectType, flags;
        USHORT value;
        PVOID object;
        ACCESS_MASK access;
    };
    struct Table {
        ULONG count;
        Entry entries[1];
    };
    using Query = LONG(WINAPI*)(int, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<Query>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    constexpr int kSystemHandleInformation = 16;
    std::vector<BYTE> buffer(1 << 16);
    for (;;) {
        ULONG needed = 0;
        const LONG status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == 0) break;
        if (status != static_cast<LONG>(0xC0000004) || buffer.size() > (1u << 26))
            return -1;  // STATUS_INFO_LENGTH_MISMATCH
        buffer.resize(buffer.size() * 2);
    }
    const auto* table = reinterpret_cast<const Table*>(buffer.data());
    long long count = 0;
    for (ULONG i = 0; i < table->count; ++i) count += table->entries[i].ownerPid == id;
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const DWORD id = FindProcess(argv[1]);
    HANDLE process = id != 0 ? OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, id) : nullptr;
    if (process == nullptr) {
        std::printf("no process %s\n", argv[1]);
        return 1;
    }
    const long long handleCount = CountHandles(id);
    std::printf("handles=%lld gdi=%lu user=%lu\n", handleCount, GetGuiResources(process, GR_GDIOBJECTS),
                GetGuiResources(process, GR_USEROBJECTS));
    CloseHandle(process);
    return 0;
}
