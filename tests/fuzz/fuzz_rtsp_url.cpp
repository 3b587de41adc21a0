// RTSP addresses as the user types them. Whatever the text: an accepted URL keeps its host,
// port and path through WithCredentials and WithoutCredentials; credentials put in come back
// out unchanged; and the form for logs never holds credentials, neither the URL's own nor
// those put in.
//
// Input: Piece user, Piece password, then the URL.
#include <cstdlib>
#include <string>

#include "FuzzInput.h"
#include "RtspSource.h"

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

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
        Check(shown.empty() && with.empty());
        return 0;
    }
    Check(parts.port >= 1 && parts.port <= 65535 && !parts.host.empty());
    Check(!HasControl(parts.user) && !HasControl(parts.password));

    rtsp::UrlParts shownParts;
    Check(rtsp::ParseUrl(shown, &shownParts));
    Check(!shownParts.hasCredentials && SamePlace(parts, shownParts));
    Check(shown.find('@') == std::string::npos || shown.find('@') > shown.find('/', 7));
    Check(rtsp::WithoutCredentials(shown) == shown);

    if (HasControl(user) || HasControl(password)) {
        Check(with.empty());
        return 0;
    }
    rtsp::UrlParts withParts;
    Check(rtsp::ParseUrl(with, &withParts));
    Check(SamePlace(parts, withParts));
    if (!user.empty() || !password.empty()) {
        Check(withParts.hasCredentials && withParts.user == user && withParts.password == password);
    } else {
        Check(!withParts.hasCredentials);
    }
    Check(rtsp::WithoutCredentials(with) == shown);
    return 0;
}
