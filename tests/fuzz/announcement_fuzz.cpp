// The discovery announcement parser with any datagram, under the sanitizers. Checked: the datagram is read
// within its length (a copy ending its own heap block; the same bytes followed by others give the same
// verdict and app name, so that the name too lies within it), a port comes with the GDL 90 verdict only and
// is never 0, and what the grammar implies: any text is a valid value of an extra field exactly when the
// outer object's App and GDL90 placed after it then count. What each verdict means is the unit tests' part.
#include <memory>

#include "fuzz_support.h"
#include "network/announcement.h"

namespace {

// The verdict, the port and the app's name of the first `length` bytes of text, from a heap block that ends
// where text does: a read past `length` meets the rest of text, one past text meets the sanitizer.
std::string Parse(const std::string& text, size_t length) {
    std::unique_ptr<char[]> copy(new char[text.size()]);
    std::memcpy(copy.get(), text.data(), text.size());
    Announcement found = {0, nullptr, 0};
    const AnnouncementVerdict verdict = ParseAnnouncement(copy.get(), static_cast<int32_t>(length), &found);
    Require((verdict == kAnnouncementGdl90) == (found.port != 0),
            "a port without the GDL 90 verdict, or that verdict without a port 1..65535");
    return std::to_string(verdict) + " " + std::to_string(found.port) + " " +
           (found.app != nullptr ? std::string(found.app, static_cast<size_t>(found.appLength)) : "-");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string alone = Parse(input, size);
    // Bytes past the length that would complete or spoil the object.
    Require(Parse(input + "\"}]}}", size) == alone && Parse(input + "x", size) == alone,
            "the verdict or the name depends on bytes past the length");

    // An extra field's value: valid exactly when the members after it are the ones that count.
    const std::string valid = R"({"y":)" + input + "}",
                      extra = R"({"x":)" + input + R"(,"App":"ForeFlight","GDL90":{"port":7}})";
    Require((Parse(valid, valid.size()) != std::to_string(kAnnouncementMalformed) + " 0 -") ==
                (Parse(extra, extra.size()) == std::to_string(kAnnouncementGdl90) + " 7 ForeFlight"),
            "an extra field's value is not read as the grammar says");
    return 0;
}
