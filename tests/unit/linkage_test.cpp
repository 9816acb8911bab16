// The exported records and the detection of the host generation from the host's main window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/lifecycle.h"
#include "host/linkage.h"
#include "win32_standin.h"

namespace {

constexpr DWORD kOwn = 0x1234; // the stand-in's process id
constexpr DWORD kOther = 0x999;

TEST(LinkageTest, RecordsAsStored) {
    standin::Reset();
    EXPECT_EQ(Linkage.leading, 0x102u);
    EXPECT_EQ(Linkage.init, &ModuleInit);
    EXPECT_EQ(Linkage.deinit, &ModuleDeinit);
    EXPECT_EQ(Linkage.reserved12 | Linkage.reserved16 | Linkage.reserved24, 0u);
    EXPECT_EQ(Linkage.version, 0x800u);
    const uint32_t ids[kImportRowCount] = {0x0001, 0x0002, 0x000F, 0x0004, 0x505A, 0x521F, 0};
    for (int row = 0; row < kImportRowCount; ++row) {
        EXPECT_EQ(ImportTable[row].id, ids[row]) << "row " << row;
        EXPECT_EQ(ImportTable[row].pointer, nullptr) << "row " << row;
    }
}

TEST(LinkageTest, GenerationFromTheMainWindow) {
    const struct {
        std::vector<standin::Window> windows;
        int32_t generation;
        uint32_t version;
    } cases[] = {
        {{{kOwn, "FSMAIN", "Flight Simulator 2002"}}, 1, 0x800},
        {{{kOwn, "FS98MAIN", "Microsoft Flight Simulator 2004"}}, 2, 0x900},
        {{{kOwn, "FS98MAIN", "Microsoft Flight Simulator 2000"}}, 0, 0},
        {{{kOwn, "FSMAIN", "Flight Simulator 98"}}, 0, 0},
        {{{kOwn, "FSMAIN", "Sim 2004 2002"}}, 1, 0x800},
        {{{kOwn, "FSMAIN", "Sim 2004 2000"}}, 0, 0},
        {{{kOwn, "FSMAIN", "Flight Simulator2002"}}, 2, 0x900},
        {{{kOwn, "FSMAIN", "Flight Simulator 1998"}}, 2, 0x900},
        {{{kOwn, "FSMAIN", ""}}, 2, 0x900},
        {{{kOwn, "FSMAINX", "Flight Simulator 2002"}}, 0, 0},
        {{{kOwn, "fsMAIN", "Flight Simulator 2002"}}, 0, 0},
        {{{kOwn, "FSM", "Flight Simulator 2002"}}, 0, 0},
        {{{kOwn, "", "Flight Simulator 2002"}}, 0, 0}, // class name unreadable
        {{}, 0, 0},
        {{{kOther, "FSMAIN", "Flight Simulator 2002"}, {kOwn, "FSMAIN", "Flight Simulator 2004"}}, 2, 0x900},
        {{{kOwn, "FSMAIN", "Flight Simulator 2002"}, {kOwn, "FSMAIN", "Flight Simulator 2004"}}, 1, 0x800},
    };
    for (const auto& c : cases) {
        standin::Reset();
        standin::S().windows = c.windows;
        const HINSTANCE instance = reinterpret_cast<HINSTANCE>(0x10000000);
        EXPECT_EQ(DllMain(instance, DLL_PROCESS_ATTACH, nullptr), TRUE);
        std::string names;
        for (const standin::Window& window : c.windows) {
            names += "[" + window.className + " \"" + window.title + "\"]";
        }
        EXPECT_EQ(HostGeneration, c.generation) << names;
        EXPECT_EQ(Linkage.version, c.version) << names;
        EXPECT_EQ(moduleInstance, instance) << names;
    }
}

TEST(LinkageTest, OtherNotificationsOnlyRecordTheHandle) {
    standin::Reset();
    standin::S().windows = {{kOwn, "FSMAIN", "Flight Simulator 2004"}};
    for (DWORD reason : {DLL_PROCESS_DETACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH}) {
        const HINSTANCE instance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x20000000 + reason));
        EXPECT_EQ(DllMain(instance, reason, nullptr), TRUE);
        EXPECT_EQ(moduleInstance, instance) << "reason " << reason;
    }
    EXPECT_EQ(HostGeneration, 0);
    EXPECT_EQ(Linkage.version, 0x800u);
    EXPECT_TRUE(standin::CallsOf({"EnumWindows"}).empty());
}

} // namespace
