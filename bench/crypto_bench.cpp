// The security model's per-message costs over a 1,400-octet message (one
// HMAC, one AES-CFB pass) and its per-user cost (passphrase to key).
#include "platform/crypto.h"
#include "smp/usmcrypto.h"

#include <benchmark/benchmark.h>

#include <array>
#include <vector>

namespace {

constexpr std::size_t MESSAGE = 1400;
const std::array<uint8_t, 5> ENGINE = {0x80, 0x00, 0x1f, 0x88, 0x04};
const std::array<uint8_t, 11> PASSPHRASE = {'a', 'u', 't', 'h', 'p', 'a', 's', 's', '1', '2', '3'};

void hmacSha256(benchmark::State &state) {
    std::vector<uint8_t> message(MESSAGE, 0x5a);
    UsmKeys keys;
    usmKeysFromPassphrases(keys, USM_AUTH_SHA256, USM_PRIV_NONE, PASSPHRASE, {}, ENGINE);
    for (auto _ : state)
        benchmark::DoNotOptimize(usmSign(keys, message, 40, 24));
}
BENCHMARK(hmacSha256);

void aes128Cfb(benchmark::State &state) {
    UsmKeys keys;
    usmKeysFromPassphrases(keys, USM_AUTH_SHA256, USM_PRIV_AES, PASSPHRASE, PASSPHRASE, ENGINE);
    std::vector<uint8_t> plain(MESSAGE, 0x5a), out(MESSAGE);
    std::array<uint8_t, 8> salt{};
    for (auto _ : state)
        benchmark::DoNotOptimize(usmEncrypt(keys, 1, 2, salt, plain, out));
}
BENCHMARK(aes128Cfb);

void passphraseToKey(benchmark::State &state) {
    std::array<uint8_t, USM_KEY_MAX> ku{};
    for (auto _ : state)
        benchmark::DoNotOptimize(
            usmPassphraseToKey(static_cast<UsmAuth>(state.range(0)), PASSPHRASE, ku));
}
BENCHMARK(passphraseToKey)
    ->Arg(USM_AUTH_MD5)
    ->Arg(USM_AUTH_SHA)
    ->Arg(USM_AUTH_SHA256)
    ->Arg(USM_AUTH_SHA512);

} // namespace
