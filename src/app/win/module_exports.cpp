// The functions the program exports to other modules. In the recorder's own process the program
// is the main image and the loader has prepared it fully. A process that loads the program as a
// module may get an image that the loader only mapped: it relocates and binds images only for
// libraries, and the program's run-time start-up never runs. Mapped away from its preferred
// base (which the loading program's own image usually holds), every stored address in it is
// wrong and every import entry still names its function instead of pointing at it. So the first
// exported call finishes the loading itself, and the exported paths build what they need on
// first use instead of relying on static constructors.
//
// Until that is done no code here may use a stored address (a virtual call, a table of
// pointers) or call a system library, directly or through a compiler-generated call (memcpy and
// the like): only instruction-relative addresses and plain loops over the image.
#include <windows.h>

#include <winternl.h>

#include <atomic>
#include <cstdint>

#include "effects/effect_registry.h"

using namespace qm;

namespace {

using GetProcAddressFn = FARPROC(WINAPI*)(HMODULE, LPCSTR);
using LoadLibraryAFn = HMODULE(WINAPI*)(LPCSTR);
using VirtualProtectFn = BOOL(WINAPI*)(LPVOID, SIZE_T, DWORD, PDWORD);

const BYTE* Rva(const void* base, DWORD rva) {
    return static_cast<const BYTE*>(base) + rva;
}

const IMAGE_DATA_DIRECTORY& Directory(const void* base, int index) {
    const auto* dos = static_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(Rva(base, dos->e_lfanew));
    return nt->OptionalHeader.DataDirectory[index];
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const char* a, const char* b) {
    for (; *a != '\0' && *a == *b; ++a, ++b) {
    }
    return *a == *b;
}

// True when the loaded module's file name (after its last backslash) is `name`, in any case.
bool ModuleNamed(const UNICODE_STRING& path, const char* name) {
    const USHORT length = path.Length / sizeof(wchar_t);
    USHORT start = length;
    while (start > 0 && path.Buffer[start - 1] != L'\\')
        --start;
    for (USHORT i = start; i < length; ++i, ++name) {
        if (*name == '\0' || path.Buffer[i] > 0x7F ||
            Lower(static_cast<char>(path.Buffer[i])) != *name)
            return false;
    }
    return *name == '\0';
}

// kernel32's GetProcAddress, found through the process's list of loaded modules and the
// module's export table: the one function needed to look up every other.
GetProcAddressFn FindGetProcAddress(HMODULE& kernel32) {
    // The thread's environment block holds the process's at offset 0x60 (x64).
    const PEB* peb = nullptr;
    asm("movq %%gs:0x60, %0" : "=r"(peb));
    const LIST_ENTRY* head = &peb->Ldr->InMemoryOrderModuleList;
    kernel32 = nullptr;
    for (const LIST_ENTRY* link = head->Flink; link != head && !kernel32; link = link->Flink) {
        const auto* entry = CONTAINING_RECORD(link, LDR_DATA_TABLE_ENTRY, InMemoryOrderLinks);
        if (ModuleNamed(entry->FullDllName, "kernel32.dll"))
            kernel32 = static_cast<HMODULE>(entry->DllBase);
    }
    if (!kernel32)
        return nullptr;
    const IMAGE_DATA_DIRECTORY& dir = Directory(kernel32, IMAGE_DIRECTORY_ENTRY_EXPORT);
    const auto* exports =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(Rva(kernel32, dir.VirtualAddress));
    const auto* names = reinterpret_cast<const DWORD*>(Rva(kernel32, exports->AddressOfNames));
    const auto* ordinals =
        reinterpret_cast<const WORD*>(Rva(kernel32, exports->AddressOfNameOrdinals));
    const auto* functions =
        reinterpret_cast<const DWORD*>(Rva(kernel32, exports->AddressOfFunctions));
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        if (!SameName(reinterpret_cast<const char*>(Rva(kernel32, names[i])), "GetProcAddress"))
            continue;
        const DWORD function = functions[ordinals[i]];
        // A forwarded entry names another module's function instead of holding code.
        if (function >= dir.VirtualAddress && function < dir.VirtualAddress + dir.Size)
            return nullptr;
        return reinterpret_cast<GetProcAddressFn>(
            reinterpret_cast<void*>(const_cast<BYTE*>(Rva(kernel32, function))));
    }
    return nullptr;
}

struct SystemCalls {
    GetProcAddressFn getProc = nullptr;
    LoadLibraryAFn loadLibrary = nullptr;
    VirtualProtectFn protect = nullptr;
};

bool FindSystemCalls(SystemCalls& calls) {
    HMODULE kernel32 = nullptr;
    calls.getProc = FindGetProcAddress(kernel32);
    if (!calls.getProc)
        return false;
    calls.loadLibrary = reinterpret_cast<LoadLibraryAFn>(
        reinterpret_cast<void*>(calls.getProc(kernel32, "LoadLibraryA")));
    calls.protect = reinterpret_cast<VirtualProtectFn>(
        reinterpret_cast<void*>(calls.getProc(kernel32, "VirtualProtect")));
    return calls.loadLibrary && calls.protect;
}

// A word that holds its own address as the linker laid the image out; a loader that relocates
// the image corrects it with everything else.
const void* const kRelocationProbe = &kRelocationProbe;

// How far the image lies from where its stored addresses say: 0 once relocated.
ptrdiff_t RelocationDelta() {
    const void* stored = *static_cast<const void* const volatile*>(&kRelocationProbe);
    return reinterpret_cast<const BYTE*>(&kRelocationProbe) - static_cast<const BYTE*>(stored);
}

constexpr SIZE_T kPage = 0x1000;

