// The User-based Security Model's cryptography: keys from passphrases and
// their localization (RFC 3414, A.2), message authentication (RFC 3414, 6 and
// 7; RFC 7860) and privacy (RFC 3414, 8: DES-CBC; RFC 3826: AES-CFB, with the
// key extensions of draft-blumenthal-aes-usm-04 and
// draft-reeder-snmpv3-usm-3desede-00 for longer AES keys).
//
// Bounds: a MAC is at most USM_MAC_MAX octets, a privacy key USM_PRIV_KEY_MAX,
// a salt USM_SALT_MAX; a passphrase is hashed over USM_PASSPHRASE_OCTETS
// octets of itself repeated.
#pragma once

#include "platform/crypto.h"
#include "smp/usm.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

inline constexpr int USM_MAC_MAX = 48;
inline constexpr int USM_PRIV_KEY_MAX = 32;
inline constexpr int USM_SALT_MAX = 8;
inline constexpr long USM_PASSPHRASE_OCTETS = 1048576; // RFC 3414, A.2.1

// Status codes: 0 or a length on success, negative on failure.
inline constexpr int USM_CRYPTO_OK = 0;
inline constexpr int USM_CRYPTO_EINVAL = -1;        // a protocol, length or offset out of range
inline constexpr int USM_CRYPTO_EUNAVAILABLE = -2;  // DES is not offered on this system
inline constexpr int USM_CRYPTO_EFAILED = -3;       // the cryptographic library failed
inline constexpr int USM_CRYPTO_ESHORT = -4;        // passphrase under USM_PASSPHRASE_MIN
inline constexpr int USM_CRYPTO_EWRONG_DIGEST = -5; // the MAC does not match
inline constexpr int USM_CRYPTO_EBAD_LENGTH = -6;   // DES input not a multiple of 8

// An authentication protocol: its hash, digest (and so localized key)
// length, and the length of the MAC sent, the digest's leading octets.
struct UsmAuthProto {
    CryptoHash hash;
    uint8_t keyLength;
    uint8_t macLength;
};
inline constexpr std::array<UsmAuthProto, USM_AUTH_COUNT> usmAuthProtos = {{
    {CRYPTO_MD5, 0, 0},      // none
    {CRYPTO_MD5, 16, 12},    // HMAC-MD5-96 (RFC 3414, 6)
    {CRYPTO_SHA1, 20, 12},   // HMAC-SHA-96 (RFC 3414, 7)
    {CRYPTO_SHA224, 28, 16}, // RFC 7860
    {CRYPTO_SHA256, 32, 24},
    {CRYPTO_SHA384, 48, 32},
    {CRYPTO_SHA512, 64, 48},
}};

struct UsmKeys;
// Lengthens a localized key to length octets (the privacy protocol's key).
using UsmExtendFn = int (*)(UsmAuth auth, std::span<uint8_t> key, int have, int length,
                            std::span<const uint8_t> engineId);
// Encrypts or decrypts in to out (which may be the same) with the keys'
// schedule: the length written, or a negative status.
using UsmCipherFn = int (*)(const UsmKeys &keys, uint32_t boots, uint32_t time,
                            std::span<const uint8_t> salt, std::span<const uint8_t> in,
                            std::span<uint8_t> out);

// A privacy protocol: the key octets it takes from the localized key (DES:
// the key and the pre-IV), its salt (msgPrivacyParameters), the extension
// when the localized key is shorter, and its two directions.
struct UsmPrivProto {
    CryptoCipherKind cipher;
    uint8_t keyLength;
    uint8_t cipherKeyLength;
    uint8_t saltLength;
    UsmExtendFn extend;
    UsmCipherFn encrypt;
    UsmCipherFn decrypt;
};
extern const std::array<UsmPrivProto, USM_PRIV_COUNT> usmPrivProtos;

