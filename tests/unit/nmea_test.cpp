// The NMEA sentences, the checksum, the one-decimal numbers and the bounded formatter.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "reference_fix.h"
#include "sentences/output_buffer.h"
#include "sentences/records.h"
#include "win32_standin.h"

namespace {

// The text an appender leaves at the buffer's start.
std::string Appended(int32_t (*append)(int32_t)) {
    const int32_t length = append(0);
    return std::string(OutputBuffer, static_cast<size_t>(length));
}

class NmeaTest : public ::testing::Test {
  protected:
    void SetUp() override {
        standin::Reset();
    }
};

TEST_F(NmeaTest, ReferenceFixInBothFractionFormats) {
    struct Case {
        bool sixDecimals;
        int32_t (*append)(int32_t);
        const char* text;
    };
    const Case cases[] = {
        {true, [](int32_t at) { return AppendRmc(at, 0); },
         "$GPRMC,123519.00,A,4807.038000,N,01131.000000,E,22.4,84.4,230394,3.1,W*44\r\n"},
        {false, [](int32_t at) { return AppendRmc(at, 0); },
         "$GPRMC,123519.00,A,4807.0380,N,01131.0000,E,22.4,84.4,230394,3.1,W*44\r\n"},
        {true, [](int32_t at) { return AppendGga(at, 0); },
         "$GPGGA,123519.00,4807.038000,N,01131.000000,E,1,05,0.0,545.4,M,,,,*35\r\n"},
        {false, [](int32_t at) { return AppendGga(at, 0); },
         "$GPGGA,123519.00,4807.0380,N,01131.0000,E,1,05,0.0,545.4,M,,,,*35\r\n"},
        {true, [](int32_t at) { return AppendGll(at, 0); },
         "$GPGLL,4807.038000,N,01131.000000,E,123519.00,A*0B\r\n"},
        {false, [](int32_t at) { return AppendGll(at, 37); },
         "$GPGLL,4807.0380,N,01131.0000,E,123519.37,A*0F\r\n"},
        {true, AppendRma, "$GPRMA,A,4807.038000,N,01131.000000,E,0.0,0.0,22.4,84.4,3.1,W*6A\r\n"},
        {false, AppendRma, "$GPRMA,A,4807.0380,N,01131.0000,E,0.0,0.0,22.4,84.4,3.1,W*6A\r\n"},
        {true, AppendVtg, "$GPVTG,84.4,T,80.2,M,22.4,N,41.5,K*48\r\n"},
        {true, AppendGsa, "$GPGSA,M,3,10,06,04,09,02,07,30,05,,,,,1.6,0.9,1.3*3B\r\n"},
        {true, AppendGsv,
         "$GPGSV,2,1,08,05,77,295,51,02,69,033,50,30,39,315,49,10,36,141,49*7B\r\n"
         "$GPGSV,2,2,08,09,25,213,49,04,23,044,49,06,17,287,49,07,05,089,49*74\r\n"},
    };
    for (const Case& c : cases) {
        SetReferenceFix(c.sixDecimals);
        EXPECT_EQ(Appended(c.append), c.text);
    }
}

TEST_F(NmeaTest, NegativeAndStandingValues) {
    struct Case {
        double altitudeMetres;
        double knots;
        const char* pgrmz;
        const char* gga;
        const char* vtg;
    };
    const Case cases[] = {
        {304.85, 22.45, "$PGRMZ,1000.2,f,2*37\r\n",
         "$GPGGA,123519.00,4807.0380,N,01131.0000,E,1,05,0.0,304.8,M,,,,*3A\r\n",
         "$GPVTG,84.4,T,80.2,M,22.4,N,41.5,K*48\r\n"},
        {-10.35, 0.05, "$PGRMZ,-33.9,f,2*10\r\n",
         "$GPGGA,123519.00,4807.0380,N,01131.0000,E,1,05,0.0,-10.3,M,,,,*2A\r\n",
         "$GPVTG,84.4,T,80.2,M,0.0,N,0.0,K*4C\r\n"},
        {-0.45, 0.05, "$PGRMZ,-1.4,f,2*2C\r\n",
         "$GPGGA,123519.00,4807.0380,N,01131.0000,E,1,05,0.0,-0.4,M,,,,*1C\r\n",
         "$GPVTG,84.4,T,80.2,M,0.0,N,0.0,K*4C\r\n"},
    };
    for (const Case& c : cases) {
        SetReferenceFix(false);
        navSnapshot.altitudeMetres = c.altitudeMetres;
        navSnapshot.groundSpeedKnots = c.knots;
        navSnapshot.groundSpeedKmh = c.knots * 1.852;
        EXPECT_EQ(Appended(AppendPgrmz), c.pgrmz) << c.altitudeMetres;
        EXPECT_EQ(Appended([](int32_t at) { return AppendGga(at, 0); }), c.gga) << c.altitudeMetres;
        EXPECT_EQ(Appended(AppendVtg), c.vtg) << c.knots;
    }
}

TEST(OneDecimal, SignIntegerPartAndTenthsDigit) {
    const double infinity = std::numeric_limits<double>::infinity();
    struct Case {
        double value;
        const char* text;
    };
    const Case cases[] = {
        {22.45, "22.4"},
        {-10.35, "-10.3"},
        {-0.45, "-0.4"},
        {-0.04, "0.0"},
        {0.0, "0.0"},
        {-0.0, "0.0"},
        {0.99, "0.9"},
        {359.99, "359.9"},
        {1e12, "2147483647.9"},
        {-1e12, "-2147483647.9"},
        {infinity, "2147483647.9"},
        {std::nan(""), "0.0"},
    };
    for (const Case& c : cases) {
        const OneDecimal d = ToOneDecimal(c.value);
        EXPECT_EQ(std::string(d.sign) + std::to_string(d.whole) + "." + std::to_string(d.tenths), c.text)
            << c.value;
    }
}

TEST(Checksum, CoversTheBytesAfterTheDollarOnly) {
    const std::string body = "$PGRMZ,1000.0,f,2";
    body.copy(OutputBuffer + 10, body.size());
    EXPECT_EQ(AppendChecksum(10, 10 + static_cast<int32_t>(body.size())), 32);
    EXPECT_EQ(std::string(OutputBuffer + 10, 22), "$PGRMZ,1000.0,f,2*35\r\n");
    OutputBuffer[0] = '$';
    EXPECT_EQ(AppendChecksum(0, 1), 6);
    EXPECT_EQ(std::string(OutputBuffer, 6), "$*00\r\n");
}

TEST(FormatAt, NeverWritesPastTheBuffer) {
    OutputBuffer[kOutputBufferSize - 1] = 'x';
    EXPECT_EQ(FormatAt(kOutputBufferSize - 4, "%d", 123456), kOutputBufferSize - 1);
    EXPECT_EQ(std::string(OutputBuffer + kOutputBufferSize - 4), "123");
    EXPECT_EQ(FormatAt(kOutputBufferSize - 1, "%s", "more"), kOutputBufferSize - 1);
    EXPECT_EQ(FormatAt(kOutputBufferSize, "%s", "more"), kOutputBufferSize);
    EXPECT_EQ(AppendChecksum(0, kOutputBufferSize - 2), kOutputBufferSize - 1);
    EXPECT_EQ(OutputBuffer[kOutputBufferSize - 1], '\0');
}

} // namespace
