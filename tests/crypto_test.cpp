// The security model's cryptography against known answers: RFC 3414 A.3,
// RFC 2202 and RFC 4231, NIST SP 800-38A; keys snmpd stored for its users
// (engine 80001f88047461726e6f717265736561726368, passphrases "authpass123"
// and "privpass123"), also derived by Python's hashlib from the drafts' text;
// DES-CBC and the signed messages from `openssl enc` and Python's hmac.
#include "platform/crypto.h"
#include "smp/usmcrypto.h"

#include "ber_craft.h"
#include "support.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {
using ber::Bytes;
using ber::hex;

std::span<const uint8_t> text(const char *s) {
    return {reinterpret_cast<const uint8_t *>(s), std::strlen(s)};
}
std::string hexOf(std::span<const uint8_t> octets) {
    std::string s;
    char two[3];
    for (uint8_t o : octets)
        s += (std::snprintf(two, sizeof two, "%02x", o), two);
    return s;
}
const Bytes TARNOQ = hex("80001f88047461726e6f717265736561726368");

TEST(Crypto, PassphraseToKeyAndLocalization) {
    struct Row {
        UsmAuth auth;
        const char *passphrase, *engine, *ku, *kul;
    } rows[] = {
        {USM_AUTH_MD5, "maplesyrup", "000000000000000000000002", "9faf3283884e92834ebc9847d8edd963",
         "526f5eed9fcce26f8964c2930787d82b"},
        {USM_AUTH_SHA, "maplesyrup", "000000000000000000000002",
         "9fb5cc0381497b3793528939ff788d5d79145211", "6695febc9288e36282235fc7151f128497b38f3f"},
        {USM_AUTH_SHA256, "authpass123", "80001f88047461726e6f717265736561726368", "",
         "93093b8cab9f6591d040b51281a34d7d801997f4061c4440588031fa4a2ccd44"},
    };
    for (const Row &r : rows) {
        std::array<uint8_t, USM_KEY_MAX> ku{}, kul{};
        int n = usmPassphraseToKey(r.auth, text(r.passphrase), ku);
        ASSERT_EQ(n, usmAuthProtos[r.auth].keyLength) << usmAuthNames[r.auth];
        if (*r.ku) {
            EXPECT_EQ(hexOf(std::span(ku).first(n)), r.ku) << usmAuthNames[r.auth];
        }
        Bytes engine = hex(r.engine);
        ASSERT_EQ(usmLocalizeKey(r.auth, std::span(ku).first(n), engine, kul), n);
        EXPECT_EQ(hexOf(std::span(kul).first(n)), r.kul) << usmAuthNames[r.auth];
    }
    std::array<uint8_t, USM_KEY_MAX> ku{};
    EXPECT_EQ(usmPassphraseToKey(USM_AUTH_SHA, text("7octets"), ku), USM_CRYPTO_ESHORT);
    std::array<uint8_t, 16> a{}, b{}; // salts and engine IDs come from here
    ASSERT_EQ(cryptoRandom(a) | cryptoRandom(b), 0);
    EXPECT_NE(a, b);
    EXPECT_EQ(usmPassphraseToKey(USM_AUTH_SHA, text("8 octets"), ku), 20);
}