// Applies the image's base relocations, as the loader does for a library.
bool Relocate(BYTE* self, ptrdiff_t delta, const SystemCalls& calls) {
    const IMAGE_DATA_DIRECTORY& dir = Directory(self, IMAGE_DIRECTORY_ENTRY_BASERELOC);
    if (dir.VirtualAddress == 0 || dir.Size == 0)
        return false;  // linked without relocations: it cannot live anywhere else
    const BYTE* block = self + dir.VirtualAddress;
    const BYTE* const end = block + dir.Size;
    while (block + sizeof(IMAGE_BASE_RELOCATION) <= end) {
        const auto* header = reinterpret_cast<const IMAGE_BASE_RELOCATION*>(block);
        if (header->SizeOfBlock < sizeof(IMAGE_BASE_RELOCATION) ||
            block + header->SizeOfBlock > end)
            return false;
        BYTE* page = self + header->VirtualAddress;
        const auto* entries = reinterpret_cast<const WORD*>(header + 1);
        const DWORD count = (header->SizeOfBlock - sizeof(IMAGE_BASE_RELOCATION)) / sizeof(WORD);
        // One block per page; the page keeps its own protection afterwards.
        DWORD oldProtection = 0;
        if (!calls.protect(page, kPage, PAGE_EXECUTE_READWRITE, &oldProtection))
            return false;
        bool known = true;
        for (DWORD i = 0; i < count && known; ++i) {
            const int type = entries[i] >> 12;
            const DWORD offset = entries[i] & 0xFFF;
            if (type == IMAGE_REL_BASED_DIR64 && offset <= kPage - sizeof(ULONGLONG))
                *reinterpret_cast<ULONGLONG*>(page + offset) += delta;
            else
                known = type == IMAGE_REL_BASED_ABSOLUTE;
        }
        calls.protect(page, kPage, oldProtection, &oldProtection);
        if (!known)
            return false;
        block += header->SizeOfBlock;
    }
    return true;
}

// Whether the loader left this import table holding name references.
bool Unbound(const BYTE* self, const IMAGE_IMPORT_DESCRIPTOR& d) {
    if (d.OriginalFirstThunk == 0)
        return false;  // nothing to tell by
    const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(self + d.OriginalFirstThunk);
    const auto* slots = reinterpret_cast<const IMAGE_THUNK_DATA*>(self + d.FirstThunk);
    return names->u1.AddressOfData != 0 && slots->u1.Function == names->u1.AddressOfData;
}

// Fills every import table that still holds name references, as the loader does for a library.
bool BindImports(BYTE* self, const SystemCalls& calls) {
    const IMAGE_DATA_DIRECTORY& dir = Directory(self, IMAGE_DIRECTORY_ENTRY_IMPORT);
    if (dir.VirtualAddress == 0)
        return true;
    for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(self + dir.VirtualAddress);
         d->Name != 0; ++d) {
        if (!Unbound(self, *d))
            continue;
        const HMODULE library = calls.loadLibrary(reinterpret_cast<const char*>(self + d->Name));
        if (!library)
            return false;
        const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(self + d->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(self + d->FirstThunk);
        SIZE_T count = 0;
        while (names[count].u1.AddressOfData != 0)
            ++count;
        DWORD oldProtection = 0;
        if (!calls.protect(slots, count * sizeof(*slots), PAGE_READWRITE, &oldProtection))
            return false;
        bool found = true;
        for (SIZE_T i = 0; i < count; ++i) {
            const ULONGLONG entry = names[i].u1.AddressOfData;
            const char* name =
                IMAGE_SNAP_BY_ORDINAL(entry)
                    ? reinterpret_cast<const char*>(static_cast<ULONG_PTR>(IMAGE_ORDINAL(entry)))
                    : reinterpret_cast<const char*>(
                          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(self + entry)->Name);
            const FARPROC function = calls.getProc(library, name);
            found = found && function != nullptr;
            slots[i].u1.Function = reinterpret_cast<ULONG_PTR>(function);
        }
        calls.protect(slots, count * sizeof(*slots), oldProtection, &oldProtection);
        if (!found)
            return false;
    }
    return true;
}

bool FinishLoading() {
    // The linker's __ImageBase is itself a stored address: only an instruction-relative
    // reference finds where the image really lies.
    BYTE* self = nullptr;
    asm("leaq __ImageBase(%%rip), %0" : "=r"(self));
    const ptrdiff_t delta = RelocationDelta();
    const auto* first = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
        self + Directory(self, IMAGE_DIRECTORY_ENTRY_IMPORT).VirtualAddress);
    if (delta == 0 && !Unbound(self, *first))
        return true;  // the loader did it all: the program's own process
    SystemCalls calls;
    if (!FindSystemCalls(calls))
        return false;
    return (delta == 0 || Relocate(self, delta, calls)) && BindImports(self, calls);
}

// Once per process; a caller that arrives while another thread finishes the loading waits for
// it (without any system call: none may be reachable yet).
bool ImageReady() {
    enum : int { kMapped, kLoading, kReady, kFailed };
    static std::atomic<int> state{kMapped};
    int seen = kMapped;
    if (state.compare_exchange_strong(seen, kLoading)) {
        seen = FinishLoading() ? kReady : kFailed;
        state.store(seen);
    }
    while (seen == kLoading)
        seen = state.load();
    return seen == kReady;
}

}  // namespace

// Exported as EnumEffect: the registry's enumeration, reachable from a process that loaded the
// program as a module. When the image cannot be made ready nothing is handed out (count 0).
extern "C" int ModuleEnumEffect(VoiceEffect** effects, uint32_t* count) {
    if (!ImageReady()) {
        if (count)
            *count = 0;
        return 0;
    }
    return EnumEffect(effects, count);
}
