// ForeFlight's discovery announcement: the verdict and port for announcements as sent, as later versions may
// extend them, and for datagrams that are not one JSON object. Each input is parsed from a heap block of its
// exact size, so a sanitizer build catches a read past its end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transport/announcement.h"

namespace {

using namespace std::string_literals;

const char kGdl90[] = R"("GDL90":{"port":4000})";
constexpr uint16_t kUntouched = 12345;

// An announcement with n containers, each opened by `open`, inside one another in the outer object: n + 1.
std::string Nested(int n, const char* open, char close) {
    std::string value;
    for (int i = 0; i < n; ++i) {
        value += open;
    }
    return R"({"x":)" + value + "0" + std::string(n, close) + R"(,"App":"ForeFlight",)" + kGdl90 + "}";
}

TEST(Announcement, Verdicts) {
    const struct {
        std::string input;
        AnnouncementVerdict verdict;
        uint16_t port; // when ForeFlight
    } cases[] = {
        {R"({"App":"ForeFlight","GDL90":{"port":4000}})", kAnnouncementForeFlight, 4000},
        {R"({"GDL90":{"port":4000},"App":"ForeFlight"})", kAnnouncementForeFlight, 4000},
        {R"({"Version":"14.2","App":"ForeFlight","Build":20231001,"Beta":false,"Pro":true,"Sync":null,)"
         R"("Ratio":-0.25E-2,"Scale":1e+3,"Small":2.5e-3,"Devices":[{"Name":"iPad","Slots":[[],[{}]]},[]],)"
         R"("Note":"{\"a\":[1,}] \\\" \\\\ \/ \b\f\n\r\t \u00E9\uD83D\ude00 ]}",)"
         R"("Empty":"","Utf8":"Zürich","GDL90":{"port":4000}})",
         kAnnouncementForeFlight, 4000},
        {" \t\r\n{ \"App\" :\t\"ForeFlight\" ,\n\"GDL90\"\r\n:{\n\t\"port\" : 4000 } }\r\n",
         kAnnouncementForeFlight, 4000},
        {R"({"App":"ForeFlight","GDL90":{"port":65535}})", kAnnouncementForeFlight, 65535},
        {R"({"App":"ForeFlight","GDL90":{"port":0}})", kAnnouncementNoPort, 0},
        {R"({"App":"ForeFlight","GDL90":{"port":65536}})", kAnnouncementNoPort, 0},
        {R"({"App":"ForeFlight","GDL90":{"port":4000.0}})", kAnnouncementNoPort, 0},
        {R"({"App":"ForeFlight","GDL90":{"port":04000}})", kAnnouncementMalformed, 0},
        {R"({"App":"ForeFlight","GDL90":[{"port":4000}]})", kAnnouncementNoPort, 0},
        {R"({"GDL90":{"port":4000}})", kAnnouncementOtherApp, 0},
        {R"({"App":"foreflight","GDL90":{"port":4000}})", kAnnouncementOtherApp, 0},
        {"", kAnnouncementMalformed, 0},
        {R"({"App":"ForeFlight","GDL90":{"port":4000})", kAnnouncementMalformed, 0},
        {R"({"App":"ForeFlight","GDL90":{"port":4000}}x)", kAnnouncementMalformed, 0},
        {R"([{"App":"ForeFlight","GDL90":{"port":4000}}])", kAnnouncementMalformed, 0},
        {R"({"App":"ForeFlight","GDL90":{"port":4000},})", kAnnouncementMalformed, 0},
        {R"({"App":"ForeFlight","x":[1,],"GDL90":{"port":4000}})", kAnnouncementMalformed, 0},
        {"{\"App\":\"ForeFlight\",\"x\":\"a\tb\",\"GDL90\":{\"port\":4000}}", kAnnouncementMalformed, 0},
        {"{\"App\":\"ForeFlight\",\"x\":\"\x7F\xFF\",\"GDL90\":{\"port\":4000}}", kAnnouncementForeFlight,
         4000},
        {Nested(15, "[", ']'), kAnnouncementForeFlight, 4000},
        {Nested(16, "[", ']'), kAnnouncementMalformed, 0},
        {Nested(100000, "[", ']'), kAnnouncementMalformed, 0},
        {"{\"App\":\"Fore\0Flight\",\"GDL90\":{\"port\":4000}}"s, kAnnouncementMalformed, 0},
        {"{\"App\":\"ForeFlight\",\"GDL90\":{\"port\":4000}}\0"s, kAnnouncementMalformed, 0},
        {R"({"App":"ForeFlight","GDL90":{"port":4000},"GDL90":{"port":4001}})", kAnnouncementForeFlight,
         4001},
        {R"({"App":"ForeFlight","GDL90":{"port":4000},"App":"Other"})", kAnnouncementOtherApp, 0},
        {R"({"App":"Other","GDL90":{"port":4000},"App":"ForeFlight"})", kAnnouncementForeFlight, 4000},
    };
    for (const auto& c : cases) {
        const std::vector<char> bytes(c.input.begin(), c.input.end());
        uint16_t port = kUntouched;
        const AnnouncementVerdict verdict =
            ParseAnnouncement(bytes.data(), static_cast<int32_t>(bytes.size()), &port);
        EXPECT_EQ(verdict, c.verdict) << c.input.substr(0, 120);
        EXPECT_EQ(port, c.verdict == kAnnouncementForeFlight ? c.port : kUntouched) << c.input.substr(0, 120);
    }
}

} // namespace
