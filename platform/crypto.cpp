// The cryptography of OpenSSL 3's libcrypto, in a library context of its own:
// its "default" provider, and its "legacy" one for DES when installed (once one
// provider is loaded explicitly, the default one must be loaded too).
// Algorithms are fetched once, when first used; a cipher context is made
// once per key.
#include "platform/crypto.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/provider.h>

#include <array>
#include <cerrno>
#include <mutex>

#include <sys/random.h>

struct CryptoHashCtx {
    EVP_MD_CTX *md;
    const EVP_MD *type;
};

struct CryptoMac {
    EVP_MAC_CTX *keyed;
    int length;
};

struct CryptoCipher {
    EVP_CIPHER_CTX *encrypt;
    EVP_CIPHER_CTX *decrypt; // DES only
    int block;
};

namespace {

constexpr std::array<const char *, CRYPTO_HASH_COUNT> hashNames = {
    "MD5", "SHA1", "SHA2-224", "SHA2-256", "SHA2-384", "SHA2-512"};

// The library context and each algorithm, fetched on first use: a walk that
// uses one hash and AES-128 pays for those only (the legacy provider alone
// costs a millisecond to load). Each step runs once, by whichever thread
// comes first; all is kept for the life of the process.
struct Library {
    OSSL_LIB_CTX *ctx = nullptr;
    bool ready = false; // the context with its default provider
    std::array<std::once_flag, CRYPTO_HASH_COUNT> hashOnce;
    std::array<EVP_MD *, CRYPTO_HASH_COUNT> md{};
    // One HMAC context per hash with its digest set and no key: each call
    // copies it, which is cheaper than naming the digest again.
    std::array<EVP_MAC_CTX *, CRYPTO_HASH_COUNT> hmac{};
    std::array<std::once_flag, 3> aesOnce;
    std::array<EVP_CIPHER *, 3> aes{}; // 128, 192, 256
    std::once_flag desOnce;
    EVP_CIPHER *des = nullptr; // null without the legacy provider
};

Library &library() {
    static Library lib;
    static std::once_flag once;
    std::call_once(once, [] {
        // The system's openssl.cnf is not read: what is offered here does not
        // depend on it, and parsing it is most of the library's start.
        OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG | OPENSSL_INIT_NO_ADD_ALL_CIPHERS |
                                OPENSSL_INIT_NO_ADD_ALL_DIGESTS,
                            nullptr);
        lib.ctx = OSSL_LIB_CTX_new();
        lib.ready = lib.ctx && OSSL_PROVIDER_load(lib.ctx, "default");
    });
    return lib;
}

// The hash's digest and HMAC template, or false when they cannot be had.
bool hashReady(CryptoHash h) {
    Library &lib = library();
    if (!lib.ready)
        return false;
    std::call_once(lib.hashOnce[h], [&lib, h] {
        EVP_MAC *mac = EVP_MAC_fetch(lib.ctx, "HMAC", nullptr);
        EVP_MD *md = EVP_MD_fetch(lib.ctx, hashNames[h], nullptr);
        EVP_MAC_CTX *hmac = mac ? EVP_MAC_CTX_new(mac) : nullptr;
        std::array<OSSL_PARAM, 2> params = {
            OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST,
                                             const_cast<char *>(hashNames[h]), 0),
            OSSL_PARAM_construct_end()};
        EVP_MAC_free(mac); // the context holds its own reference
        if (md && hmac && EVP_MAC_CTX_set_params(hmac, params.data())) {
            lib.md[h] = md;
            lib.hmac[h] = hmac;
        } else {
            EVP_MD_free(md);
            EVP_MAC_CTX_free(hmac);
        }
    });
    return lib.md[h] != nullptr;
}

const EVP_CIPHER *aesCipher(size_t keyLength) {
    Library &lib = library();
    size_t i = (keyLength - 16) / 8;
    if (!lib.ready)
        return nullptr;
    std::call_once(lib.aesOnce[i], [&lib, i] {
        constexpr std::array<const char *, 3> names = {"AES-128-ECB", "AES-192-ECB", "AES-256-ECB"};
        lib.aes[i] = EVP_CIPHER_fetch(lib.ctx, names[i], nullptr);
    });
    return lib.aes[i];
}

