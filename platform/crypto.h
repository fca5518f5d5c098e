// The cryptography the User-based Security Model needs (RFC 3414, RFC 7860,
// RFC 3826): hashes, HMAC, one block of AES or DES, random octets and a wipe.
// Modes of operation (CFB, CBC) are built above this, once for every platform.
//
// Bounds: a digest holds at most CRYPTO_DIGEST_MAX octets (SHA-512); a block
// at most CRYPTO_BLOCK_MAX (AES); one cipher call takes at most
// CRYPTO_BLOCKS_MAX blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

inline constexpr int CRYPTO_DIGEST_MAX = 64;
inline constexpr int CRYPTO_BLOCK_MAX = 16;
inline constexpr int CRYPTO_BLOCKS_MAX = 4096; // blocks in one cipher call

// Status codes: 0 or a length on success, negative on failure.
inline constexpr int CRYPTO_OK = 0;
inline constexpr int CRYPTO_EINVAL = -1;       // a length or an argument out of range
inline constexpr int CRYPTO_EUNAVAILABLE = -2; // the algorithm is not offered here
inline constexpr int CRYPTO_EFAILED = -3;      // the library failed

enum CryptoHash : uint8_t {
    CRYPTO_MD5,
    CRYPTO_SHA1,
    CRYPTO_SHA224,
    CRYPTO_SHA256,
    CRYPTO_SHA384,
    CRYPTO_SHA512,
    CRYPTO_HASH_COUNT
};

// The digest length of each hash, in octets.
inline constexpr int cryptoDigestLength[CRYPTO_HASH_COUNT] = {16, 20, 28, 32, 48, 64};

// An incremental hash; the state is wiped when it is freed.
struct CryptoHashCtx;
// 0 and *out a context ready for input, or a negative status and *out null.
int cryptoHashNew(CryptoHash hash, CryptoHashCtx **out);
int cryptoHashUpdate(CryptoHashCtx *ctx, std::span<const uint8_t> data);
// Writes the digest to out (at least the digest length) and starts a new hash
// in the same context: the digest length, or a negative status.
int cryptoHashFinal(CryptoHashCtx *ctx, std::span<uint8_t> out);
void cryptoHashFree(CryptoHashCtx *ctx);

// HMAC (RFC 2104) with key over data then more, written to out (at least the
// digest length, never truncated here): the digest length, or a negative status.
int cryptoHmac(CryptoHash hash, std::span<const uint8_t> key, std::span<uint8_t> out,
               std::span<const uint8_t> data, std::span<const uint8_t> more = {});

// An HMAC key (at most CRYPTO_DIGEST_MAX octets) made ready once, its padded
// key hashed, for many messages; wiped when freed. One context serves one
// thread at a time.
struct CryptoMac;
// 0 and *out the context, or a negative status and *out null.
int cryptoMacNew(CryptoHash hash, std::span<const uint8_t> key, CryptoMac **out);
// As cryptoHmac, with the context's hash and key.
int cryptoMac(CryptoMac *mac, std::span<uint8_t> out, std::span<const uint8_t> data,
              std::span<const uint8_t> more = {});
void cryptoMacFree(CryptoMac *mac);

enum CryptoCipherKind : uint8_t {
    CRYPTO_AES, // 16, 24 or 32 octets of key; encryption only (CFB needs no other)
    CRYPTO_DES, // 8 octets of key, parity ignored
    CRYPTO_CIPHER_COUNT
};
inline constexpr int cryptoBlockLength[CRYPTO_CIPHER_COUNT] = {16, 8};

// A key schedule, made once per key and used for every block; wiped when freed.
// One context serves one thread at a time.
struct CryptoCipher;
// 0 and *out the schedule, or a negative status (CRYPTO_EUNAVAILABLE: DES is
// not offered here) and *out null.
int cryptoCipherNew(CryptoCipherKind kind, std::span<const uint8_t> key, CryptoCipher **out);
// count blocks (1 to CRYPTO_BLOCKS_MAX) from in to out, each on its own (ECB);
// in and out may be the same. One call for many blocks lets the library
// pipeline them. Decryption is offered for DES only. 0 or a negative status.
int cryptoCipherBlocks(CryptoCipher *cipher, bool decrypt, const uint8_t *in, uint8_t *out,
                       int count);
void cryptoCipherFree(CryptoCipher *cipher);

// Whether a hash (with its HMAC) or DES is offered here: OpenSSL 3 offers
// every hash, and DES with its legacy provider; CNG has no SHA-224, and DES
// only as 3DES that passes a known answer with the key repeated.
bool cryptoHashAvailable(CryptoHash hash);
bool cryptoDesAvailable();

// Octets from the system's cryptographically secure generator: 0 or a negative status.
int cryptoRandom(std::span<uint8_t> out);

// Zeroes n octets at p in a way the compiler cannot drop.
void cryptoWipe(void *p, std::size_t n);

// Owners that free (and so wipe) what they hold.
struct CryptoHashFree {
    void operator()(CryptoHashCtx *ctx) const { cryptoHashFree(ctx); }
};
struct CryptoCipherFree {
    void operator()(CryptoCipher *cipher) const { cryptoCipherFree(cipher); }
};
using CryptoHashPtr = std::unique_ptr<CryptoHashCtx, CryptoHashFree>;
using CryptoCipherPtr = std::unique_ptr<CryptoCipher, CryptoCipherFree>;
