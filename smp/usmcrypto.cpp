#include "smp/usmcrypto.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

constexpr int AES_BLOCK = 16;
constexpr int DES_BLOCK = 8;

int fromCrypto(int status) {
    switch (status) {
    case CRYPTO_EINVAL:
        return USM_CRYPTO_EINVAL;
    case CRYPTO_EUNAVAILABLE:
        return USM_CRYPTO_EUNAVAILABLE;
    default:
        return status < 0 ? USM_CRYPTO_EFAILED : status;
    }
}

// A scratch buffer wiped when it goes out of scope.
template <std::size_t N> struct Secret {
    std::array<uint8_t, N> octets{};
    ~Secret() { cryptoWipe(octets.data(), N); }
};

// draft-blumenthal-aes-usm-04: while the key is too short, append
// the hash of the whole key so far.
int extendByHash(UsmAuth auth, std::span<uint8_t> key, int have, int length,
                 std::span<const uint8_t>) {
    CryptoHash hash = usmAuthProtos[auth].hash;
    CryptoHashCtx *raw = nullptr;
    if (int status = cryptoHashNew(hash, &raw); status < 0)
        return fromCrypto(status);
    CryptoHashPtr ctx(raw);
    Secret<CRYPTO_DIGEST_MAX> digest;
    while (have < length) {
        int n = cryptoHashUpdate(ctx.get(), key.first(have));
        if (n >= 0)
            n = cryptoHashFinal(ctx.get(), digest.octets);
        if (n < 0)
            return fromCrypto(n);
        int take = std::min(n, length - have);
        std::memcpy(key.data() + have, digest.octets.data(), take);
        have += take;
    }
    return have;
}

// draft-reeder-snmpv3-usm-3desede-00: while the key is too short, append
// the last localized key's own passphrase-to-key, localized for the engine.
int extendByLocalizing(UsmAuth auth, std::span<uint8_t> key, int have, int length,
                       std::span<const uint8_t> engineId) {
    Secret<USM_KEY_MAX> ku, kul;
    int last = 0;
    while (have < length) {
        int n = usmPassphraseToKey(auth, key.subspan(last, have - last), ku.octets);
        if (n >= 0)
            n = usmLocalizeKey(auth, std::span(ku.octets).first(n), engineId, kul.octets);
        if (n < 0)
            return n;
        int take = std::min(n, length - have);
        std::memcpy(key.data() + have, kul.octets.data(), take);
        last = have;
        have += take;
    }
    return have;
}

// to may be a (decrypting in place), so each word is read before it is written.
void xorInto(uint8_t *to, const uint8_t *a, const uint8_t *b, int n) {
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        x ^= y;
        std::memcpy(to + i, &x, 8);
    }
    for (; i < n; ++i)
        to[i] = a[i] ^ b[i];
}

// RFC 3826, 3.1.2.1: IV = boots || time (each 4 octets, most significant
// first) || the 64-bit salt.
void aesIv(uint32_t boots, uint32_t time, std::span<const uint8_t> salt, uint8_t *iv) {
    for (int i = 0; i < 4; ++i) {
        iv[i] = static_cast<uint8_t>(boots >> (24 - 8 * i));
        iv[4 + i] = static_cast<uint8_t>(time >> (24 - 8 * i));
    }
    std::memcpy(iv + 8, salt.data(), 8);
}

// CFB-128 (NIST SP 800-38A, 6.3; RFC 3826, 3.1.3 and 3.1.4): each block of
// key stream encrypts the previous ciphertext block; the last block may be
// short. Encryption must wait for each ciphertext block in turn.
int aesEncrypt(const UsmKeys &keys, uint32_t boots, uint32_t time, std::span<const uint8_t> salt,
               std::span<const uint8_t> in, std::span<uint8_t> out) {
    if (out.size() < in.size())
        return USM_CRYPTO_EINVAL;
    Secret<AES_BLOCK> feedback, stream;
    aesIv(boots, time, salt, feedback.octets.data());
    for (std::size_t at = 0; at < in.size(); at += AES_BLOCK) {
        if (cryptoCipherBlocks(keys.cipher, false, feedback.octets.data(), stream.octets.data(),
                               1) < 0)
            return USM_CRYPTO_EFAILED;
        int n = static_cast<int>(std::min<std::size_t>(AES_BLOCK, in.size() - at));
        xorInto(out.data() + at, in.data() + at, stream.octets.data(), n);
        std::memcpy(feedback.octets.data(), out.data() + at, n);
    }
    return static_cast<int>(in.size());
}

