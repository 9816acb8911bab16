// The two exported records, the detection of the host generation and the library entry point.
#include "host/linkage.h"

#include <cstring>

#include "log/log.h"

extern "C" {
// Read by the host after loading; only the version word is rewritten, at attach.
ModuleLinkage Linkage = {kLinkageLeadingConstant, ModuleInit, ModuleDeinit, 0, 0, kVersionGeneration1, 0};

// The host writes each pointer; the module reads them afresh at every use and never writes them.
ServiceImport ImportTable[kImportRowCount] = {
    {kServiceHook, nullptr},
    {kServiceGlobalData, nullptr},
    {kServiceVariables, nullptr},
    {kServiceOldHook, nullptr},
    {kServiceRelayPeer, nullptr},
    {kServiceRelay, nullptr},
    {0, nullptr},
};
}

// Written once at attach, before the host can call the module; read afterwards on any thread.
int32_t HostGeneration = 0;
// Recorded at every DllMain notification; read by ModuleInit.
HINSTANCE moduleInstance = nullptr;
// Written at attach, read by the start-up log.
char hostWindowClass[kWindowTextSize];
char hostWindowTitle[kWindowTextSize];

void* ServicePointer(ImportRow row) {
    // The host may fill a row from its own thread at a time of its choosing.
    return __atomic_load_n(&ImportTable[row].pointer, __ATOMIC_ACQUIRE);
}

static bool EndsWith(const char* text, const char* suffix) {
    const size_t length = std::strlen(text);
    const size_t suffixLength = std::strlen(suffix);
    return length >= suffixLength && std::strcmp(text + length - suffixLength, suffix) == 0;
}

// The generation from the main window's title: the first year found, in this order, decides.
static int32_t GenerationFromTitle(const char* title) {
    if (std::strstr(title, " 2002") != nullptr) {
        return 1;
    }
    if (std::strstr(title, " 2000") != nullptr) {
        return 0;
    }
    if (std::strstr(title, " 2004") != nullptr) {
        return 2;
    }
    if (std::strstr(title, " 98") != nullptr) {
        return 0;
    }
    return 2;
}

// Called for each top-level window; stops the enumeration at the first window of this process whose class
// is FS...MAIN.
static BOOL CALLBACK DetectionTest(HWND window, LPARAM) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != GetCurrentProcessId()) {
        return TRUE;
    }
    char text[kWindowTextSize];
    if (GetClassNameA(window, text, kWindowTextSize) <= 0) {
        return TRUE;
    }
    text[kWindowTextSize - 1] = '\0';
    if (std::strncmp(text, "FS", 2) != 0 || !EndsWith(text, "MAIN")) {
        return TRUE;
    }
    std::memcpy(hostWindowClass, text, sizeof hostWindowClass);
    // An unreadable title counts as one that names no year.
    if (GetWindowTextA(window, text, kWindowTextSize) <= 0) {
        text[0] = '\0';
    }
    text[kWindowTextSize - 1] = '\0';
    std::memcpy(hostWindowTitle, text, sizeof hostWindowTitle);
    HostGeneration = GenerationFromTitle(text);
    return FALSE;
}

void DetectHostGeneration(void) {
    EnumWindows(DetectionTest, 0);
    if (HostGeneration == 0) {
        Linkage.version = kVersionGeneration0;
    } else if (HostGeneration == 2) {
        Linkage.version = kVersionGeneration2;
    }
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    moduleInstance = instance;
    if (reason == DLL_PROCESS_ATTACH) {
        loadTick = GetTickCount();
        DetectHostGeneration();
    }
    return TRUE;
}
