// ForeFlight's discovery announcement parser with any datagram, under the sanitizers. Checked: the datagram
// is read within its length (a copy ending its own heap block; the same bytes followed by others give the
// same verdict), a port comes with the ForeFlight verdict only and is never 0, and what the grammar implies:
// any text is a valid value of an extra field exactly when the outer object's App and GDL90 placed after it
// then count, and App and GDL90 members added at a valid object's end decide as the last of their keys.
// What each verdict means is the unit tests' part.
#include <memory>

#include "fuzz_support.h"
#include "transport/announcement.h"

namespace {

struct Result {
    AnnouncementVerdict verdict;
    uint16_t port; // 0 unless ForeFlight
};

bool operator==(const Result& a, const Result& b) {
    return a.verdict == b.verdict && a.port == b.port;
}

// The first `length` bytes of text, from a heap block that ends where text does: a read past `length` meets
// the rest of text, one past text meets the sanitizer.
Result Parse(const std::string& text, size_t length) {
    std::unique_ptr<char[]> copy(new char[text.size()]);
    std::memcpy(copy.get(), text.data(), text.size());
    Result result = {kAnnouncementMalformed, 0};
    result.verdict = ParseAnnouncement(copy.get(), static_cast<int32_t>(length), &result.port);
    Require(result.verdict >= kAnnouncementForeFlight && result.verdict <= kAnnouncementNoPort,
            "a verdict outside the enumeration");
    Require((result.verdict == kAnnouncementForeFlight) == (result.port != 0),
            "a port without the ForeFlight verdict, or ForeFlight without a port 1..65535");
    return result;
}

Result Parse(const std::string& text) {
    return Parse(text, text.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const Result alone = Parse(input);
    // Bytes past the length that would complete or spoil the object.
    Require(Parse(input + "\"}]}}", size) == alone && Parse(input + "x", size) == alone,
            "the verdict depends on bytes past the length");

    // An extra field's value: valid exactly when the members after it are the ones that count.
    const bool validValue = Parse(R"({"y":)" + input + "}").verdict != kAnnouncementMalformed;
    const Result extra = Parse(R"({"x":)" + input + R"(,"App":"ForeFlight","GDL90":{"port":7}})");
    Require(validValue == (extra == Result{kAnnouncementForeFlight, 7}),
            "an extra field's value is not read as the grammar says");

    if (alone.verdict == kAnnouncementMalformed) {
        return 0;
    }
    // Members added at the end: the last App and the last GDL90 decide.
    const size_t close = input.rfind('}');
    const size_t first = input.find_first_not_of(" \t\r\n", input.find('{') + 1);
    const std::string body = input.substr(0, close) + (first == close ? "" : ",");
    const bool foreFlight = alone.verdict != kAnnouncementOtherApp;
    Require(Parse(body + R"("App":"ForeFlight","GDL90":{"port":7}})") == Result{kAnnouncementForeFlight, 7},
            "App and GDL90 added last do not count");
    Require(Parse(body + R"("GDL90":{"port":65535}})") ==
                (foreFlight ? Result{kAnnouncementForeFlight, 65535} : Result{kAnnouncementOtherApp, 0}),
            "GDL90 added last does not count");
    Require(Parse(body + R"("GDL90":[{"port":7}]})") ==
                Result{foreFlight ? kAnnouncementNoPort : kAnnouncementOtherApp, 0},
            "a GDL90 that is no object is read as a port");
    Require(Parse(body + R"("App":null})").verdict == kAnnouncementOtherApp, "App added last does not count");
    return 0;
}