// Decryption knows every ciphertext block at once, so the key stream of a
// whole run of blocks comes from one cipher call.
int aesDecrypt(const UsmKeys &keys, uint32_t boots, uint32_t time, std::span<const uint8_t> salt,
               std::span<const uint8_t> in, std::span<uint8_t> out) {
    constexpr std::size_t RUN = 32; // blocks per call
    if (out.size() < in.size())
        return USM_CRYPTO_EINVAL;
    Secret<AES_BLOCK * RUN> feedback, stream;
    Secret<AES_BLOCK> next;
    aesIv(boots, time, salt, feedback.octets.data());
    for (std::size_t at = 0; at < in.size(); at += AES_BLOCK * RUN) {
        std::size_t n = std::min(AES_BLOCK * RUN, in.size() - at);
        std::size_t blocks = (n + AES_BLOCK - 1) / AES_BLOCK;
        // Every block but the last of a run is whole, and so is the last
        // when another run follows.
        std::size_t whole = (blocks - 1) * AES_BLOCK;
        std::memcpy(feedback.octets.data() + AES_BLOCK, in.data() + at, whole);
        if (cryptoCipherBlocks(keys.cipher, false, feedback.octets.data(), stream.octets.data(),
                               static_cast<int>(blocks)) < 0)
            return USM_CRYPTO_EFAILED;
        if (at + n < in.size()) // read before out, which may be in, is written
            std::memcpy(next.octets.data(), in.data() + at + whole, AES_BLOCK);
        xorInto(out.data() + at, in.data() + at, stream.octets.data(), static_cast<int>(n));
        std::memcpy(feedback.octets.data(), next.octets.data(), AES_BLOCK);
    }
    return static_cast<int>(in.size());
}

// RFC 3414, 8.1.1.1: IV = pre-IV (octets 9 to 16 of the key) XOR salt.
void desIv(const UsmKeys &keys, std::span<const uint8_t> salt, uint8_t *iv) {
    xorInto(iv, keys.privKey.data() + DES_BLOCK, salt.data(), DES_BLOCK);
}

// CBC (RFC 3414, 8.1.1.2), the plaintext padded to whole blocks; the value
// of the padding octets does not matter (zeros here).
int desEncrypt(const UsmKeys &keys, uint32_t, uint32_t, std::span<const uint8_t> salt,
               std::span<const uint8_t> in, std::span<uint8_t> out) {
    std::size_t total = (in.size() + DES_BLOCK - 1) / DES_BLOCK * DES_BLOCK;
    if (out.size() < total)
        return USM_CRYPTO_EINVAL;
    Secret<DES_BLOCK> chain, block;
    desIv(keys, salt, chain.octets.data());
    for (std::size_t at = 0; at < total; at += DES_BLOCK) {
        int n = static_cast<int>(std::min<std::size_t>(DES_BLOCK, in.size() - at));
        block.octets = {};
        std::memcpy(block.octets.data(), in.data() + at, n);
        xorInto(block.octets.data(), block.octets.data(), chain.octets.data(), DES_BLOCK);
        if (cryptoCipherBlocks(keys.cipher, false, block.octets.data(), chain.octets.data(), 1) < 0)
            return USM_CRYPTO_EFAILED;
        std::memcpy(out.data() + at, chain.octets.data(), DES_BLOCK);
    }
    return static_cast<int>(total);
}

