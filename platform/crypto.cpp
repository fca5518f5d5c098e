// The cryptography of OpenSSL 3's libcrypto, in a library context of its own:
// its "default" provider, and its "legacy" one for DES when installed (once one
// provider is loaded explicitly, the default one must be loaded too).
// Algorithms are found once, when first used; a cipher context is made once
// per key. Hashes and AES are called through the default provider's own
// functions, and HMAC (RFC 2104) is built on its hashes; only DES goes
// through EVP, as the legacy provider offers it.
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

namespace {

// The provider functions a hash needs (provider-digest(7)).
struct DigestImpl {
    OSSL_FUNC_digest_newctx_fn *newctx = nullptr;
    OSSL_FUNC_digest_init_fn *init = nullptr;
    OSSL_FUNC_digest_update_fn *update = nullptr;
    OSSL_FUNC_digest_final_fn *final = nullptr;
    OSSL_FUNC_digest_freectx_fn *freectx = nullptr;
};

// The provider functions AES needs: a context, a key, whole blocks.
struct AesImpl {
    OSSL_FUNC_cipher_newctx_fn *newctx = nullptr;
    OSSL_FUNC_cipher_encrypt_init_fn *init = nullptr;
    OSSL_FUNC_cipher_cipher_fn *cipher = nullptr;
    OSSL_FUNC_cipher_freectx_fn *freectx = nullptr;
};

// The input block of each hash, which HMAC pads its key to (RFC 2104, 2).
constexpr int HASH_BLOCK_MAX = 128;
constexpr std::array<int, CRYPTO_HASH_COUNT> hashBlocks = {64, 64, 64, 64, 128, 128};

} // namespace

struct CryptoHashCtx {
    const DigestImpl *impl;
    void *state; // the provider's, which its freectx clears
    int length;
};

struct CryptoMac {
    CryptoHashCtx hash;
    int block;
    // The key padded to a block and XORed with ipad and with opad (RFC 2104,
    // 2): hashing one more block per message is cheaper than copying a
    // hashed state, which the provider would allocate.
    std::array<uint8_t, HASH_BLOCK_MAX> inner, outer;
};

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

// The library context and each algorithm, found on first use: a walk that
// uses one hash and AES-128 pays for those only (the legacy provider alone
// costs a millisecond to load). Each step runs once, by whichever thread
// comes first; all is kept for the life of the process.
struct Library {
    OSSL_LIB_CTX *ctx = nullptr;
    OSSL_PROVIDER *provider = nullptr; // "default"
    void *provctx = nullptr;
    bool ready = false; // the context with its default provider
    std::array<std::once_flag, CRYPTO_HASH_COUNT> hashOnce;
    std::array<DigestImpl, CRYPTO_HASH_COUNT> digest{};
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
        // depend on it, and parsing it is most of the library's start. Error
        // strings are never printed here, and loading them, or freeing all
        // at exit, costs a short-lived walker more than its keys do.
        OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG | OPENSSL_INIT_NO_ADD_ALL_CIPHERS |
                                OPENSSL_INIT_NO_ADD_ALL_DIGESTS |
                                OPENSSL_INIT_NO_LOAD_CRYPTO_STRINGS | OPENSSL_INIT_NO_ATEXIT,
                            nullptr);
        lib.ctx = OSSL_LIB_CTX_new();
        lib.provider = lib.ctx ? OSSL_PROVIDER_load(lib.ctx, "default") : nullptr;
        lib.provctx = lib.provider ? OSSL_PROVIDER_get0_provider_ctx(lib.provider) : nullptr;
        lib.ready = lib.provider != nullptr;
    });
    return lib;
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

// The default provider's implementation of an algorithm, taken from its own
// dispatch table (provider-base(7)) rather than fetched: a fetch first builds
// a method for every algorithm of the kind, and the name map for them all,
// over a millisecond of a walker's start.
const OSSL_DISPATCH *implementation(int operation, const char *name) {
    int noCache = 0;
    const OSSL_ALGORITHM *a =
        OSSL_PROVIDER_query_operation(library().provider, operation, &noCache);
    for (; a && a->algorithm_names; ++a)
        if (named(a->algorithm_names, name))
            return a->implementation;
    return nullptr;
}

// Sets *slot to the implementation's function for id, when it has one.
template <class Fn>
void take(const OSSL_DISPATCH *f, int id, Fn **slot, Fn *(*cast)(const OSSL_DISPATCH *)) {
    for (; f && f->function_id != 0; ++f)
        if (f->function_id == id)
            *slot = cast(f);
}