// Ku from a passphrase (RFC 3414, A.2.1 and A.2.2, with the protocol's
// hash), written to ku: the key length, or a negative status
// (USM_CRYPTO_ESHORT under USM_PASSPHRASE_MIN octets).
int usmPassphraseToKey(UsmAuth auth, std::span<const uint8_t> passphrase, std::span<uint8_t> ku);
// Kul = H(Ku || engineID || Ku) (RFC 3414, 2.6): the key length, or a negative status.
int usmLocalizeKey(UsmAuth auth, std::span<const uint8_t> ku, std::span<const uint8_t> engineId,
                   std::span<uint8_t> kul);

// Writes the MAC of the keys' protocol into message[offset, offset + length),
// computed over the whole message with that field zeroed; length must be the
// protocol's MAC length.
int usmSign(const UsmKeys &keys, std::span<uint8_t> message, std::size_t offset,
            std::size_t length);
// Checks the MAC found there (compared in constant time), leaving the
// message as it was: 0, USM_CRYPTO_EWRONG_DIGEST or another negative status.
int usmVerify(const UsmKeys &keys, std::span<uint8_t> message, std::size_t offset,
              std::size_t length);

// Whether two spans hold the same octets, in time that depends on their
// length only.
bool usmEqual(std::span<const uint8_t> a, std::span<const uint8_t> b);

// One user's keys, localized for one engine, and the privacy key's schedule.
// Not copied; moving leaves the source empty; everything is wiped on release.
struct UsmKeys {
    UsmAuth auth = USM_AUTH_NONE;
    UsmPriv priv = USM_PRIV_NONE;
    std::array<uint8_t, USM_KEY_MAX> authKey{};
    std::array<uint8_t, USM_PRIV_KEY_MAX> privKey{};
    CryptoMac *mac = nullptr; // authKey made ready for HMAC
    CryptoCipher *cipher = nullptr;

    UsmKeys() = default;
    UsmKeys(const UsmKeys &) = delete;
    UsmKeys &operator=(const UsmKeys &) = delete;
    UsmKeys(UsmKeys &&other) noexcept;
    UsmKeys &operator=(UsmKeys &&other) noexcept;
    ~UsmKeys();
    std::span<const uint8_t> authSpan() const {
        return {authKey.data(), usmAuthProtos[auth].keyLength};
    }
};

// Fills keys from passphrases: Ku of each, localized for engineId, the
// privacy key extended as its protocol says. A privacy protocol needs an
// authentication one (RFC 3412, 6.4). 0 or a negative status; on failure
// keys holds nothing.
int usmKeysFromPassphrases(UsmKeys &keys, UsmAuth auth, UsmPriv priv,
                           std::span<const uint8_t> authPassphrase,
                           std::span<const uint8_t> privPassphrase,
                           std::span<const uint8_t> engineId);
// Fills keys from keys already localized for engineId: the authentication key
// as long as its digest; the privacy key at least that long, extended when
// shorter than the protocol's key (engineId serves the extension).
int usmKeysFromLocalized(UsmKeys &keys, UsmAuth auth, UsmPriv priv,
                         std::span<const uint8_t> authKey, std::span<const uint8_t> privKey,
                         std::span<const uint8_t> engineId);
// Wipes the keys and frees the schedule; keys then holds nothing.
void usmKeysRelease(UsmKeys &keys);

// Privacy with the keys' protocol: salt is msgPrivacyParameters (the
// protocol's salt length); boots and time are the authoritative engine's
// (used by AES only, RFC 3826, 3.1.2.1). Encryption writes the input's
// length (AES) or that rounded up to whole blocks (DES): out must hold it.
// The length written, or a negative status.
int usmEncrypt(const UsmKeys &keys, uint32_t boots, uint32_t time, std::span<const uint8_t> salt,
               std::span<const uint8_t> in, std::span<uint8_t> out);
int usmDecrypt(const UsmKeys &keys, uint32_t boots, uint32_t time, std::span<const uint8_t> salt,
               std::span<const uint8_t> in, std::span<uint8_t> out);