// RFC 3414, 8.3.2: a ciphertext not a multiple of 8 octets long is refused.
int desDecrypt(const UsmKeys &keys, uint32_t, uint32_t, std::span<const uint8_t> salt,
               std::span<const uint8_t> in, std::span<uint8_t> out) {
    if (in.size() % DES_BLOCK != 0)
        return USM_CRYPTO_EBAD_LENGTH;
    if (out.size() < in.size())
        return USM_CRYPTO_EINVAL;
    Secret<DES_BLOCK> chain, cipher, block;
    desIv(keys, salt, chain.octets.data());
    for (std::size_t at = 0; at < in.size(); at += DES_BLOCK) {
        std::memcpy(cipher.octets.data(), in.data() + at, DES_BLOCK); // out may be in
        if (cryptoCipherBlocks(keys.cipher, true, cipher.octets.data(), block.octets.data(), 1) < 0)
            return USM_CRYPTO_EFAILED;
        xorInto(out.data() + at, block.octets.data(), chain.octets.data(), DES_BLOCK);
        chain.octets = cipher.octets;
    }
    return static_cast<int>(in.size());
}

} // namespace

const std::array<UsmPrivProto, USM_PRIV_COUNT> usmPrivProtos = {{
    {CRYPTO_AES, 0, 0, 0, nullptr, nullptr, nullptr},                    // none
    {CRYPTO_DES, 16, 8, 8, nullptr, desEncrypt, desDecrypt},             // key || pre-IV
    {CRYPTO_AES, 16, 16, 8, nullptr, aesEncrypt, aesDecrypt},            // RFC 3826
    {CRYPTO_AES, 24, 24, 8, extendByHash, aesEncrypt, aesDecrypt},       // AES-192
    {CRYPTO_AES, 32, 32, 8, extendByHash, aesEncrypt, aesDecrypt},       // AES-256
    {CRYPTO_AES, 24, 24, 8, extendByLocalizing, aesEncrypt, aesDecrypt}, // AES192C
    {CRYPTO_AES, 32, 32, 8, extendByLocalizing, aesEncrypt, aesDecrypt}, // AES256C
}};

int usmPassphraseToKey(UsmAuth auth, std::span<const uint8_t> passphrase, std::span<uint8_t> ku) {
    if (auth == USM_AUTH_NONE || auth >= USM_AUTH_COUNT)
        return USM_CRYPTO_EINVAL;
    if (passphrase.size() < std::size_t(USM_PASSPHRASE_MIN))
        return USM_CRYPTO_ESHORT;
    CryptoHashCtx *raw = nullptr;
    if (int status = cryptoHashNew(usmAuthProtos[auth].hash, &raw); status < 0)
        return fromCrypto(status);
    CryptoHashPtr ctx(raw);
    // The passphrase repeated, hashed in chunks that each start where the
    // passphrase does, so that every chunk is the same octets.
    Secret<4096> buffer;
    std::span<const uint8_t> chunk = passphrase;
    if (passphrase.size() <= buffer.octets.size()) {
        std::size_t copies = buffer.octets.size() / passphrase.size();
        for (std::size_t i = 0; i < copies; ++i)
            std::memcpy(buffer.octets.data() + i * passphrase.size(), passphrase.data(),
                        passphrase.size());
        chunk = std::span(buffer.octets).first(copies * passphrase.size());
    }
    std::size_t left = USM_PASSPHRASE_OCTETS;
    int status = CRYPTO_OK;
    for (; status >= 0 && left >= chunk.size(); left -= chunk.size())
        status = cryptoHashUpdate(ctx.get(), chunk);
    if (status >= 0)
        status = cryptoHashUpdate(ctx.get(), chunk.first(left));
    if (status >= 0)
        status = cryptoHashFinal(ctx.get(), ku);
    return fromCrypto(status);
}

int usmLocalizeKey(UsmAuth auth, std::span<const uint8_t> ku, std::span<const uint8_t> engineId,
                   std::span<uint8_t> kul) {
    if (auth == USM_AUTH_NONE || auth >= USM_AUTH_COUNT)
        return USM_CRYPTO_EINVAL;
    CryptoHashCtx *raw = nullptr;
    int status = cryptoHashNew(usmAuthProtos[auth].hash, &raw);
    CryptoHashPtr ctx(raw);
    for (auto part : {ku, engineId, ku})
        if (status >= 0)
            status = cryptoHashUpdate(ctx.get(), part);
    if (status >= 0)
        status = cryptoHashFinal(ctx.get(), kul);
    return fromCrypto(status);
}

