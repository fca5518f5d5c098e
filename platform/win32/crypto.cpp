// The cryptography of CNG (bcrypt). CNG has no SHA-224 and no DES: DES is
// 3DES with the key K || K || K, which is DES by construction (FIPS 46-3),
// offered only when a known answer at start confirms it. Algorithm handles
// are opened once; a key handle is made per key.
#include "platform/crypto.h"

#include <windows.h>

#include <bcrypt.h>

#include <array>
#include <cstring>

struct CryptoHashCtx {
    BCRYPT_HASH_HANDLE handle;
    CryptoHash hash;
};

struct CryptoCipher {
    BCRYPT_KEY_HANDLE key;
    ULONG block;
    bool cbc;
    uint64_t calls; // in CBC mode, the IV of the last block
};

namespace {

// None for SHA-224: CNG does not offer it.
constexpr std::array<LPCWSTR, CRYPTO_HASH_COUNT> hashNames = {
    BCRYPT_MD5_ALGORITHM,    BCRYPT_SHA1_ALGORITHM,   nullptr,
    BCRYPT_SHA256_ALGORITHM, BCRYPT_SHA384_ALGORITHM, BCRYPT_SHA512_ALGORITHM};

struct Library {
    std::array<BCRYPT_ALG_HANDLE, CRYPTO_HASH_COUNT> hash{};
    std::array<BCRYPT_ALG_HANDLE, CRYPTO_HASH_COUNT> hmac{};
    BCRYPT_ALG_HANDLE aes = nullptr;
    BCRYPT_ALG_HANDLE des = nullptr; // 3DES, null when it does not act as DES
    bool aesCbc = false, desCbc = false;
};

// ECB, or where a provider lacks it (Wine's 3DES) CBC, which with a zero IV
// is ECB for one block.
BCRYPT_ALG_HANDLE openBlock(LPCWSTR name, bool &cbc) {
    BCRYPT_ALG_HANDLE alg = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&alg, name, nullptr, 0)))
        return nullptr;
    auto mode = [&](const wchar_t *chain, std::size_t size) {
        return BCRYPT_SUCCESS(BCryptSetProperty(
            alg, BCRYPT_CHAINING_MODE, reinterpret_cast<PUCHAR>(const_cast<wchar_t *>(chain)),
            static_cast<ULONG>(size), 0));
    };
    cbc = false;
    if (mode(BCRYPT_CHAIN_MODE_ECB, sizeof(BCRYPT_CHAIN_MODE_ECB)))
        return alg;
    cbc = true;
    if (mode(BCRYPT_CHAIN_MODE_CBC, sizeof(BCRYPT_CHAIN_MODE_CBC)))
        return alg;
    BCryptCloseAlgorithmProvider(alg, 0);
    return nullptr;
}

// One block in ECB; in CBC mode, CBC of one block under an IV never used
// before by this key: Wine's CBC carries its state into the next call when the
// IV equals the last one, so a zero IV each time would chain the blocks.
int blockOf(CryptoCipher &cipher, bool decrypt, const uint8_t *in, uint8_t *out) {
    ULONG n = cipher.block;
    std::array<uint8_t, CRYPTO_BLOCK_MAX> copy{}, iv{}, used{};
    std::memcpy(copy.data(), in, n); // in and out may be the same
    if (cipher.cbc) {
        ++cipher.calls;
        std::memcpy(iv.data(), &cipher.calls, sizeof cipher.calls);
        used = iv;    // CNG overwrites the IV it is given
        if (!decrypt) // CBC encrypts block XOR IV: give it block XOR IV XOR IV
            for (ULONG i = 0; i < n; ++i)
                copy[i] ^= iv[i];
    }
    ULONG written = 0;
    PUCHAR chain = cipher.cbc ? iv.data() : nullptr;
    ULONG chainLength = cipher.cbc ? n : 0;
    NTSTATUS status = decrypt ? BCryptDecrypt(cipher.key, copy.data(), n, nullptr, chain,
                                              chainLength, out, n, &written, 0)
                              : BCryptEncrypt(cipher.key, copy.data(), n, nullptr, chain,
                                              chainLength, out, n, &written, 0);
    if (cipher.cbc && decrypt)
        for (ULONG i = 0; i < n; ++i)
            out[i] ^= used[i];
    SecureZeroMemory(copy.data(), copy.size());
    return BCRYPT_SUCCESS(status) && written == n ? CRYPTO_OK : CRYPTO_EFAILED;
}

