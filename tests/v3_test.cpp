// The agent's side of SNMPv3 (RFC 3412, 7.2; RFC 3414, 3.2): crafted version-3
// datagrams, signed and encrypted with known users' keys, handed to smpInput;
// what the engine sends back read with the users' keys.
#include "agent/mib.h"
#include "asn/asn.h"
#include "ber_craft.h"
#include "platform/log.h"
#include "smp/agentside.h"
#include "smp/msg3.h"
#include "smp/v3.h"
#include "smx/stats.h"
#include "support.h"
#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {
using ber::Bytes, ber::hex, ber::tlv, ber::cat, ber::integer;
const std::string BASE = "1.3.6.1.4.1.32473.1"; // columns N.0: 30 octets each, 31 a secret
const Bytes ENGINE = hex("80001F88047461726E6F717265736561726368");
const std::string SECRET_VALUE = "only-ever-encrypted";
constexpr int32_t SECRET_ID = 0x3CA1F00D; // request-id of the encrypted requests
constexpr unsigned char GET = 0xA0, NEXT = 0xA1, BULK = 0xA5, SET = 0xA3, INFORM = 0xA6;

int storeCalls = 0; // the store reached at all
AsnNode *value(uint32_t column) {
    std::string v = column == 31 ? SECRET_VALUE : std::string(30, static_cast<char>('a' + column));
    return column >= 1 && column <= 31
               ? asnNewPrimitive(0, 4, ASN_OCTETS, reinterpret_cast<const uint8_t *>(v.data()),
                                 static_cast<int>(v.size()))
               : nullptr;
}
constexpr MibOps ops = {[](const uint32_t *ids, int count, uintptr_t) {
                            ++storeCalls;
                            return count == 2 && ids[1] == 0 ? value(ids[0]) : nullptr;
                        },
                        [](uint32_t *ids, int *count, uintptr_t) {
                            ++storeCalls;
                            ids[0] = *count == 0 ? 1 : ids[0] + (*count > 1);
                            ids[1] = 0;
                            *count = 2;
                            return ids[0] <= 30 ? value(ids[0]) : nullptr;
                        },
                        [](const uint32_t *, int, AsnNode *, uintptr_t) { return ++storeCalls, 0; },
                        [](const uint32_t *, int, AsnNode *, uintptr_t) { return ++storeCalls, 0; },
                        nullptr};

int32_t clockNow = 1000;
const SmpLocalEngine engine = {ENGINE.data(), static_cast<int>(ENGINE.size()), [] { return 5; },
                               [] { return clockNow; }};

// Users: the keys the agent holds, and keys of the same protocols from other
// secrets (a wrong authentication key; the right one with a wrong privacy key).
struct User {
    UsmAuth auth;
    UsmPriv priv;
    const char *authPass, *privPass;
    uint8_t level;
    int operations;
    UsmKeys keys, wrongAuth, wrongPriv;
};
std::map<std::string, User> users;
bool lookup(const uint8_t *name, int length, SmpUser *user) {
    auto it = users.find(std::string(name, name + length));
    if (it == users.end())
        return false;
    *user = {&it->second.keys, it->second.level, it->second.operations};
    return true;
}
Bytes span(const char *s) {
    return Bytes(s, s + (s ? strlen(s) : 0));
}

std::vector<Bytes> sent;
int capture(void *, const uint8_t *octets, int length) {
    sent.emplace_back(octets, octets + length);
    return 0;
}
int traps = 0;
int countTrap(int32_t generic, int32_t, uint16_t, SmpBind *) {
    traps += generic == SMP_TRAP_AUTHENTICATION_FAILURE;
    return 0;
}

// One request: by default a reportable Get of column 1 by the user at the
// level of its keys' protocols, in this engine's window and default context.
struct Request {
    std::string user;
    int level = -1;  // -1: as the user's protocols allow
    char keys = 'k'; // k the user's, a a wrong authentication key, p a wrong privacy key
    int flags = -1;  // -1: the level's, reportable
    int32_t boots = 5, skew = 0; // boots, and time less the engine's
    Bytes engineId = ENGINE, contextEngineId = ENGINE;
    std::string context = "";
    unsigned char tag = GET;
    std::string binds = ".1.0";
    int32_t maxSize = 2048, repetitions = 0;
};

