// The records and service tables shared with the host, as the host lays them out. The module and our own
// stand-in host both use these definitions; on the 32-bit target every address is the 32-bit word the host
// reads or writes, natively it is pointer-sized (the unit tests then use the same offsets scaled to it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/win32.h"

// Service ids of the ImportTable rows, in row order.
constexpr uint32_t kServiceHook = 0x0001;       // hook service: entries 270/271
constexpr uint32_t kServiceGlobalData = 0x0002; // the host's global data block
constexpr uint32_t kServiceVariables = 0x000F;  // variable service: entries 38/40
constexpr uint32_t kServiceOldHook = 0x0004;    // older hook service: entries 6/7
constexpr uint32_t kServiceRelayPeer = 0x505A;  // requested only, never read
constexpr uint32_t kServiceRelay = 0x521F;      // relay output record

enum ImportRow {
    kRowHook,
    kRowGlobalData,
    kRowVariables,
    kRowOldHook,
    kRowRelayPeer,
    kRowRelay,
    kRowEnd,
    kImportRowCount
};

// Entries of the host's function tables, numbered from 0.
constexpr int kHookRegisterEntry = 270;
constexpr int kHookRemoveEntry = 271;
constexpr int kOldHookRegisterEntry = 6;
constexpr int kOldHookRemoveEntry = 7;
constexpr int kVariableRegisterEntry = 38;
constexpr int kVariableReadEntry = 40;
constexpr DWORD kHookRegistrationConstant = 2; // first argument of every hook (un)registration

// Byte offsets of the two words the sampler reads from the global data block.
constexpr size_t kGroundSpeedWordOffset = 0x2B4; // unsigned, 1/65536 m/s
constexpr size_t kReadyWordOffset = 0x11D4;      // generation 0 samples only while non-zero

// The relay output record: a flags word and the address of the send entry.
constexpr size_t kRelayFlagsOffset = 12;
constexpr size_t kRelaySendOffset = 28;
constexpr uint32_t kRelayAcceptsOutput = 0x1;

constexpr uint32_t kLinkageLeadingConstant = 0x102;
constexpr uint32_t kVersionGeneration0 = 0;
constexpr uint32_t kVersionGeneration1 = 0x800; // as stored
constexpr uint32_t kVersionGeneration2 = 0x900;

typedef UINT_PTR(WINAPI* ModuleInitEntry)(void);
typedef void(WINAPI* ModuleDeinitEntry)(void);
typedef void(WINAPI* FrameHookEntry)(DWORD, DWORD);
typedef void(WINAPI* HookServiceEntry)(DWORD constant2, FrameHookEntry hook);
typedef void(WINAPI* RelaySendEntry)(DWORD one, const char* text, DWORD length);

// Exported as Linkage: seven 32-bit words on the target.
struct ModuleLinkage {
    uint32_t leading; // 0x102
    ModuleInitEntry init;
    ModuleDeinitEntry deinit;
    uint32_t reserved12;
    uint32_t reserved16;
    uint32_t version; // 0, 0x800 or 0x900 by host generation
    uint32_t reserved24;
};

// One row of the exported ImportTable: a service id and the pointer the host writes.
struct ServiceImport {
    uint32_t id;
    void* pointer;
};

// One request shared with the variable service; 4-byte packing puts the value at byte 12.
#pragma pack(push, 4)
struct HostVariableRequest {
    uint32_t id;
    uint32_t reserved4[2];
    double value;
    uint32_t reserved20[2];
};
#pragma pack(pop)

typedef void(WINAPI* VariableServiceEntry)(HostVariableRequest* request);

static_assert(sizeof(HostVariableRequest) == 28, "host variable request is 28 bytes");
static_assert(offsetof(HostVariableRequest, value) == 12, "value field at byte 12");
#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(ModuleLinkage) == 28, "Linkage is seven 32-bit words");
static_assert(offsetof(ModuleLinkage, version) == 20, "version word at byte 20");
static_assert(sizeof(ServiceImport) == 8, "an import row is two 32-bit words");
#endif

// Entry n of a host function table: the address-sized word at n times the address size.
inline uintptr_t HostTableEntry(const void* table, int entry) {
    uintptr_t address;
    std::memcpy(&address,
                static_cast<const unsigned char*>(table) + static_cast<size_t>(entry) * sizeof address,
                sizeof address);
    return address;
}

// A 32-bit word at a byte offset of a host record.
inline uint32_t HostWord(const void* record, size_t offset) {
    uint32_t word;
    std::memcpy(&word, static_cast<const unsigned char*>(record) + offset, sizeof word);
    return word;
}
