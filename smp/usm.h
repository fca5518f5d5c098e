// The User-based Security Model's vocabulary (RFC 3414; RFC 7860; RFC 3826):
// the authentication and privacy protocols and the security levels, with the
// names the command line and the users file spell them by.
//
// Bounds: an engine ID holds 5 to 32 octets (RFC 3411, 5); a user name at
// most 32 (RFC 3414, 2.4); a key at most USM_KEY_MAX octets (a SHA-512 digest).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr int USM_ENGINE_ID_MIN = 5;
inline constexpr int USM_ENGINE_ID_MAX = 32;
inline constexpr int USM_USER_MAX = 32;
inline constexpr int USM_KEY_MAX = 64;
// RFC 3414, 11.2: shorter passphrases are refused.
inline constexpr int USM_PASSPHRASE_MIN = 8;

enum UsmAuth : uint8_t {
    USM_AUTH_NONE,
    USM_AUTH_MD5,    // HMAC-MD5-96 (RFC 3414, 6)
    USM_AUTH_SHA,    // HMAC-SHA-96 (RFC 3414, 7)
    USM_AUTH_SHA224, // RFC 7860: usmHMAC128SHA224AuthProtocol
    USM_AUTH_SHA256, // usmHMAC192SHA256AuthProtocol
    USM_AUTH_SHA384, // usmHMAC256SHA384AuthProtocol
    USM_AUTH_SHA512, // usmHMAC384SHA512AuthProtocol
    USM_AUTH_COUNT
};

enum UsmPriv : uint8_t {
    USM_PRIV_NONE,
    USM_PRIV_DES,     // CBC-DES (RFC 3414, 8), for old devices only
    USM_PRIV_AES,     // AES-128 in CFB-128 (RFC 3826)
    USM_PRIV_AES192,  // key extended by hashing the key (draft-blumenthal-aes-usm-04)
    USM_PRIV_AES256,  //
    USM_PRIV_AES192C, // key extended by localizing it again (draft-reeder-snmpv3-usm-3desede-00)
    USM_PRIV_AES256C, //
    USM_PRIV_COUNT
};

// RFC 3411, 5: SecurityLevel, ordered from least to most protection.
enum UsmLevel : uint8_t { USM_NO_AUTH_NO_PRIV, USM_AUTH_NO_PRIV, USM_AUTH_PRIV, USM_LEVEL_COUNT };

// The digest length of each protocol's hash: the length of its keys, Ku and Kul.
inline constexpr std::array<int, USM_AUTH_COUNT> usmAuthKeyLengths = {0, 16, 20, 28, 32, 48, 64};

inline constexpr std::array<const char *, USM_AUTH_COUNT> usmAuthNames = {
    "none", "MD5", "SHA", "SHA-224", "SHA-256", "SHA-384", "SHA-512"};
inline constexpr std::array<const char *, USM_PRIV_COUNT> usmPrivNames = {
    "none", "DES", "AES", "AES-192", "AES-256", "AES192C", "AES256C"};
inline constexpr std::array<const char *, USM_LEVEL_COUNT> usmLevelNames = {
    "noAuthNoPriv", "authNoPriv", "authPriv"};

// The position of text in a table of names, letters in either case, as
// administrators type "sha" or "aes"; -1 when absent.
template <std::size_t N>
inline int usmNameIndex(const std::array<const char *, N> &names, const char *text) {
    for (std::size_t i = 0; text && i < N; ++i) {
        const char *a = names[i];
        const char *b = text;
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        while (*a && lower(*a) == lower(*b))
            ++a, ++b;
        if (*a == '\0' && *b == '\0')
            return static_cast<int>(i);
    }
    return -1;
}