const EVP_CIPHER *desCipher() {
    Library &lib = library();
    if (!lib.ready)
        return nullptr;
    std::call_once(lib.desOnce, [&lib] {
        if (OSSL_PROVIDER_load(lib.ctx, "legacy"))
            lib.des = EVP_CIPHER_fetch(lib.ctx, "DES-ECB", nullptr);
    });
    return lib.des;
}

} // namespace

int cryptoHashNew(CryptoHash hash, CryptoHashCtx **out) {
    *out = nullptr;
    if (hash >= CRYPTO_HASH_COUNT)
        return CRYPTO_EINVAL;
    if (!hashReady(hash))
        return CRYPTO_EFAILED;
    const Library &lib = library();
    EVP_MD_CTX *md = EVP_MD_CTX_new();
    if (!md || !EVP_DigestInit_ex2(md, lib.md[hash], nullptr)) {
        EVP_MD_CTX_free(md);
        return CRYPTO_EFAILED;
    }
    *out = new CryptoHashCtx{md, lib.md[hash]};
    return CRYPTO_OK;
}

int cryptoHashUpdate(CryptoHashCtx *ctx, std::span<const uint8_t> data) {
    return EVP_DigestUpdate(ctx->md, data.data(), data.size()) ? CRYPTO_OK : CRYPTO_EFAILED;
}

int cryptoHashFinal(CryptoHashCtx *ctx, std::span<uint8_t> out) {
    int length = EVP_MD_get_size(ctx->type);
    if (out.size() < static_cast<std::size_t>(length))
        return CRYPTO_EINVAL;
    unsigned written = 0;
    if (!EVP_DigestFinal_ex(ctx->md, out.data(), &written) ||
        !EVP_DigestInit_ex2(ctx->md, ctx->type, nullptr))
        return CRYPTO_EFAILED;
    return static_cast<int>(written);
}

void cryptoHashFree(CryptoHashCtx *ctx) {
    if (!ctx)
        return;
    EVP_MD_CTX_free(ctx->md); // cleanses the digest state
    delete ctx;
}

int cryptoHmac(CryptoHash hash, std::span<const uint8_t> key, std::span<uint8_t> out,
               std::span<const uint8_t> data, std::span<const uint8_t> more) {
    if (hash >= CRYPTO_HASH_COUNT || out.size() < std::size_t(cryptoDigestLength[hash]))
        return CRYPTO_EINVAL;
    if (!hashReady(hash))
        return CRYPTO_EFAILED;
    EVP_MAC_CTX *mac = EVP_MAC_CTX_dup(library().hmac[hash]);
    std::size_t written = 0;
    bool ok = mac && EVP_MAC_init(mac, key.data(), key.size(), nullptr) &&
              EVP_MAC_update(mac, data.data(), data.size()) &&
              (more.empty() || EVP_MAC_update(mac, more.data(), more.size())) &&
              EVP_MAC_final(mac, out.data(), &written, out.size());
    EVP_MAC_CTX_free(mac); // cleanses the keyed state
    return ok ? static_cast<int>(written) : CRYPTO_EFAILED;
}

int cryptoMacNew(CryptoHash hash, std::span<const uint8_t> key, CryptoMac **out) {
    *out = nullptr;
    if (hash >= CRYPTO_HASH_COUNT || key.size() > CRYPTO_DIGEST_MAX)
        return CRYPTO_EINVAL;
    if (!hashReady(hash))
        return CRYPTO_EFAILED;
    EVP_MAC_CTX *keyed = EVP_MAC_CTX_dup(library().hmac[hash]);
    if (!keyed || !EVP_MAC_init(keyed, key.data(), key.size(), nullptr)) {
        EVP_MAC_CTX_free(keyed);
        return CRYPTO_EFAILED;
    }
    *out = new CryptoMac{keyed, cryptoDigestLength[hash]};
    return CRYPTO_OK;
}

