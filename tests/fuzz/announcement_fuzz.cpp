// ForeFlight's discovery announcement parser with any datagram, under the sanitizers. Checked: the datagram
// is read within its length (a copy ending its own heap block; the same bytes followed by others give the
// same verdict), a port comes with the ForeFlight verdict only and is never 0, and what the grammar implies:
// any text is a valid value of an extra field exactly when the outer object's App and GDL90 placed after it
// then count; nothing of a valid object but blanks can be cut off its end; App and GDL90 members added at
// its end decide as the last of their keys; and set inside another object, its own members never count.
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

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
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
    // A valid datagram ends in the object's "}" and blanks: cut anywhere before them it is no object (though
    // the bytes past the cut complete it), cut among them it is the same.
    size_t close = size;
    while (close > 0 && IsBlank(input[close - 1])) {
        --close;
    }
    Require(close > 0 && input[close - 1] == '}', "a valid datagram that does not end in }");
    --close;
    Require(Parse(input, close + 1) == alone, "trailing blanks change the verdict");
    // Every cut of a short datagram, some 64 of a long one, always the one just before the "}".
    const size_t step = 1 + close / 64;
    for (size_t cut = close % step; cut <= close; cut += step) {
        Require(Parse(input, cut).verdict == kAnnouncementMalformed, "a cut-off object is read as valid");
    }

    // Members added at the end: the last App and the last GDL90 decide.
    const size_t open = input.find('{');
    const size_t first = input.find_first_not_of(" \t\r\n", open + 1);
    const std::string body = input.substr(0, close) + (first == close ? "" : ",");
    const bool foreFlight = alone.verdict != kAnnouncementOtherApp;
    Require(Parse(body + R"("App":"ForeFlight","GDL90":{"port":7}})") == Result{kAnnouncementForeFlight, 7},
            "App and GDL90 added last do not count");
    Require(Parse(body + R"("GDL90":{"port":65535}})") ==
                (foreFlight ? Result{kAnnouncementForeFlight, 65535} : Result{kAnnouncementOtherApp, 0}),
            "GDL90 added last does not count");
    for (const char* gdl90 : {"0", "[{\"port\":7}]", "{\"x\":{\"port\":7}}", "{\"port\":7,\"port\":\"7\"}"}) {
        Require(Parse(body + "\"GDL90\":" + gdl90 + "}") ==
                    Result{foreFlight ? kAnnouncementNoPort : kAnnouncementOtherApp, 0},
                std::string("GDL90 added last as ") + gdl90 + " is read as a port");
    }
    for (const char* other : {"\"ForeFlight \"", "null", "{\"App\":\"ForeFlight\"}"}) {
        Require(Parse(body + "\"App\":" + other + "}").verdict == kAnnouncementOtherApp,
                std::string("App added last as ") + other + " is read as ForeFlight");
    }
    const Result app = Parse(body + R"("App":"ForeFlight"})");
    Require(foreFlight ? app == alone
                       : app.verdict != kAnnouncementMalformed && app.verdict != kAnnouncementOtherApp,
            "App added last does not count");

    // The object as a value inside the outer object or inside its GDL90: valid there exactly when it is as
    // an extra field's value at that depth, and its own App, GDL90 and port never count.
    const bool validDeeper = Parse(R"({"y":{"y":)" + input + "}}").verdict != kAnnouncementMalformed;
    const Result inOuter = Parse(R"({"App":"ForeFlight","GDL90":{"port":9},"w":)" + input + "}");
    const Result inGdl90 = Parse(R"({"App":"ForeFlight","GDL90":{"port":9,"w":)" + input + "}}");
    Require(
        inOuter == (validValue ? Result{kAnnouncementForeFlight, 9} : Result{kAnnouncementMalformed, 0}) &&
            inGdl90 == (validDeeper ? Result{kAnnouncementForeFlight, 9} : Result{kAnnouncementMalformed, 0}),
        "members of a nested object count as the outer object's");
    return 0;
}
