// The number of threads this process has, from a system snapshot (-1 when none can be taken): a host
// counts them before loading the module and after unloading it, to see that no module thread was left.
#pragma once

#include "platform/win32.h"

#include <tlhelp32.h>

inline int CountOwnThreads() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return -1;
    }
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
        entry.dwSize = sizeof entry;
    }
    CloseHandle(snapshot);
    return count;
}