// FIPS 81's example: DES with key 0123456789abcdef turns "Now is t" into
// 3fa40e8a984d4815; 3DES must do the same with the key repeated thrice.
bool actsAsDes(BCRYPT_ALG_HANDLE alg, bool cbc) {
    constexpr uint8_t key[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
    constexpr uint8_t plain[8] = {'N', 'o', 'w', ' ', 'i', 's', ' ', 't'};
    constexpr uint8_t expected[8] = {0x3f, 0xa4, 0x0e, 0x8a, 0x98, 0x4d, 0x48, 0x15};
    uint8_t triple[24];
    for (int i = 0; i < 3; ++i)
        std::memcpy(triple + 8 * i, key, 8);
    BCRYPT_KEY_HANDLE handle = nullptr;
    if (!BCRYPT_SUCCESS(BCryptGenerateSymmetricKey(alg, &handle, nullptr, 0, triple, 24, 0)))
        return false;
    CryptoCipher probe{handle, 8, cbc, 0};
    uint8_t out[8] = {}, again[8] = {}, back[8] = {};
    bool ok = blockOf(probe, false, plain, out) == CRYPTO_OK &&
              blockOf(probe, false, plain, again) == CRYPTO_OK &&
              std::memcmp(out, expected, 8) == 0 && std::memcmp(again, expected, 8) == 0 &&
              blockOf(probe, true, out, back) == CRYPTO_OK && std::memcmp(back, plain, 8) == 0;
    BCryptDestroyKey(handle);
    return ok;
}

Library load() {
    Library lib;
    for (int h = 0; h < CRYPTO_HASH_COUNT; ++h) {
        if (!hashNames[h])
            continue;
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&lib.hash[h], hashNames[h], nullptr, 0)))
            lib.hash[h] = nullptr;
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&lib.hmac[h], hashNames[h], nullptr,
                                                        BCRYPT_ALG_HANDLE_HMAC_FLAG)))
            lib.hmac[h] = nullptr;
    }
    lib.aes = openBlock(BCRYPT_AES_ALGORITHM, lib.aesCbc);
    lib.des = openBlock(BCRYPT_3DES_ALGORITHM, lib.desCbc);
    if (lib.des && !actsAsDes(lib.des, lib.desCbc)) {
        BCryptCloseAlgorithmProvider(lib.des, 0);
        lib.des = nullptr;
    }
    return lib;
}

// Opened once, by whichever thread comes first; kept for the life of the process.
const Library &library() {
    static const Library lib = load();
    return lib;
}

int statusOf(BCRYPT_ALG_HANDLE alg, int hash) {
    if (hash < 0 || hash >= CRYPTO_HASH_COUNT)
        return CRYPTO_EINVAL;
    return alg ? CRYPTO_OK : hashNames[hash] ? CRYPTO_EFAILED : CRYPTO_EUNAVAILABLE;
}

} // namespace

int cryptoHashNew(CryptoHash hash, CryptoHashCtx **out) {
    *out = nullptr;
    int status = statusOf(hash < CRYPTO_HASH_COUNT ? library().hash[hash] : nullptr, hash);
    if (status < 0)
        return status;
    BCRYPT_HASH_HANDLE handle = nullptr;
    if (!BCRYPT_SUCCESS(BCryptCreateHash(library().hash[hash], &handle, nullptr, 0, nullptr, 0, 0)))
        return CRYPTO_EFAILED;
    *out = new CryptoHashCtx{handle, hash};
    return CRYPTO_OK;
}

int cryptoHashUpdate(CryptoHashCtx *ctx, std::span<const uint8_t> data) {
    if (!ctx->handle)
        return CRYPTO_EFAILED;
    return BCRYPT_SUCCESS(BCryptHashData(ctx->handle, const_cast<PUCHAR>(data.data()),
                                         static_cast<ULONG>(data.size()), 0))
               ? CRYPTO_OK
               : CRYPTO_EFAILED;
}

int cryptoHashFinal(CryptoHashCtx *ctx, std::span<uint8_t> out) {
    int length = cryptoDigestLength[ctx->hash];
    if (out.size() < static_cast<std::size_t>(length))
        return CRYPTO_EINVAL;
    if (!ctx->handle)
        return CRYPTO_EFAILED;
    NTSTATUS status = BCryptFinishHash(ctx->handle, out.data(), length, 0);
    // A finished hash object cannot take input again: start a new one.
    BCryptDestroyHash(ctx->handle);
    ctx->handle = nullptr;
    if (!BCRYPT_SUCCESS(
            BCryptCreateHash(library().hash[ctx->hash], &ctx->handle, nullptr, 0, nullptr, 0, 0)))
        ctx->handle = nullptr;
    return BCRYPT_SUCCESS(status) ? length : CRYPTO_EFAILED;
}

void cryptoHashFree(CryptoHashCtx *ctx) {
    if (!ctx)
        return;
    if (ctx->handle)
        BCryptDestroyHash(ctx->handle); // CNG zeroes the objects it allocated
    delete ctx;
}

int cryptoHmac(CryptoHash hash, std::span<const uint8_t> key, std::span<uint8_t> out,
               std::span<const uint8_t> data, std::span<const uint8_t> more) {
    if (hash >= CRYPTO_HASH_COUNT || out.size() < std::size_t(cryptoDigestLength[hash]))
        return CRYPTO_EINVAL;
    BCRYPT_ALG_HANDLE alg = library().hmac[hash];
    if (int status = statusOf(alg, hash); status < 0)
        return status;
    BCRYPT_HASH_HANDLE handle = nullptr;
    int length = cryptoDigestLength[hash];
    bool ok =
        BCRYPT_SUCCESS(BCryptCreateHash(alg, &handle, nullptr, 0, const_cast<PUCHAR>(key.data()),
                                        static_cast<ULONG>(key.size()), 0)) &&
        BCRYPT_SUCCESS(BCryptHashData(handle, const_cast<PUCHAR>(data.data()),
                                      static_cast<ULONG>(data.size()), 0)) &&
        (more.empty() || BCRYPT_SUCCESS(BCryptHashData(handle, const_cast<PUCHAR>(more.data()),
                                                       static_cast<ULONG>(more.size()), 0))) &&
        BCRYPT_SUCCESS(BCryptFinishHash(handle, out.data(), length, 0));
    if (handle)
        BCryptDestroyHash(handle);
    return ok ? length : CRYPTO_EFAILED;
}