bool usmEqual(std::span<const uint8_t> a, std::span<const uint8_t> b) {
    if (a.size() != b.size())
        return false;
    // No early exit: the time does not tell how many leading octets matched.
    volatile uint8_t diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        diff = static_cast<uint8_t>(diff | (a[i] ^ b[i]));
    return diff == 0;
}

namespace {

// The MAC over message with the field zeroed (RFC 3414, 6.3.1 and 7.3.1):
// the field is zeroed here and left so.
int macOf(const UsmKeys &keys, std::span<uint8_t> message, std::size_t offset, std::size_t length,
          std::span<uint8_t> digest) {
    if (!keys.mac || length != usmAuthProtos[keys.auth].macLength || offset > message.size() ||
        length > message.size() - offset)
        return USM_CRYPTO_EINVAL;
    std::memset(message.data() + offset, 0, length);
    return fromCrypto(cryptoMac(keys.mac, digest, message));
}

} // namespace

int usmSign(const UsmKeys &keys, std::span<uint8_t> message, std::size_t offset,
            std::size_t length) {
    Secret<CRYPTO_DIGEST_MAX> digest;
    int status = macOf(keys, message, offset, length, digest.octets);
    if (status < 0)
        return status;
    std::memcpy(message.data() + offset, digest.octets.data(), length);
    return USM_CRYPTO_OK;
}

int usmVerify(const UsmKeys &keys, std::span<uint8_t> message, std::size_t offset,
              std::size_t length) {
    std::array<uint8_t, USM_MAC_MAX> received{};
    if (offset <= message.size() &&
        length <= std::min<std::size_t>(USM_MAC_MAX, message.size() - offset))
        std::memcpy(received.data(), message.data() + offset, length);
    else
        return USM_CRYPTO_EINVAL;
    Secret<CRYPTO_DIGEST_MAX> digest;
    int status = macOf(keys, message, offset, length, digest.octets);
    std::memcpy(message.data() + offset, received.data(), length);
    if (status < 0)
        return status;
    return usmEqual(std::span(received).first(length), std::span(digest.octets).first(length))
               ? USM_CRYPTO_OK
               : USM_CRYPTO_EWRONG_DIGEST;
}

UsmKeys::UsmKeys(UsmKeys &&other) noexcept {
    *this = std::move(other);
}

UsmKeys &UsmKeys::operator=(UsmKeys &&other) noexcept {
    if (this != &other) {
        usmKeysRelease(*this);
        auth = other.auth;
        priv = other.priv;
        authKey = other.authKey;
        privKey = other.privKey;
        mac = other.mac;
        other.mac = nullptr;
        cipher = other.cipher;
        other.cipher = nullptr;
        usmKeysRelease(other);
    }
    return *this;
}

UsmKeys::~UsmKeys() {
    usmKeysRelease(*this);
}

void usmKeysRelease(UsmKeys &keys) {
    cryptoWipe(keys.authKey.data(), keys.authKey.size());
    cryptoWipe(keys.privKey.data(), keys.privKey.size());
    cryptoMacFree(keys.mac);
    keys.mac = nullptr;
    cryptoCipherFree(keys.cipher);
    keys.cipher = nullptr;
    keys.auth = USM_AUTH_NONE;
    keys.priv = USM_PRIV_NONE;
}

namespace {

bool protocolsValid(UsmAuth auth, UsmPriv priv) {
    // RFC 3412, 6.4: privacy without authentication is not a security level.
    return auth < USM_AUTH_COUNT && priv < USM_PRIV_COUNT &&
           (priv == USM_PRIV_NONE || auth != USM_AUTH_NONE);
}

// Makes the authentication key ready for HMAC.
int finishAuth(UsmKeys &keys) {
    return fromCrypto(cryptoMacNew(usmAuthProtos[keys.auth].hash, keys.authSpan(), &keys.mac));
}

// Takes the localized privacy key (have octets in keys.privKey), extends it
// and makes its schedule.
int finishPriv(UsmKeys &keys, int have, std::span<const uint8_t> engineId) {
    const UsmPrivProto &proto = usmPrivProtos[keys.priv];
    if (keys.priv == USM_PRIV_NONE)
        return USM_CRYPTO_OK;
    if (have < proto.keyLength) {
        if (!proto.extend)
            return USM_CRYPTO_EINVAL;
        have = proto.extend(keys.auth, keys.privKey, have, proto.keyLength, engineId);
        if (have < 0)
            return have;
    }
    return fromCrypto(cryptoCipherNew(
        proto.cipher, std::span(keys.privKey).first(proto.cipherKeyLength), &keys.cipher));
}

} // namespace