// The hash's provider functions, or null when they cannot be had.
const DigestImpl *hashReady(CryptoHash h) {
    Library &lib = library();
    if (!lib.ready)
        return nullptr;
    std::call_once(lib.hashOnce[h], [&lib, h] {
        const OSSL_DISPATCH *f = implementation(OSSL_OP_DIGEST, hashNames[h]);
        DigestImpl found;
        take(f, OSSL_FUNC_DIGEST_NEWCTX, &found.newctx, OSSL_FUNC_digest_newctx);
        take(f, OSSL_FUNC_DIGEST_INIT, &found.init, OSSL_FUNC_digest_init);
        take(f, OSSL_FUNC_DIGEST_UPDATE, &found.update, OSSL_FUNC_digest_update);
        take(f, OSSL_FUNC_DIGEST_FINAL, &found.final, OSSL_FUNC_digest_final);
        take(f, OSSL_FUNC_DIGEST_FREECTX, &found.freectx, OSSL_FUNC_digest_freectx);
        if (found.newctx && found.init && found.update && found.final && found.freectx)
            lib.digest[h] = found;
    });
    return lib.digest[h].newctx ? &lib.digest[h] : nullptr;
}

// The default provider's AES for a key length, or null when it lacks one.
const AesImpl *aesImpl(size_t keyLength) {
    Library &lib = library();
    size_t i = (keyLength - 16) / 8;
    if (!lib.ready)
        return nullptr;
    std::call_once(lib.aesOnce[i], [&lib, i] {
        constexpr std::array<const char *, 3> names = {"AES-128-ECB", "AES-192-ECB", "AES-256-ECB"};
        const OSSL_DISPATCH *f = implementation(OSSL_OP_CIPHER, names[i]);
        AesImpl found;
        take(f, OSSL_FUNC_CIPHER_NEWCTX, &found.newctx, OSSL_FUNC_cipher_newctx);
        take(f, OSSL_FUNC_CIPHER_ENCRYPT_INIT, &found.init, OSSL_FUNC_cipher_encrypt_init);
        take(f, OSSL_FUNC_CIPHER_CIPHER, &found.cipher, OSSL_FUNC_cipher_cipher);
        take(f, OSSL_FUNC_CIPHER_FREECTX, &found.freectx, OSSL_FUNC_cipher_freectx);
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

// A fresh hash of the kind in *ctx, or false.
bool hashStart(CryptoHashCtx *ctx, CryptoHash hash) {
    const DigestImpl *impl = hashReady(hash);
    void *state = impl ? impl->newctx(library().provctx) : nullptr;
    if (state && !impl->init(state, nullptr)) {
        impl->freectx(state);
        state = nullptr;
    }
    *ctx = {impl, state, cryptoDigestLength[hash]};
    return state != nullptr;
}

bool hashUpdate(CryptoHashCtx *ctx, const uint8_t *data, std::size_t length) {
    return length == 0 || ctx->impl->update(ctx->state, data, length);
}

// The digest into out, then a new hash begun: the digest length, or a negative status.
int hashFinal(CryptoHashCtx *ctx, uint8_t *out, std::size_t room) {
    std::size_t written = 0;
    if (room < std::size_t(ctx->length))
        return CRYPTO_EINVAL;
    if (!ctx->impl->final(ctx->state, out, &written, room) || !ctx->impl->init(ctx->state, nullptr))
        return CRYPTO_EFAILED;
    return static_cast<int>(written);
}

void hashEnd(CryptoHashCtx *ctx) {
    if (ctx->state)
        ctx->impl->freectx(ctx->state);
    ctx->state = nullptr;
}

// Makes *mac ready for key, of any length (RFC 2104, 3: one longer than the
// block is hashed first): 0 or a negative status.
int macStart(CryptoMac *mac, CryptoHash hash, std::span<const uint8_t> key) {
    if (!hashStart(&mac->hash, hash))
        return CRYPTO_EFAILED;
    mac->block = hashBlocks[hash];
    std::array<uint8_t, CRYPTO_DIGEST_MAX> hashed;
    if (key.size() > std::size_t(mac->block)) {
        int n = hashUpdate(&mac->hash, key.data(), key.size())
                    ? hashFinal(&mac->hash, hashed.data(), hashed.size())
                    : CRYPTO_EFAILED;
        if (n < 0) {
            cryptoWipe(hashed.data(), hashed.size());
            return CRYPTO_EFAILED;
        }
        key = std::span(hashed).first(std::size_t(n));
    }
    mac->inner.fill(0x36);
    mac->outer.fill(0x5c);
    for (std::size_t i = 0; i < key.size(); ++i) {
        mac->inner[i] ^= key[i];
        mac->outer[i] ^= key[i];
    }
    cryptoWipe(hashed.data(), hashed.size());
    return CRYPTO_OK;
}

void macEnd(CryptoMac *mac) {
    hashEnd(&mac->hash);
    cryptoWipe(mac->inner.data(), mac->inner.size());
    cryptoWipe(mac->outer.data(), mac->outer.size());
}

// H(K ^ opad || H(K ^ ipad || data || more)) into out: the digest length,
// or a negative status.
int macOver(CryptoMac *mac, std::span<uint8_t> out, std::span<const uint8_t> data,
            std::span<const uint8_t> more) {
    CryptoHashCtx *h = &mac->hash;
    std::array<uint8_t, CRYPTO_DIGEST_MAX> inner;
    std::size_t block = std::size_t(mac->block);
    int n = hashUpdate(h, mac->inner.data(), block) && hashUpdate(h, data.data(), data.size()) &&
                    hashUpdate(h, more.data(), more.size())
                ? hashFinal(h, inner.data(), inner.size())
                : CRYPTO_EFAILED;
    if (n >= 0)
        n = hashUpdate(h, mac->outer.data(), block) && hashUpdate(h, inner.data(), std::size_t(n))
                ? hashFinal(h, out.data(), out.size())
                : CRYPTO_EFAILED;
    cryptoWipe(inner.data(), inner.size());
    return n;
}

} // namespace

int cryptoHashNew(CryptoHash hash, CryptoHashCtx **out) {
    *out = nullptr;
    if (hash >= CRYPTO_HASH_COUNT)
        return CRYPTO_EINVAL;
    CryptoHashCtx ctx;
    if (!hashStart(&ctx, hash))
        return CRYPTO_EFAILED;
    *out = new CryptoHashCtx(ctx);
    return CRYPTO_OK;
}

int cryptoHashUpdate(CryptoHashCtx *ctx, std::span<const uint8_t> data) {
    return hashUpdate(ctx, data.data(), data.size()) ? CRYPTO_OK : CRYPTO_EFAILED;
}

int cryptoHashFinal(CryptoHashCtx *ctx, std::span<uint8_t> out) {
    return hashFinal(ctx, out.data(), out.size());
}

void cryptoHashFree(CryptoHashCtx *ctx) {
    if (!ctx)
        return;
    hashEnd(ctx);
    delete ctx;
}

int cryptoHmac(CryptoHash hash, std::span<const uint8_t> key, std::span<uint8_t> out,
               std::span<const uint8_t> data, std::span<const uint8_t> more) {
    if (hash >= CRYPTO_HASH_COUNT || out.size() < std::size_t(cryptoDigestLength[hash]))
        return CRYPTO_EINVAL;
    CryptoMac mac;
    int status = macStart(&mac, hash, key);
    if (status == CRYPTO_OK)
        status = macOver(&mac, out, data, more);
    macEnd(&mac);
    return status;
}

int cryptoMacNew(CryptoHash hash, std::span<const uint8_t> key, CryptoMac **out) {
    *out = nullptr;
    if (hash >= CRYPTO_HASH_COUNT || key.size() > CRYPTO_DIGEST_MAX)
        return CRYPTO_EINVAL;
    auto *mac = new CryptoMac;
    if (int status = macStart(mac, hash, key); status < 0) {
        cryptoMacFree(mac);
        return status;
    }
    *out = mac;
    return CRYPTO_OK;
}

int cryptoMac(CryptoMac *mac, std::span<uint8_t> out, std::span<const uint8_t> data,
              std::span<const uint8_t> more) {
    if (!mac || out.size() < std::size_t(mac->hash.length))
        return CRYPTO_EINVAL;
    return macOver(mac, out, data, more);
}

void cryptoMacFree(CryptoMac *mac) {
    if (!mac)
        return;
    macEnd(mac);
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
        void *aes = impl->newctx(library().provctx);
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
    // glibc's memset behind a barrier the compiler keeps: several times
    // faster than OPENSSL_cleanse over the 2 KiB buffers each message wipes.
    explicit_bzero(p, n);
}