// CNG's reusable hash objects are not relied on: the key is kept and each
// message hashed as cryptoHmac does.
struct CryptoMac {
    CryptoHash hash;
    std::array<uint8_t, CRYPTO_DIGEST_MAX> key;
    std::size_t length;
};

int cryptoMacNew(CryptoHash hash, std::span<const uint8_t> key, CryptoMac **out) {
    *out = nullptr;
    if (hash >= CRYPTO_HASH_COUNT || key.size() > CRYPTO_DIGEST_MAX)
        return CRYPTO_EINVAL;
    if (int status = statusOf(library().hmac[hash], hash); status < 0)
        return status;
    auto *mac = new CryptoMac{hash, {}, key.size()};
    std::memcpy(mac->key.data(), key.data(), key.size());
    *out = mac;
    return CRYPTO_OK;
}

int cryptoMac(CryptoMac *mac, std::span<uint8_t> out, std::span<const uint8_t> data,
              std::span<const uint8_t> more) {
    if (!mac)
        return CRYPTO_EINVAL;
    return cryptoHmac(mac->hash, std::span(mac->key).first(mac->length), out, data, more);
}

void cryptoMacFree(CryptoMac *mac) {
    if (!mac)
        return;
    SecureZeroMemory(mac->key.data(), mac->key.size());
    delete mac;
}

int cryptoCipherNew(CryptoCipherKind kind, std::span<const uint8_t> key, CryptoCipher **out) {
    *out = nullptr;
    const Library &lib = library();
    std::array<uint8_t, 32> secret{};
    ULONG length = 0;
    BCRYPT_ALG_HANDLE alg = nullptr;
    bool cbc = false;
    if (kind == CRYPTO_AES && (key.size() == 16 || key.size() == 24 || key.size() == 32)) {
        alg = lib.aes;
        cbc = lib.aesCbc;
        length = static_cast<ULONG>(key.size());
        std::memcpy(secret.data(), key.data(), length);
    } else if (kind == CRYPTO_DES && key.size() == 8) {
        if (!lib.des)
            return CRYPTO_EUNAVAILABLE;
        alg = lib.des;
        cbc = lib.desCbc;
        length = 24;
        for (int i = 0; i < 3; ++i)
            std::memcpy(secret.data() + 8 * i, key.data(), 8);
    } else {
        return CRYPTO_EINVAL;
    }
    BCRYPT_KEY_HANDLE handle = nullptr;
    NTSTATUS status =
        alg ? BCryptGenerateSymmetricKey(alg, &handle, nullptr, 0, secret.data(), length, 0) : -1;
    SecureZeroMemory(secret.data(), secret.size());
    if (!BCRYPT_SUCCESS(status))
        return CRYPTO_EFAILED;
    *out = new CryptoCipher{handle, static_cast<ULONG>(cryptoBlockLength[kind]), cbc, 0};
    return CRYPTO_OK;
}

int cryptoCipherBlocks(CryptoCipher *cipher, bool decrypt, const uint8_t *in, uint8_t *out,
                       int count) {
    if ((decrypt && cipher->block != 8) || count < 1 || count > CRYPTO_BLOCKS_MAX)
        return CRYPTO_EINVAL; // AES is used for encryption only (CFB)
    // Block by block: DES is CBC underneath (see blockOf).
    for (int i = 0; i < count; ++i) {
        std::size_t at = static_cast<std::size_t>(i) * cipher->block;
        if (int status = blockOf(*cipher, decrypt, in + at, out + at); status != CRYPTO_OK)
            return status;
    }
    return CRYPTO_OK;
}

void cryptoCipherFree(CryptoCipher *cipher) {
    if (!cipher)
        return;
    BCryptDestroyKey(cipher->key);
    delete cipher;
}

bool cryptoHashAvailable(CryptoHash hash) {
    return hash < CRYPTO_HASH_COUNT && library().hash[hash] && library().hmac[hash];
}

bool cryptoDesAvailable() {
    return library().des != nullptr;
}

int cryptoRandom(std::span<uint8_t> out) {
    return BCRYPT_SUCCESS(BCryptGenRandom(nullptr, out.data(), static_cast<ULONG>(out.size()),
                                          BCRYPT_USE_SYSTEM_PREFERRED_RNG))
               ? CRYPTO_OK
               : CRYPTO_EFAILED;
}

void cryptoWipe(void *p, std::size_t n) {
    SecureZeroMemory(p, n);
}
