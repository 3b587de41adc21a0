// The two logins of ONVIF: WS-Security UsernameToken with PasswordDigest in the
// SOAP header, and HTTP digest (RFC 7616, MD5 or SHA-256) when a camera answers
// 401. Shared by the client and by camsim's cameras, so both sides compute the
// same digests from one definition.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <string_view>

namespace onvif {

std::string Base64(std::string_view bytes);
// Empty on malformed input; ok (if given) says whether it was well-formed.
std::string Unbase64(std::string_view text, bool* ok = nullptr);
std::string Sha1(std::string_view bytes);  // raw 20 bytes
// Lowercase hex of MD5 or SHA-256 ("MD5", "SHA-256"); empty for other names.
std::string HexDigest(std::string_view algorithm, std::string_view bytes);
// n random bytes from OpenSSL's RAND_bytes; empty if it failed.
std::string RandomBytes(size_t n);

// xs:dateTime in UTC, "2026-12-09T01:02:03Z"; parsing accepts fractions and
// a Z or +hh:mm offset and gives seconds since 1970, false when malformed.
std::string UtcText(int64_t unixSeconds);
bool ParseUtcText(std::string_view text, int64_t* unixSeconds);
// Seconds since 1970 for a UTC calendar time; -1 when out of range.
int64_t UnixSeconds(int year, int month, int day, int hour, int minute, int second);

// base64(SHA-1(nonce + created + password)).
std::string PasswordDigest(std::string_view nonce, std::string_view created,
                           std::string_view password);
// The wsse:Security header for one request: a fresh nonce, Created at
// unixSeconds (the camera's clock). Empty when no random bytes could be had.
std::string UsernameTokenHeader(const std::string& user, const std::string& password,
                                int64_t unixSeconds);

// An HTTP digest challenge or authorization header, split into its
// parameters (names lowercase, quotes removed). False when it is not Digest.
bool ParseDigestHeader(std::string_view header, std::map<std::string, std::string>* params);
// The response value for a challenge's parameters (realm, nonce, qop,
// algorithm) and the request; nc and cnonce as sent.
std::string DigestResponse(const std::map<std::string, std::string>& challenge,
                           const std::string& user, const std::string& password,
                           const std::string& method, const std::string& uri, const std::string& nc,
                           const std::string& cnonce);
// A whole Authorization header value answering the challenge.
std::string DigestAuthorization(const std::map<std::string, std::string>& challenge,
                                const std::string& user, const std::string& password,
                                const std::string& method, const std::string& uri, uint32_t count);

}  // namespace onvif