// Both keys of a user as snmpd stored them; the privacy key extended to the
// protocol's length by either draft where the digest is shorter.
TEST(Crypto, UserKeysMatchSnmpd) {
    struct Row {
        UsmAuth auth;
        UsmPriv priv;
        const char *authKey, *privKey;
    } rows[] = {
        {USM_AUTH_MD5, USM_PRIV_DES, "1386fc4594b9f3d0ca7e324ae97be8f1",
         "8c3baeb3beef09e2ebf454c1f3b59ed1"},
        {USM_AUTH_MD5, USM_PRIV_AES192, "1386fc4594b9f3d0ca7e324ae97be8f1",
         "8c3baeb3beef09e2ebf454c1f3b59ed13a8fbf19b4a67a17"},
        {USM_AUTH_MD5, USM_PRIV_AES256, "1386fc4594b9f3d0ca7e324ae97be8f1",
         "8c3baeb3beef09e2ebf454c1f3b59ed13a8fbf19b4a67a17fe83aa1ad9a8af92"},
        {USM_AUTH_MD5, USM_PRIV_AES192C, "1386fc4594b9f3d0ca7e324ae97be8f1",
         "8c3baeb3beef09e2ebf454c1f3b59ed1211602af02b26f2f"},
        {USM_AUTH_MD5, USM_PRIV_AES256C, "1386fc4594b9f3d0ca7e324ae97be8f1",
         "8c3baeb3beef09e2ebf454c1f3b59ed1211602af02b26f2f38ad077d3b9310c7"},
        {USM_AUTH_SHA, USM_PRIV_AES192, "1279a5075f1459747ea7e08f4a7f65f52a131320",
         "520b59d8c60ff124f488a979f1e2e125078b35e183b8d5b6"},
        {USM_AUTH_SHA, USM_PRIV_AES256C, "1279a5075f1459747ea7e08f4a7f65f52a131320",
         "520b59d8c60ff124f488a979f1e2e125078b35e17f129ef1fb5c945877087182"},
        {USM_AUTH_SHA224, USM_PRIV_AES, "5fbf251448ddd5e75a9d20622f62adc5c683015544df2f88dac48800",
         "f3d583386eff1318da0e1af90273b8aa"},
        {USM_AUTH_SHA256, USM_PRIV_AES256C,
         "93093b8cab9f6591d040b51281a34d7d801997f4061c4440588031fa4a2ccd44",
         "8dc803c73085b99e20bfacac9207df52acd69c10124001528c5a3963051e9643"},
        {USM_AUTH_SHA384, USM_PRIV_AES,
         "ec5a6d552432f193a0e4325fa8329840d09d606c0716dc39f17dbe5e9d8b14d15376aafd23696b5e66178881"
         "f70986e0",
         "0826a600ce23cd4ea07067b50c9e73ae"},
        {USM_AUTH_SHA512, USM_PRIV_AES256,
         "11c94544c0959f3deab9f7676b076a5d2e0fa299f6c69cc1da3e3e256871b56ac25c7e3546bdd7ecc9a5bca7"
         "08f8a85fb809da7205ca788dd1e820d58da957f3",
         "f3eecb27e5eb5b13acec865b0b1538219ef1f535854edb08ef225cfd35f9f7e1"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(std::string(usmAuthNames[r.auth]) + "/" + usmPrivNames[r.priv]);
        if ((r.priv == USM_PRIV_DES && !cryptoDesAvailable()) ||
            !cryptoHashAvailable(usmAuthProtos[r.auth].hash))
            continue;
        UsmKeys keys;
        ASSERT_EQ(usmKeysFromPassphrases(keys, r.auth, r.priv, text("authpass123"),
                                         text("privpass123"), TARNOQ),
                  0);
        int privLength = usmPrivProtos[r.priv].keyLength;
        EXPECT_EQ(hexOf(keys.authSpan()), r.authKey);
        EXPECT_EQ(hexOf(std::span(keys.privKey).first(privLength)), r.privKey);
        // The same from the localized keys given: the privacy key cut to the
        // digest's length, so that it is extended again.
        UsmKeys given;
        Bytes authKey = hex(r.authKey), privKey = hex(r.privKey);
        int kul = std::min<int>(usmAuthProtos[r.auth].keyLength, privLength);
        ASSERT_EQ(usmKeysFromLocalized(given, r.auth, r.priv, authKey,
                                       std::span(privKey).first(kul), TARNOQ),
                  0);
        EXPECT_EQ(hexOf(std::span(given.privKey).first(privLength)), r.privKey);
        usmKeysRelease(keys);
        EXPECT_EQ(hexOf(keys.authKey), std::string(2 * USM_KEY_MAX, '0'));
        EXPECT_EQ(keys.cipher, nullptr);
    }
    UsmKeys keys;
    EXPECT_EQ(
        usmKeysFromPassphrases(keys, USM_AUTH_NONE, USM_PRIV_AES, {}, text("privpass123"), TARNOQ),
        USM_CRYPTO_EINVAL);
}

// HMAC truncated to each protocol's MAC length: RFC 2202/4231 test case 2,
// and RFC 4231 test case 6 (a key longer than the hash's block).
TEST(Crypto, HmacTruncatedToMacLength) {
    struct Row {
        UsmAuth auth;
        const char *two, *six;
    } rows[] = {
        {USM_AUTH_MD5, "750c783e6ab0b503eaa86e31", "bfecaf4efff90a3a668f3922"},
        {USM_AUTH_SHA, "effcdf6ae5eb2fa2d27416d5", "90d0dace1c1bdc9573393078"},
        {USM_AUTH_SHA224, "a30e01098bc6dbbf45690f3a7e9e6d0f", "95e9a0db962095adaebe9b2d6f0dbce2"},
        {USM_AUTH_SHA256, "5bdcc146bf60754e6a042426089575c75a003f089d273983",
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c514"},
        {USM_AUTH_SHA384, "af45d2e376484031617f78d2b58a6b1b9c7ef464f5a01b47e42ec3736322445e",
         "4ece084485813e9088d2c63a041bc5b44f9ef1012a2b588f3cd11f05033ac4c6"},
        {USM_AUTH_SHA512,
         "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea2505549758bf75c05a994a6d034f65f"
         "8"
         "f0e6fd",
         "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f3526b56d037e05f2598bd0fd2215"
         "d"
         "6a1e52"},
    };
    const Bytes longKey(131, 0xaa);
    for (const Row &r : rows) {
        const UsmAuthProto &p = usmAuthProtos[r.auth];
        if (!cryptoHashAvailable(p.hash))
            continue;
        std::array<uint8_t, CRYPTO_DIGEST_MAX> out{};
        // Test case 2 in two spans, as a caller may hand it over.
        ASSERT_EQ(
            cryptoHmac(p.hash, text("Jefe"), out, text("what do ya "), text("want for nothing?")),
            cryptoDigestLength[p.hash]);
        EXPECT_EQ(hexOf(std::span(out).first(p.macLength)), r.two) << usmAuthNames[r.auth];
        cryptoHmac(p.hash, longKey, out,
                   text("Test Using Larger Than Block-Size Key - Hash Key First"));
        EXPECT_EQ(hexOf(std::span(out).first(p.macLength)), r.six) << usmAuthNames[r.auth];
    }
}

// A message signed with its MAC field (at octet 10) zeroed; verify accepts it
// and refuses it with any one bit flipped, in the MAC or elsewhere.
TEST(Crypto, SignAndVerify) {
    struct Row {
        UsmAuth auth;
        const char *key, *mac;
    } rows[] = {
        {USM_AUTH_MD5, "526f5eed9fcce26f8964c2930787d82b", "06aa650aee0fe49dba52c08c"},
        {USM_AUTH_SHA, "6695febc9288e36282235fc7151f128497b38f3f", "10de39e33f84bab039c00e9f"},
        {USM_AUTH_SHA256, "93093b8cab9f6591d040b51281a34d7d801997f4061c4440588031fa4a2ccd44",
         "3f237768ca267b26814e6ff526e90f666feced46ee1958d4"},
        {USM_AUTH_SHA512,
         "11c94544c0959f3deab9f7676b076a5d2e0fa299f6c69cc1da3e3e256871b56ac25c7e3546bdd7ecc9a5bca7"
         "08f8a85fb809da7205ca788dd1e820d58da957f3",
         "b069948abbb05afaa2c7f10dc5df40d52886686f2a28372e76e1aea0fe22a0f31f46e049ffd0b23880598128"
         "7cb08b66"},
    };
    std::string plain;
    for (int i = 0; i < 3; ++i)
        plain += "what do ya want for nothing? ";
    for (const Row &r : rows) {
        SCOPED_TRACE(usmAuthNames[r.auth]);
        Bytes message(plain.begin(), plain.end());
        UsmKeys key; // one HMAC context for every message below
        ASSERT_EQ(usmKeysFromLocalized(key, r.auth, USM_PRIV_NONE, hex(r.key), {}, TARNOQ), 0);
        std::size_t length = usmAuthProtos[r.auth].macLength;
        ASSERT_EQ(usmSign(key, message, 10, length), 0);
        EXPECT_EQ(hexOf(std::span(message).subspan(10, length)), r.mac);
        EXPECT_EQ(usmSign(key, message, 10, length + 1), USM_CRYPTO_EINVAL);
        const Bytes signed_ = message;
        EXPECT_EQ(usmVerify(key, message, 10, length), 0);
        const std::size_t bits[] = {10 * 8 + 3, (10 + length - 1) * 8, 2 * 8 + 7,
                                    message.size() * 8 - 1};
        for (std::size_t bit : bits) {
            message[bit / 8] ^= uint8_t(1u << (bit % 8));
            EXPECT_EQ(usmVerify(key, message, 10, length), USM_CRYPTO_EWRONG_DIGEST) << bit;
            message[bit / 8] ^= uint8_t(1u << (bit % 8));
        }
        EXPECT_EQ(message, signed_);                       // verify leaves the MAC where it was
        EXPECT_EQ(usmVerify(key, message, 10, length), 0); // the key still stands
    }
}

// AES-CFB-128: NIST SP 800-38A F.3.13 and F.3.17 (the IV split as boots,
// time and salt), and the first 20 octets (CFB sends no padding). DES-CBC:
// key, pre-IV fedcba9876543210, salt 0000000100000002, from `openssl enc
// -des-cbc` with IV fedcba9976543212, the short plaintext padded with zeros.
TEST(Crypto, PrivacyBothWays) {
    const char *nist = "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                       "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
    struct Row {
        UsmPriv priv;
        const char *key, *salt, *plain, *cipher;
    } rows[] = {
        {USM_PRIV_AES, "2b7e151628aed2a6abf7158809cf4f3c", "08090a0b0c0d0e0f", nist,
         "3b3fd92eb72dad20333449f8e83cfb4ac8a64537a0b3a93fcde3cdad9f1ce58b"
         "26751f67a3cbb140b1808cf187a4f4dfc04b05357c5d1c0eeac4c66f9ff7f2e6"},
        {USM_PRIV_AES256, "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
         "08090a0b0c0d0e0f", nist,
         "dc7e84bfda79164b7ecd8486985d386039ffed143b28b1c832113c6331e5407b"
         "df10132415e54b92a13ed0a8267ae2f975a385741ab9cef82031623d55b1e471"},
        {USM_PRIV_AES, "2b7e151628aed2a6abf7158809cf4f3c", "08090a0b0c0d0e0f",
         "6bc1bee22e409f96e93d7e117393172aae2d8a57", "3b3fd92eb72dad20333449f8e83cfb4ac8a64537"},
        {USM_PRIV_DES, "0123456789abcdeffedcba9876543210", "0000000100000002",
         "4e6f77206973207468652074696d6520666f7220616c6c20",
         "f315a44caedc2f4e8b5578806fde1d7d43c52a7b65cbad04"},
        {USM_PRIV_DES, "0123456789abcdeffedcba9876543210", "0000000100000002",
         "4e6f77206973207468652074696d65", "f315a44caedc2f4e130d010d06702c9d"},
    };
    // OpenSSL's legacy provider comes with libssl3; CNG lacks SHA-224, may lack DES.
    EXPECT_TRUE(ON_WINDOWS || (cryptoDesAvailable() && cryptoHashAvailable(CRYPTO_SHA224)));
    for (const Row &r : rows) {
        SCOPED_TRACE(std::string(usmPrivNames[r.priv]) + " " + r.plain);
        if (r.priv == USM_PRIV_DES && !cryptoDesAvailable())
            continue;
        UsmKeys keys;
        Bytes auth(16, 0x5a), key = hex(r.key), salt = hex(r.salt), plain = hex(r.plain);
        ASSERT_EQ(usmKeysFromLocalized(keys, USM_AUTH_MD5, r.priv, auth, key, TARNOQ), 0);
        Bytes out(plain.size() + 8);
        int n = usmEncrypt(keys, 0x00010203, 0x04050607, salt, plain, out);
        ASSERT_GT(n, 0);
        EXPECT_EQ(hexOf(std::span(out).first(n)), r.cipher);
        out.resize(n); // decrypted in place: the plaintext and any padding
        ASSERT_EQ(usmDecrypt(keys, 0x00010203, 0x04050607, salt, out, out), n);
        plain.resize(n, 0);
        EXPECT_EQ(out, plain);
        if (r.priv == USM_PRIV_DES) {
            EXPECT_EQ(usmDecrypt(keys, 0, 0, salt, std::span(out).first(n - 1), out),
                      USM_CRYPTO_EBAD_LENGTH);
        }
    }
    // AES decrypts a run of blocks per cipher call: lengths about the runs'
    // edges, in place and not, against encryption's block-by-block feedback.
    UsmKeys keys;
    Bytes auth(16, 0x5a), key = hex(rows[0].key), salt = hex(rows[0].salt);
    ASSERT_EQ(usmKeysFromLocalized(keys, USM_AUTH_MD5, USM_PRIV_AES, auth, key, TARNOQ), 0);
    for (std::size_t length : {511u, 512u, 513u, 1040u, 2047u}) {
        Bytes plain(length), sealed(length), opened(length);
        for (std::size_t i = 0; i < length; ++i)
            plain[i] = static_cast<uint8_t>(i * 7 + i / 256);
        ASSERT_EQ(usmEncrypt(keys, 1, 2, salt, plain, sealed), int(length));
        ASSERT_EQ(usmDecrypt(keys, 1, 2, salt, sealed, opened), int(length));
        EXPECT_EQ(opened, plain) << length;
        ASSERT_EQ(usmDecrypt(keys, 1, 2, salt, sealed, sealed), int(length));
        EXPECT_EQ(sealed, plain) << length << " in place";
    }
}

} // namespace