int cryptoMac(CryptoMac *mac, std::span<uint8_t> out, std::span<const uint8_t> data,
              std::span<const uint8_t> more) {
    if (!mac || out.size() < std::size_t(mac->length))
        return CRYPTO_EINVAL;
    // No key: the one already set, whose padded blocks are hashed already.
    std::size_t written = 0;
    bool ok = EVP_MAC_init(mac->keyed, nullptr, 0, nullptr) &&
              EVP_MAC_update(mac->keyed, data.data(), data.size()) &&
              (more.empty() || EVP_MAC_update(mac->keyed, more.data(), more.size())) &&
              EVP_MAC_final(mac->keyed, out.data(), &written, out.size());
    return ok ? static_cast<int>(written) : CRYPTO_EFAILED;
}

void cryptoMacFree(CryptoMac *mac) {
    if (!mac)
        return;
    EVP_MAC_CTX_free(mac->keyed); // cleanses the keyed state
    delete mac;
}

int cryptoCipherNew(CryptoCipherKind kind, std::span<const uint8_t> key, CryptoCipher **out) {
    *out = nullptr;
    if (!library().ready)
        return CRYPTO_EFAILED;
    const EVP_CIPHER *type = nullptr;
    if (kind == CRYPTO_AES && (key.size() == 16 || key.size() == 24 || key.size() == 32))
        type = aesCipher(key.size());
    else if (kind == CRYPTO_DES && key.size() == 8)
        type = desCipher();
    else
        return CRYPTO_EINVAL;
    if (!type)
        return CRYPTO_EUNAVAILABLE;
    auto *cipher = new CryptoCipher{nullptr, nullptr, cryptoBlockLength[kind]};
    auto make = [&](int encrypt) {
        EVP_CIPHER_CTX *c = EVP_CIPHER_CTX_new();
        if (c && EVP_CipherInit_ex2(c, type, key.data(), nullptr, encrypt, nullptr) &&
            EVP_CIPHER_CTX_set_padding(c, 0))
            return c;
        EVP_CIPHER_CTX_free(c);
        return static_cast<EVP_CIPHER_CTX *>(nullptr);
    };
    cipher->encrypt = make(1);
    if (kind == CRYPTO_DES)
        cipher->decrypt = make(0);
    if (!cipher->encrypt || (kind == CRYPTO_DES && !cipher->decrypt)) {
        cryptoCipherFree(cipher);
        return CRYPTO_EFAILED;
    }
    *out = cipher;
    return CRYPTO_OK;
}

int cryptoCipherBlocks(CryptoCipher *cipher, bool decrypt, const uint8_t *in, uint8_t *out,
                       int count) {
    EVP_CIPHER_CTX *c = decrypt ? cipher->decrypt : cipher->encrypt;
    if (!c || count < 1 || count > CRYPTO_BLOCKS_MAX)
        return CRYPTO_EINVAL;
    // ECB without padding: whole blocks in give the same blocks out at once.
    int length = count * cipher->block;
    int written = 0;
    if (!EVP_CipherUpdate(c, out, &written, in, length) || written != length)
        return CRYPTO_EFAILED;
    return CRYPTO_OK;
}

void cryptoCipherFree(CryptoCipher *cipher) {
    if (!cipher)
        return;
    EVP_CIPHER_CTX_free(cipher->encrypt); // cleanses the key schedule
    EVP_CIPHER_CTX_free(cipher->decrypt);
    delete cipher;
}

bool cryptoHashAvailable(CryptoHash hash) {
    return hash < CRYPTO_HASH_COUNT && hashReady(hash);
}

bool cryptoDesAvailable() {
    return desCipher() != nullptr;
}

int cryptoRandom(std::span<uint8_t> out) {
    // The kernel's generator itself: libcrypto's would first set up a DRBG,
    // close to a millisecond of a short-lived walker's start.
    std::size_t done = 0;
    while (done < out.size()) {
        ssize_t n = getrandom(out.data() + done, out.size() - done, 0);
        if (n < 0 && errno != EINTR)
            return CRYPTO_EFAILED;
        if (n > 0)
            done += static_cast<std::size_t>(n);
    }
    return CRYPTO_OK;
}

void cryptoWipe(void *p, std::size_t n) {
    OPENSSL_cleanse(p, n);
}
