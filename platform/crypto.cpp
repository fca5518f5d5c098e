// The cryptography of OpenSSL 3's libcrypto, in a library context of its own:
// its "default" provider, and its "legacy" one for DES when installed (once one
// provider is loaded explicitly, the default one must be loaded too).
// Algorithms are fetched once, when first used; a cipher context is made
// once per key. AES is taken from the default provider's own dispatch table
// (provider-cipher(7)) rather than fetched: a fetch first builds a method for
// every cipher the provider has, over a millisecond of a walker's start.
#include "platform/crypto.h"

#include <openssl/core_dispatch.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/provider.h>

#include <array>
#include <cerrno>
#include <cstring>
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

namespace {

// The provider functions AES needs: a context, a key, whole blocks.
struct AesImpl {
    OSSL_FUNC_cipher_newctx_fn *newctx = nullptr;
    OSSL_FUNC_cipher_encrypt_init_fn *init = nullptr;
    OSSL_FUNC_cipher_cipher_fn *cipher = nullptr;
    OSSL_FUNC_cipher_freectx_fn *freectx = nullptr;
};

} // namespace

struct CryptoCipher {
    EVP_CIPHER_CTX *encrypt;
    EVP_CIPHER_CTX *decrypt; // DES only
    int block;
    void *aes; // AES: the provider's context, encryption only
    const AesImpl *impl;
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
    OSSL_PROVIDER *provider = nullptr; // "default"
    bool ready = false;                // the context with its default provider
    std::array<std::once_flag, CRYPTO_HASH_COUNT> hashOnce;
    std::array<EVP_MD *, CRYPTO_HASH_COUNT> md{};
    // One HMAC context per hash with its digest set and no key: each call
    // copies it, which is cheaper than naming the digest again.
    std::array<EVP_MAC_CTX *, CRYPTO_HASH_COUNT> hmac{};
    std::array<std::once_flag, 3> aesOnce;
    std::array<AesImpl, 3> aes{}; // 128, 192, 256
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
        lib.provider = lib.ctx ? OSSL_PROVIDER_load(lib.ctx, "default") : nullptr;
        lib.ready = lib.provider != nullptr;
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

// Whether an algorithm's names ("NAME:ALIAS:...") include name.
bool named(const char *names, const char *name) {
    std::size_t length = std::strlen(name);
    for (const char *at = names;; ++at) {
        if (std::strncmp(at, name, length) == 0 && (at[length] == ':' || at[length] == '\0'))
            return true;
        at = std::strchr(at, ':');
        if (!at)
            return false;
    }
}

// The default provider's AES for a key length, or null when it lacks one.
const AesImpl *aesImpl(size_t keyLength) {
    Library &lib = library();
    size_t i = (keyLength - 16) / 8;
    if (!lib.ready)
        return nullptr;
    std::call_once(lib.aesOnce[i], [&lib, i] {
        constexpr std::array<const char *, 3> names = {"AES-128-ECB", "AES-192-ECB", "AES-256-ECB"};
        int noCache = 0;
        const OSSL_ALGORITHM *a =
            OSSL_PROVIDER_query_operation(lib.provider, OSSL_OP_CIPHER, &noCache);
        for (; a && a->algorithm_names && !named(a->algorithm_names, names[i]); ++a) {
        }
        AesImpl found;
        for (const OSSL_DISPATCH *f = a && a->algorithm_names ? a->implementation : nullptr;
             f && f->function_id != 0; ++f) {
            switch (f->function_id) {
            case OSSL_FUNC_CIPHER_NEWCTX:
                found.newctx = OSSL_FUNC_cipher_newctx(f);
                break;
            case OSSL_FUNC_CIPHER_ENCRYPT_INIT:
                found.init = OSSL_FUNC_cipher_encrypt_init(f);
                break;
            case OSSL_FUNC_CIPHER_CIPHER:
                found.cipher = OSSL_FUNC_cipher_cipher(f);
                break;
            case OSSL_FUNC_CIPHER_FREECTX:
                found.freectx = OSSL_FUNC_cipher_freectx(f);
                break;
            default:
                break;
            }
        }
        if (found.newctx && found.init && found.cipher && found.freectx)
            lib.aes[i] = found;
    });
    return lib.aes[i].newctx ? &lib.aes[i] : nullptr;
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

namespace {

// HMAC of data then more into out with the context keyed by key, or with the
// key it already holds when key is null: the digest length, or CRYPTO_EFAILED.
int macOver(EVP_MAC_CTX *mac, const uint8_t *key, std::size_t keyLength, std::span<uint8_t> out,
            std::span<const uint8_t> data, std::span<const uint8_t> more) {
    std::size_t written = 0;
    bool ok = mac && EVP_MAC_init(mac, key, keyLength, nullptr) &&
              EVP_MAC_update(mac, data.data(), data.size()) &&
              (more.empty() || EVP_MAC_update(mac, more.data(), more.size())) &&
              EVP_MAC_final(mac, out.data(), &written, out.size());
    return ok ? static_cast<int>(written) : CRYPTO_EFAILED;
}

} // namespace

int cryptoHmac(CryptoHash hash, std::span<const uint8_t> key, std::span<uint8_t> out,
               std::span<const uint8_t> data, std::span<const uint8_t> more) {
    if (hash >= CRYPTO_HASH_COUNT || out.size() < std::size_t(cryptoDigestLength[hash]))
        return CRYPTO_EINVAL;
    if (!hashReady(hash))
        return CRYPTO_EFAILED;
    EVP_MAC_CTX *mac = EVP_MAC_CTX_dup(library().hmac[hash]);
    int status = macOver(mac, key.data(), key.size(), out, data, more);
    EVP_MAC_CTX_free(mac); // cleanses the keyed state
    return status;
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
    return macOver(mac->keyed, nullptr, 0, out, data, more);
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
    if (kind == CRYPTO_AES && (key.size() == 16 || key.size() == 24 || key.size() == 32)) {
        const AesImpl *impl = aesImpl(key.size());
        if (!impl)
            return CRYPTO_EUNAVAILABLE;
        void *aes = impl->newctx(OSSL_PROVIDER_get0_provider_ctx(library().provider));
        if (!aes || !impl->init(aes, key.data(), key.size(), nullptr, 0, nullptr)) {
            if (aes)
                impl->freectx(aes);
            return CRYPTO_EFAILED;
        }
        *out = new CryptoCipher{nullptr, nullptr, cryptoBlockLength[kind], aes, impl};
        return CRYPTO_OK;
    }
    if (kind != CRYPTO_DES || key.size() != 8)
        return CRYPTO_EINVAL;
    const EVP_CIPHER *type = desCipher();
    if (!type)
        return CRYPTO_EUNAVAILABLE;
    auto *cipher = new CryptoCipher{nullptr, nullptr, cryptoBlockLength[kind], nullptr, nullptr};
    auto make = [&](int encrypt) {
        EVP_CIPHER_CTX *c = EVP_CIPHER_CTX_new();
        if (c && EVP_CipherInit_ex2(c, type, key.data(), nullptr, encrypt, nullptr) &&
            EVP_CIPHER_CTX_set_padding(c, 0))
            return c;
        EVP_CIPHER_CTX_free(c);
        return static_cast<EVP_CIPHER_CTX *>(nullptr);
    };
    cipher->encrypt = make(1);
    cipher->decrypt = make(0);
    if (!cipher->encrypt || !cipher->decrypt) {
        cryptoCipherFree(cipher);
        return CRYPTO_EFAILED;
    }
    *out = cipher;
    return CRYPTO_OK;
}

int cryptoCipherBlocks(CryptoCipher *cipher, bool decrypt, const uint8_t *in, uint8_t *out,
                       int count) {
    if (count < 1 || count > CRYPTO_BLOCKS_MAX)
        return CRYPTO_EINVAL;
    int length = count * cipher->block;
    if (cipher->aes) {
        std::size_t done = 0;
        if (decrypt)
            return CRYPTO_EINVAL;
        return cipher->impl->cipher(cipher->aes, out, &done, std::size_t(length), in,
                                    std::size_t(length)) &&
                       done == std::size_t(length)
                   ? CRYPTO_OK
                   : CRYPTO_EFAILED;
    }
    EVP_CIPHER_CTX *c = decrypt ? cipher->decrypt : cipher->encrypt;
    if (!c)
        return CRYPTO_EINVAL;
    // ECB without padding: whole blocks in give the same blocks out at once.
    int written = 0;
    if (!EVP_CipherUpdate(c, out, &written, in, length) || written != length)
        return CRYPTO_EFAILED;
    return CRYPTO_OK;
}

void cryptoCipherFree(CryptoCipher *cipher) {
    if (!cipher)
        return;
    if (cipher->aes)
        cipher->impl->freectx(cipher->aes); // clears the key schedule, as EVP's free would
    EVP_CIPHER_CTX_free(cipher->encrypt);   // cleanses the key schedule
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