int usmKeysFromPassphrases(UsmKeys &keys, UsmAuth auth, UsmPriv priv,
                           std::span<const uint8_t> authPassphrase,
                           std::span<const uint8_t> privPassphrase,
                           std::span<const uint8_t> engineId) {
    usmKeysRelease(keys);
    if (!protocolsValid(auth, priv))
        return USM_CRYPTO_EINVAL;
    keys.auth = auth;
    keys.priv = priv;
    if (auth == USM_AUTH_NONE)
        return USM_CRYPTO_OK;
    Secret<USM_KEY_MAX> ku, kul;
    int status = usmPassphraseToKey(auth, authPassphrase, ku.octets);
    if (status >= 0)
        status = usmLocalizeKey(auth, std::span(ku.octets).first(status), engineId, keys.authKey);
    if (status >= 0)
        status = finishAuth(keys);
    if (status >= 0 && priv != USM_PRIV_NONE) {
        status = usmPassphraseToKey(auth, privPassphrase, ku.octets);
        if (status >= 0)
            status = usmLocalizeKey(auth, std::span(ku.octets).first(status), engineId, kul.octets);
        if (status >= 0) {
            int have = std::min(status, USM_PRIV_KEY_MAX);
            std::memcpy(keys.privKey.data(), kul.octets.data(), have);
            status = finishPriv(keys, have, engineId);
        }
    }
    if (status < 0)
        usmKeysRelease(keys);
    return status < 0 ? status : USM_CRYPTO_OK;
}

int usmKeysFromLocalized(UsmKeys &keys, UsmAuth auth, UsmPriv priv,
                         std::span<const uint8_t> authKey, std::span<const uint8_t> privKey,
                         std::span<const uint8_t> engineId) {
    usmKeysRelease(keys);
    // A privacy key is either as long as the digest (to be extended) or at
    // least as long as the protocol's key (already extended, as snmpd keeps it).
    if (!protocolsValid(auth, priv) || authKey.size() != usmAuthProtos[auth].keyLength ||
        (priv != USM_PRIV_NONE && privKey.size() != usmAuthProtos[auth].keyLength &&
         privKey.size() < usmPrivProtos[priv].keyLength))
        return USM_CRYPTO_EINVAL;
    keys.auth = auth;
    keys.priv = priv;
    std::copy(authKey.begin(), authKey.end(), keys.authKey.begin());
    int have = static_cast<int>(std::min<std::size_t>(privKey.size(), USM_PRIV_KEY_MAX));
    std::copy_n(privKey.begin(), have, keys.privKey.begin());
    int status = auth == USM_AUTH_NONE ? USM_CRYPTO_OK : finishAuth(keys);
    if (status >= 0 && priv != USM_PRIV_NONE)
        status = finishPriv(keys, have, engineId);
    if (status < 0)
        usmKeysRelease(keys);
    return status;
}

int usmEncrypt(const UsmKeys &keys, uint32_t boots, uint32_t time, std::span<const uint8_t> salt,
               std::span<const uint8_t> in, std::span<uint8_t> out) {
    const UsmPrivProto &proto = usmPrivProtos[keys.priv];
    if (!keys.cipher || salt.size() != proto.saltLength)
        return USM_CRYPTO_EINVAL;
    return proto.encrypt(keys, boots, time, salt, in, out);
}

int usmDecrypt(const UsmKeys &keys, uint32_t boots, uint32_t time, std::span<const uint8_t> salt,
               std::span<const uint8_t> in, std::span<uint8_t> out) {
    const UsmPrivProto &proto = usmPrivProtos[keys.priv];
    if (!keys.cipher || salt.size() != proto.saltLength)
        return USM_CRYPTO_EINVAL;
    return proto.decrypt(keys, boots, time, salt, in, out);
}
