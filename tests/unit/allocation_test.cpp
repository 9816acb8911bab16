// Nothing allocates after start-up: every heap allocation in this executable is counted while the module
// runs its frames, samples, composes, writes and shuts down. The C allocator is interposed (forwarding to
// glibc's own entry points), so operator new and the C library are seen too; the plain native build only
// (the sanitizers and the Windows runtime bring allocators of their own).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "module_run.h"
#include "sentences/output_buffer.h"

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void NoteAllocation() {
    if (counting.load(std::memory_order_relaxed)) {
        allocations.fetch_add(1, std::memory_order_relaxed);
    }
}

} // namespace

// operator new and the C library itself end up in these, so they see every allocation of the process (the
// module has nothing to align beyond what malloc gives).
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void __libc_free(void* block);

void* malloc(size_t size) {
    NoteAllocation();
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    NoteAllocation();
    return __libc_calloc(count, size);
}
void* realloc(void* block, size_t size) {
    NoteAllocation();
    return __libc_realloc(block, size);
}
void free(void* block) {
    __libc_free(block);
}
}

namespace {

// A call through a volatile pointer, which the compiler cannot elide as it may a new/delete pair.
void* (*volatile allocate)(size_t) = &::operator new;

TEST(AllocationTest, NothingAllocatesAfterStartUp) {
    constexpr DWORD kRunMs = 40000; // 200 cycles
    const struct {
        const char* name;
        const char* port;
        DWORD lineBaud;    // 0: every write finishes at once
        bool refuseWrites; // every write refused (the purge path)
        bool everyOutput;  // the log and every kind of network output, with TCP clients
    } cases[] = {
        {"serial, writes refused", "COM1", 0, true, false},
        {"relay", "NetHub", 0, false, false},
        {"serial at 4800 baud (cycles skipped), the log and every network output", "COM1", 4800, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        modulerun::RunSetup setup;
        setup.port = c.port;
        setup.sentences = modulerun::kEverySentence;
        setup.mask = modulerun::kEveryRecord;
        setup.generation = 2;
        if (c.everyOutput) {
            setup.keys = {
                {"Log", "Yes"},
                {"Network", "udp:127.0.0.1:10110,tcp:10110,xgps:127.0.0.1,gdl90:127.0.0.1,gdl90:auto"}};
        }
        setup.script = [&c] {
            standin::S().record = false;
            standin::S().lineBaud = c.lineBaud;
            standin::S().writeResults.assign(c.refuseWrites ? 1000 : 0, {FALSE, 5});
            if (c.everyOutput) {
                // Tablets found, moved and forgotten while the run is counted.
                const std::string announcement = R"({"App":"ForeFlight","GDL90":{"port":4000}})";
                standin::S().incoming = {
                    {63093, "192.168.1.23:1", announcement, 1000},
                    {63093, "192.168.1.23:1", R"({"App":"ForeFlight","GDL90":{"port":4001}})", 3000},
                    {63093, "8.8.8.8:1", announcement, 3000},
                    {63093, "10.0.0.2:1", announcement, 5000}};
                standin::S().clients.resize(10);       // two of them refused
                standin::S().clients[1].sendLimit = 0; // stalls, and is closed after 5 s
                standin::S().clients[2].input = {{0, "hello"}};
            }
        };
        // Counted from the first frame after start-up, which creates the output thread, to the end of
        // shut-down.
        const modulerun::Outcome out = modulerun::Simulate(setup, kRunMs, [](DWORD tick) {
            if (tick == 0) {
                fakehost::SetGroundSpeedWord(3000000); // about 89 knots
                fakehost::SetValue(0x56, 84.45);       // true heading
                fakehost::SetValue(0x157, 20.0);       // wind speed
                allocations = 0;
                counting = true;
            }
        });
        void* block = allocate(16); // still counting: the counter sees an allocation in the window
        counting = false;
        ::operator delete(block);
        EXPECT_EQ(allocations.load(), 1);
        EXPECT_GE(out.samples, 199) << "the frames sampled";
        EXPECT_EQ(std::strncmp(OutputBuffer, "$GPGSA,", 7), 0) << "cycles were composed";
        EXPECT_NE(std::strstr(OutputBuffer, "\r\n@"), nullptr) << "with every record";
    }
}

} // namespace
