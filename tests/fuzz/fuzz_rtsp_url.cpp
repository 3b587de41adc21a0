// RTSP addresses as the user types them. Whatever the text: an accepted URL keeps its host,
// port and path through WithCredentials and WithoutCredentials; credentials put in come back
// out unchanged; and the form for logs never holds credentials, neither the URL's own nor
// those put in.
//
// Input: Piece user, Piece password, then the URL.
#include <string>

#include "FuzzInput.h"
#include "RtspSource.h"

namespace {

bool SamePlace(const rtsp::UrlParts& a, const rtsp::UrlParts& b) {
    return a.host == b.host && a.port == b.port && a.path == b.path;
}

bool HasControl(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7f)
            return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    const std::string user = in.Piece();
    const std::string password = in.Piece();
    const std::string url = in.Rest();

    rtsp::UrlParts parts;
    const bool accepted = rtsp::ParseUrl(url, &parts);
    const std::string shown = rtsp::WithoutCredentials(url);
    const std::string with = rtsp::WithCredentials(url, user, password);
    if (!accepted) {
        // Nothing of a text that is not an address is shown or passed on.
        fuzz::Check(shown.empty() && with.empty(), "a refused text was passed on");
        return 0;
    }
    fuzz::Check(parts.port >= 1 && parts.port <= 65535 && !parts.host.empty(), "bad port or host",
                parts.port);
    fuzz::Check(!HasControl(parts.user) && !HasControl(parts.password),
                "control character in decoded credentials");

    rtsp::UrlParts shownParts;
    fuzz::Check(rtsp::ParseUrl(shown, &shownParts), "logged form not accepted");
    fuzz::Check(!shownParts.hasCredentials && SamePlace(parts, shownParts),
                "logged form keeps credentials or moved");
    fuzz::Check(shown.find('@') == std::string::npos || shown.find('@') > shown.find('/', 7),
                "user information left in the logged form");
    fuzz::Check(rtsp::WithoutCredentials(shown) == shown, "logged form not stable");

    if (HasControl(user) || HasControl(password)) {
        fuzz::Check(with.empty(), "control characters put into a URL");
        return 0;
    }
    rtsp::UrlParts withParts;
    fuzz::Check(rtsp::ParseUrl(with, &withParts), "URL with credentials not accepted");
    fuzz::Check(SamePlace(parts, withParts), "credentials moved the address");
    if (!user.empty() || !password.empty()) {
        fuzz::Check(
            withParts.hasCredentials && withParts.user == user && withParts.password == password,
            "credentials do not come back as given");
    } else {
        fuzz::Check(!withParts.hasCredentials, "credentials appeared from nowhere");
    }
    fuzz::Check(rtsp::WithoutCredentials(with) == shown, "credentials survive the logged form");
    return 0;
}