Bytes scopedPdu(const Request &r, int32_t requestId) {
    Bytes list;
    std::istringstream in(r.binds);
    for (std::string name; in >> name;)
        list =
            cat({list, ber::varBind(BASE + name, r.tag == SET ? ber::octets("x") : ber::null())});
    Bytes pdu =
        tlv(r.tag, cat({integer(requestId), integer(0), integer(r.repetitions), tlv(0x30, list)}));
    return tlv(0x30,
               cat({ber::octets(std::string(r.contextEngineId.begin(), r.contextEngineId.end())),
                    ber::octets(r.context), pdu}));
}

Bytes datagram(const Request &r) {
    User &u = users.at(r.user.substr(0, r.user.find('?'))); // "name?" is an unknown name
    const UsmKeys &keys = r.keys == 'a' ? u.wrongAuth : r.keys == 'p' ? u.wrongPriv : u.keys;
    int level = r.level >= 0 ? r.level : u.priv ? 2 : u.auth ? 1 : 0;
    uint8_t flags = static_cast<uint8_t>((level >= 1) | (level == 2) << 1 | 4);
    const Bytes plain = scopedPdu(r, level == 2 ? SECRET_ID : 9);
    const uint8_t salt[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    Bytes secret(plain.size() + 8);
    Msg3 m{};
    m.msgId = 77;
    m.maxSize = r.maxSize;
    m.flags = flags;
    m.securityModel = MSG3_MODEL_USM;
    m.usm = {r.engineId.data(),
             static_cast<int16_t>(r.engineId.size()),
             r.boots,
             clockNow + r.skew,
             reinterpret_cast<const uint8_t *>(r.user.data()),
             static_cast<int16_t>(r.user.size()),
             0,
             static_cast<int16_t>(level ? usmAuthProtos[keys.auth].macLength : 0),
             level == 2 ? salt : nullptr,
             static_cast<int16_t>(level == 2 ? 8 : 0)};
    if (level == 2) {
        // Without privacy keys (a level the user lacks) the octets go as they are.
        int n = keys.priv ? usmEncrypt(keys, 5, static_cast<uint32_t>(clockNow + r.skew), salt,
                                       plain, secret)
                          : static_cast<int>(plain.size());
        std::copy_n(plain.begin(), keys.priv ? 0 : n, secret.begin());
        m.encrypted = true;
        m.data = secret.data();
        m.dataLen = static_cast<int16_t>(n);
    } else {
        EXPECT_EQ(msg3DecodeScoped(plain.data(), static_cast<int>(plain.size()), &m.scoped),
                  MSG3_OK);
    }
    Bytes out(SMP_MESSAGE_MAX);
    int16_t at = 0;
    int n = msg3Encode(&m, out.data(), SMP_MESSAGE_MAX, &at);
    asnFree(m.scoped.pdu);
    EXPECT_GT(n, 0);
    out.resize(static_cast<size_t>(std::max(n, 0)));
    int signed_ = level && keys.auth ? usmSign(keys, out, static_cast<size_t>(at),
                                               static_cast<size_t>(m.usm.authLen))
                                     : 0;
    EXPECT_EQ(signed_, 0);
    const uint8_t field[] = {0x04, 0x01, flags}; // msgFlags
    if (r.flags >= 0)                            // set after signing, as an attacker would
        *(std::search(out.begin(), out.end(), std::begin(field), std::end(field)) + 2) =
            static_cast<uint8_t>(r.flags);
    return out;
}

// What the engine sent, read with the user's keys: "report NAME" or
// "response STATUS/INDEX N", the level flags, and "!" for a MAC that does not verify.
std::string describe(const Bytes &d, const User *u) {
    Msg3 m{};
    if (msg3Decode(d.data(), static_cast<int>(d.size()), &m) != MSG3_OK)
        return "undecodable";
    std::string s =
        std::string("f") + std::to_string(m.flags) + " "; // GCC 12 warns on "f" + string
    Bytes copy = d, plain(SMP_MESSAGE_MAX);
    if ((m.flags & 1) && (!u || usmVerify(u->keys, copy, static_cast<size_t>(m.usm.authOffset),
                                          static_cast<size_t>(m.usm.authLen)) != 0))
        s += "! ";
    if (m.encrypted) {
        int n = u ? usmDecrypt(u->keys, static_cast<uint32_t>(m.usm.boots),
                               static_cast<uint32_t>(m.usm.time), {m.usm.privParams, 8},
                               {m.data, static_cast<size_t>(m.dataLen)}, plain)
                  : -1;
        if (n < 0 || msg3DecodeScoped(plain.data(), n, &m.scoped) != MSG3_OK)
            return s + "undecryptable";
    }
    AsnNode *list = asnComponent(m.scoped.pdu, 4);
    uint16_t count = 0;
    SmpBind *b = smpCrackList(list, &count);
    if (asnTag(m.scoped.pdu) == 8) { // counters' names: every arc under 128
        s += "report 1.3";
        for (int i = 1; i < b[0].nameLen; ++i)
            s += '.', s += std::to_string(b[0].name[i]);
    } else {
        s += "response " + std::to_string(smpComponentInt(m.scoped.pdu, 2)) + "/" +
             std::to_string(smpComponentInt(m.scoped.pdu, 3)) + " n" + std::to_string(count);
    }
    smpFreeBinds(b);
    asnFree(list);
    asnFree(m.scoped.pdu);
    return s;
}

std::vector<int64_t> words() {
    std::vector<int64_t> out(SMP_STAT_LAST + 1);
    for (int w = 1; w <= SMP_STAT_LAST; ++w)
        out[static_cast<size_t>(w)] = smpStatRead(w);
    return out;
}
std::string moved(const std::vector<int64_t> &before) { // "w" up one, "w+n" up n
    std::string s;
    for (int w = 1; w <= SMP_STAT_LAST; ++w)
        if (int64_t d = smpStatRead(w) - before[static_cast<size_t>(w)]; d != 0)
            s += std::string(s.empty() ? "" : " ") + std::to_string(w) +
                 (d == 1 ? std::string() : std::string("+") + std::to_string(d));
    return s;
}

int input(const Bytes &d) {
    SmpObject *o = smpNew(nullptr, capture, nullptr);
    int r = smpInput(o, 0x7F000001, d.data(), static_cast<int16_t>(d.size()));
    smpFree(o);
    return r;
}

struct V3Agent : ::testing::Test {
    static void SetUpTestSuite() {
        static bool ready = false;
        if (std::exchange(ready, true))
            return;
        testing_support::registerAgentSide();
        smpRegisterTrapSender(countTrap);
        ASSERT_NE(mibInit(), nullptr);
        ASSERT_EQ(mibRegister(BASE.c_str(), &ops, 0), 0);
        const std::tuple<const char *, UsmAuth, UsmPriv, uint8_t, int> table[] = {
            {"plain", USM_AUTH_NONE, USM_PRIV_NONE, USM_NO_AUTH_NO_PRIV, SMP_OP_READ},
            {"sha", USM_AUTH_SHA, USM_PRIV_NONE, USM_AUTH_NO_PRIV, SMP_OP_READ},
            {"md5des", USM_AUTH_MD5, USM_PRIV_DES, USM_AUTH_NO_PRIV, SMP_OP_WRITE},
            {"sha256aes", USM_AUTH_SHA256, USM_PRIV_AES, USM_AUTH_PRIV, SMP_OP_WRITE},
            {"sha512aes256c", USM_AUTH_SHA512, USM_PRIV_AES256C, USM_AUTH_PRIV, SMP_OP_WRITE}};
        for (auto [name, auth, priv, level, operations] : table) {
            User &u = users[name];
            u = {auth,
                 priv,
                 auth ? "auth-passphrase" : nullptr,
                 priv ? "priv-passphrase" : nullptr,
                 level,
                 operations,
                 {},
                 {},
                 {}};
            auto make = [&](UsmKeys &k, const char *a, const char *p) {
                int r = auth ? usmKeysFromPassphrases(k, auth, priv, span(a), span(p), ENGINE) : 0;
                ASSERT_EQ(r, 0) << name;
            };
            make(u.keys, u.authPass, u.privPass);
            make(u.wrongAuth, "wrong-passphrase", u.privPass);
            make(u.wrongPriv, u.authPass, priv ? "wrong-passphrase" : nullptr);
        }
        smpRegisterV3Agent(&engine, lookup);
    }
    void SetUp() override {
        sent.clear();
        traps = storeCalls = 0;
        smpStatWrite(SMP_STAT_ENABLE_AUTHEN_TRAPS, 1);
    }
};

// Each request with the counters it moves (smx/stats.h's words), the traps
// and what it is answered, all with every trace on: no passphrase, key or
// octet of an encrypted request or its answer may reach one.
TEST_F(V3Agent, RequestsAreCheckedAsRfc3414Orders) {
    const std::string okGet = "1 2 13 15 28", report = "report 1.3.6.1.6.3.15.1.1.";
    const struct Row {
        Request request;
        std::string counters, answer;
        int traps = 0;
    } rows[] = {
        {{.user = "plain"}, okGet, "f0 response 0/0 n1"},
        {{.user = "sha"}, okGet, "f1 response 0/0 n1"},
        {{.user = "md5des"}, okGet, "f3 response 0/0 n1"},
        {{.user = "sha256aes", .binds = ".31.0"}, okGet, "f3 response 0/0 n1"},
        {{.user = "sha512aes256c", .tag = NEXT}, "1 2 13 16 28", "f3 response 0/0 n1"},
        {{.user = "md5des", .level = 1, .tag = SET}, "1 2 14 17 28", "f1 response 0/0 n1"},
        // RFC 3414, 3.2 step 7: outside the window by boots or by more than 150 s.
        {{.user = "sha", .skew = 150}, okGet, "f1 response 0/0 n1"},
        {{.user = "sha", .skew = -150}, okGet, "f1 response 0/0 n1"},
        {{.user = "sha", .skew = 151}, "1 2 28 39", "f1 " + report + "2.0"},
        {{.user = "sha256aes", .skew = -151}, "1 2 28 39", "f1 " + report + "2.0"},
        {{.user = "sha", .boots = 4}, "1 2 28 39", "f1 " + report + "2.0"},
        {{.user = "md5des", .boots = 6}, "1 2 28 39", "f1 " + report + "2.0"},
        // RFC 3412, 7.2 step 5: priv without auth.
        {{.user = "sha256aes", .flags = 6}, "1 34", ""},
        {{.user = "plain", .flags = 2}, "1 34", ""},
        // Step 3, step 4, step 6: unknown engine, unknown user, wrong digest.
        {{.user = "sha", .engineId = hex("8000000001")}, "1 2 28 41", "f0 " + report + "4.0"},
        {{.user = "sha", .engineId = {}}, "1 2 28 41", "f0 " + report + "4.0"}, // discovery
        {{.user = "sha?"}, "1 2 28 40", "f0 " + report + "3.0", 1},
        {{.user = "sha?", .flags = 1}, "1 40", "", 1}, // not reportable
        {{.user = "sha", .keys = 'a'}, "1 2 28 42", "f0 " + report + "5.0", 1},
        {{.user = "sha256aes", .keys = 'a'}, "1 2 28 42", "f0 " + report + "5.0", 1},
        // A wrong privacy key: octets that are no ScopedPDU.
        {{.user = "sha256aes", .keys = 'p'}, "1 6", ""},
        {{.user = "md5des", .keys = 'p'}, "1 6", ""},
        // Step 5: a level the user's protocols cannot give.
        {{.user = "sha", .level = 2}, "1 2 28 38", "f0 " + report + "1.0"},
        {{.user = "plain", .level = 1}, "1 2 28 38", "f0 " + report + "1.0"},
        // Below the user's least level: authorizationError; a READ user's Set: noAccess.
        {{.user = "sha256aes", .level = 1}, "1 2 28", "f1 response 16/0 n1"},
        {{.user = "md5des", .level = 0}, "1 2 28", "f0 response 16/0 n1"},
        {{.user = "sha", .tag = SET}, "1 2 5 28", "f1 response 6/1 n1"},
        // RFC 3413, 3.2: only the default context of this engine.
        {{.user = "sha", .context = "other"}, "1 2 28 37", "f1 report 1.3.6.1.6.3.12.1.5.0"},
        {{.user = "sha256aes", .contextEngineId = hex("8000000001")},
         "1 2 28 37",
         "f3 report 1.3.6.1.6.3.12.1.5.0"},
        {{.user = "sha", .tag = INFORM}, "1 2 28 35", "f1 report 1.3.6.1.6.3.11.2.1.3.0"},
        // The answer fits the requester's msgMaxSize: bindings of 47 octets (434 and 466 in
        // all), one more past the 14 octets of margin the room keeps (lengths, DES padding).
        {{.user = "sha256aes", .tag = BULK, .maxSize = 484, .repetitions = 50},
         "1 2 13+6 28",
         "f3 response 0/0 n6"},
        {{.user = "md5des", .tag = BULK, .maxSize = 484, .repetitions = 50},
         "1 2 13+7 28",
         "f3 response 0/0 n7"},
    };
    testing_support::EventCapture capture;
    int saved = std::exchange(logLevel, 3);
    for (const Row &r : rows) {
        sent.clear();
        traps = 0;
        auto before = words();
        input(datagram(r.request));
        EXPECT_EQ(moved(before), r.counters) << r.request.user << " " << r.answer;
        std::string answers;
        for (const Bytes &d : sent) {
            answers += describe(d, &users.at(r.request.user.substr(0, r.request.user.find('?'))));
            EXPECT_LE(d.size(), static_cast<size_t>(r.request.maxSize));
        }
        EXPECT_EQ(answers, r.answer) << r.request.user << " " << r.counters;
        EXPECT_EQ(traps, r.traps) << r.request.user << " " << r.answer;
    }
    logLevel = saved;
    // Traces show hex as "%02X " or " %02X": compared without blanks.
    std::string traces = capture.joined(), flat;
    for (char c : traces)
        if (!std::isspace(static_cast<unsigned char>(c)))
            flat += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    auto hexText = [](const Bytes &b) {
        std::string s;
        for (unsigned char c : b)
            s += "0123456789ABCDEF"[c >> 4], s += "0123456789ABCDEF"[c & 15];
        return s;
    };
    ASSERT_GT(traces.size(), 10000u) << "the traces ran";
    std::vector<std::string> secrets = {hexText(span(SECRET_VALUE.c_str())), "3CA1F00D",
                                        std::to_string(SECRET_ID),
                                        hexText(ber::oidContent(BASE + ".31.0"))};
    for (auto &[name, u] : users)
        if (u.auth)
            secrets.insert(
                secrets.end(),
                {hexText(Bytes(u.keys.authKey.begin(), u.keys.authKey.begin() + 12)),
                 u.priv ? hexText(Bytes(u.keys.privKey.begin(), u.keys.privKey.begin() + 12))
                        : "none"});
    for (const std::string &s : secrets)
        EXPECT_EQ(flat.find(s), std::string::npos) << s;
    for (const char *s : {"auth-passphrase", "priv-passphrase", SECRET_VALUE.c_str(), "32473.1.31"})
        EXPECT_EQ(traces.find(s), std::string::npos) << s;
}

// A flipped bit anywhere in an authenticated request: refused by the digest
// check or earlier, never reaching the store; answered at most by a Report,
// or, with the auth flag cleared, authorizationError (below the user's level).
TEST_F(V3Agent, FlippedBitsAreRefused) {
    for (const char *user : {"md5des", "sha256aes"}) {
        const Bytes good = datagram({.user = user, .level = user[0] == 'm' ? 1 : -1});
        for (size_t bit = 0; bit < good.size() * 8; ++bit) {
            Bytes d = good;
            d[bit / 8] ^= static_cast<uint8_t>(0x80 >> bit % 8);
            sent.clear();
            input(d);
            for (const Bytes &a : sent) {
                std::string s = describe(a, &users.at(user));
                EXPECT_TRUE(s.find("report") != s.npos || s == "f0 response 16/0 n1")
                    << user << " bit " << bit << ": " << s;
            }
        }
        EXPECT_EQ(storeCalls, 0) << user;
        sent.clear();
        EXPECT_EQ(input(good), 0);
        EXPECT_EQ(sent.size(), 1u);
        EXPECT_EQ(storeCalls, 1);
        storeCalls = 0;
    }
}

} // namespace
