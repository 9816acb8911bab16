// The serial port: the open sequence with its mode string and flags word, and the restore at close.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transport/serial.h"
#include "win32_standin.h"

namespace {

TEST(SerialTest, OpenConfiguresAnOutputLine) {
    const struct {
        int32_t baud;
        uint32_t flagsFound;
        const char* mode;
        const char* applied;
    } cases[] = {
        {4800, 0xFFFFFFFF, "BuildCommDCBA(COM1:48,n,8,1)", "SetCommState(baud=4800,flags=0xFFFFC4C3)"},
        {9600, 0x00003F3E, "BuildCommDCBA(COM1:96,n,8,1)", "SetCommState(baud=9600,flags=0x00000403)"},
        {19200, 0x00000000, "BuildCommDCBA(COM1:192,n,8,1)", "SetCommState(baud=19200,flags=0x00000001)"},
        {50, 0x00010000, "BuildCommDCBA(COM1:0,n,8,1)", "SetCommState(baud=50,flags=0x00010001)"},
    };
    for (const auto& c : cases) {
        standin::Reset();
        SetDcbFlags(&standin::S().deviceDcb, c.flagsFound);
        EXPECT_NE(OpenSerialPort("\\\\.\\COM1", "COM1", c.baud), 0);
        const std::vector<std::string> expected = {
            "CreateFileA(\\\\.\\COM1,0xC0000000,0,3,0x40000000)",
            "SetupComm(256,256)",
            "GetCommState()",
            "GetCommTimeouts()",
            c.mode,
            c.applied,
            "SetCommTimeouts(4294967295,0,0,5000,5000)",
            "PurgeComm(0xF)",
            "EscapeCommFunction(5)",
            "EscapeCommFunction(3)",
            "ClearCommError()",
        };
        EXPECT_EQ(standin::Calls(), expected) << "baud " << c.baud;
    }
    standin::Reset();
    standin::S().failCreateFile = true;
    EXPECT_EQ(OpenSerialPort("\\\\.\\COM9", "COM9", 4800), 0);
    EXPECT_EQ(standin::Calls().size(), 1u);
    EXPECT_EQ(portHandle, INVALID_HANDLE_VALUE);
}

TEST(SerialTest, CloseRestoresOnlyWhatWasSaved) {
    const std::string state = "SetCommState(baud=1200,flags=0x00001234)";
    const std::string timeouts = "SetCommTimeouts(1,2,3,4,5)";
    const struct {
        bool failState;
        bool failTimeouts;
        std::vector<std::string> calls;
    } cases[] = {
        {false, false, {"PurgeComm(0xF)", state, timeouts, "CloseHandle(device)"}},
        {true, false, {"PurgeComm(0xF)", timeouts, "CloseHandle(device)"}},
        {false, true, {"PurgeComm(0xF)", state, "CloseHandle(device)"}},
        {true, true, {"PurgeComm(0xF)", "CloseHandle(device)"}},
    };
    for (const auto& c : cases) {
        standin::Reset();
        standin::S().deviceDcb.BaudRate = 1200;
        SetDcbFlags(&standin::S().deviceDcb, 0x1234);
        standin::S().deviceTimeouts = COMMTIMEOUTS{1, 2, 3, 4, 5};
        standin::S().failGetCommState = c.failState;
        standin::S().failGetCommTimeouts = c.failTimeouts;
        ASSERT_NE(OpenSerialPort("\\\\.\\COM1", "COM1", 4800), 0);
        standin::ClearCalls();
        CloseSerialPort(portHandle);
        EXPECT_EQ(standin::Calls(), c.calls)
            << "reads failed: state " << c.failState << ", time-outs " << c.failTimeouts;
        EXPECT_EQ(portHandle, INVALID_HANDLE_VALUE);
    }
}

TEST(SerialTest, FlagsWordIsTheBitFieldsAtByteEight) {
    DCB dcb{};
    dcb.fBinary = 1;
    dcb.fRtsControl = 2;
    dcb.fAbortOnError = 1;
    EXPECT_EQ(DcbFlags(&dcb), 0x6001u);
    SetDcbFlags(&dcb, 0x00000030);
    EXPECT_EQ(dcb.fDtrControl, 3u);
    EXPECT_EQ(dcb.fBinary, 0u);
}

} // namespace
