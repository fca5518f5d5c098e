// mibwalk end to end against a scripted UDP agent on 127.0.0.1.
#include "smx/smx.h"
#include "tests/ber_craft.h"
#include "tests/support.h"
#include "tests/walk_output.h"
#include "tool/json.h"
#include "tool/walk.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <iterator>
#include <thread>

using namespace testing_support;
using ber::Bytes;
using Datagrams = std::vector<Bytes>;
using Msg = ber::Message;

namespace {

auto oidLess = [](const std::string &a, const std::string &b) { return walkout::oidGreater(b, a); };
using Mib = std::map<std::string, Bytes, decltype(oidLess)>; // dotted name -> encoded value

// Each name's successor, or noSuchName; at most maxBinds bindings.
Bytes answerFrom(const Mib &mib, const Msg &req, size_t maxBinds = 1000) {
    std::vector<Bytes> binds;
    for (size_t i = 0; i < req.binds.size() && i < maxBinds; ++i) {
        auto it = mib.upper_bound(req.binds[i].name);
        if (it == mib.end())
            return ber::response(req.requestId, {}, 2, static_cast<int64_t>(i + 1));
        binds.push_back(ber::varBind(it->first, it->second));
    }
    return ber::response(req.requestId, binds, 0, 0, req.community);
}

Bytes v2(Bytes m) {                                 // the message's version set to 1 (v2c)
    m[3 + (m[1] & 0x80 ? m[1] & 0x7F : 0) + 1] = 1; // 30 L.. 02 01 [00]
    return m;
}

// A v2c GetBulk (non-repeaters 0) answer of at most maxBinds bindings, or a GetNext answer.
Bytes bulkFrom(const Mib &mib, Msg req, size_t maxBinds = 1000) {
    std::vector<Bytes> binds;
    for (int64_t row = 0, end = 0; row < (req.pduTag == 0xA5 ? req.index : 1) && !end; ++row) {
        end = 1; // RFC 3416, 4.2.3: stop after a row all endOfMibView
        for (auto &b : req.binds) {
            auto it = mib.upper_bound(b.name);
            end &= it == mib.end();
            b.name = it == mib.end() ? b.name : it->first;
            binds.push_back(ber::varBind(b.name, it == mib.end() ? ber::hex("82 00") : it->second));
        }
    }
    binds.resize(std::min(binds.size(), req.pduTag == 0xA5 ? maxBinds : binds.size()));
    return v2(ber::response(req.requestId, binds));
}

Bytes one(int64_t id, const std::string &name, const Bytes &value) {
    return ber::response(id, {ber::varBind(name, value)});
}

std::function<Datagrams(const Msg &)> reply(std::vector<Bytes> binds, int status = 0,
                                            int index = 0) {
    return
        [=](const Msg &r) { return Datagrams{ber::response(r.requestId, binds, status, index)}; };
}

// Version 3 (RFC 3412, 6): a request's "msgID msgMaxSize msgFlags user" in
// the Msg's community, its PDU the Msg's; none when the PDU is encrypted.
std::optional<Msg> parseV3(const Bytes &in) {
    size_t p = 0, q = 0, h = 0, u = 0, f = 0, s = 0;
    auto outer = ber::read(in, p);
    auto ver = outer ? ber::read(outer->content, q) : std::nullopt;
    auto head = ver ? ber::read(outer->content, q) : std::nullopt;
    auto usm = head ? ber::read(outer->content, q) : std::nullopt;
    auto scoped = usm ? ber::read(outer->content, q) : std::nullopt;
    auto params = scoped && scoped->tag == 0x30 ? ber::read(usm->content, u) : std::nullopt;
    if (!params || ber::toInt(ver->content) != 3)
        return std::nullopt;
    std::string community;
    for (int i = 0; i < 3; ++i)
        community += std::to_string(ber::toInt(ber::read(head->content, h)->content)) + " ";
    std::optional<ber::Element> e, pdu;
    for (int i = 0; i < 4; ++i) // engine ID, boots, time, user
        e = ber::read(params->content, f);
    for (int i = 0; i < 3; ++i) // contextEngineID, contextName, PDU
        pdu = ber::read(scoped->content, s);
    community.append(e->content.begin(), e->content.end());
    return ber::parse(ber::tlv(0x30, ber::cat({ber::integer(3), ber::octets(community),
                                               ber::tlv(pdu->tag, pdu->content)})));
}

// A noAuthNoPriv answer to the version-3 request r, from engine "walk": the PDU of m.
Bytes v3(const Msg &r, const Bytes &m) {
    size_t p = 0, q = 0;
    auto outer = ber::read(m, p);
    std::optional<ber::Element> pdu;
    for (int i = 0; i < 3; ++i)
        pdu = ber::read(outer->content, q);
    const Bytes engine = ber::hex("80 00 1f 88 04 77 61 6c 6b");
    const Bytes usm =
        ber::tlv(0x30, ber::cat({ber::tlv(0x04, engine), ber::integer(1), ber::integer(100),
                                 ber::octets(r.community.substr(r.community.rfind(' ') + 1)),
                                 ber::octets(""), ber::octets("")}));
    const Bytes head =
        ber::tlv(0x30, ber::cat({ber::integer(std::stoll(r.community)), ber::integer(2048),
                                 ber::octets(std::string(1, '\0')), ber::integer(3)}));
    return ber::tlv(0x30,
                    ber::cat({ber::integer(3), head, ber::tlv(0x04, usm),
                              ber::tlv(0x30, ber::cat({ber::tlv(0x04, engine), ber::octets(""),
                                                       ber::tlv(pdu->tag, pdu->content)}))}));
}

struct ScriptedAgent {
    using Script = std::function<Datagrams(const Msg &)>;
    UdpPeer peer;
    Script script;
    int gapMs; // pause before each datagram after a request's first
    std::vector<Msg> requests;
    std::vector<Bytes> raw, sent;
    std::atomic<bool> stopping{false};
    std::thread thread{[this] { serve(); }};
    ScriptedAgent(Script s, int gap) : script(std::move(s)), gapMs(gap) {}
    ~ScriptedAgent() { finish(); }
    void serve() { // until asked to stop and the socket is drained
        for (bool last = false; !last;) {
            last = stopping; // all sent before the stop request is queued by now
            Bytes in;
            int from = 0;
            if (!peer.receive(in, from, 20))
                continue;
            last = false;
            raw.push_back(in);
            auto msg = ber::parse(in);
            if (!msg)
                msg = parseV3(in);
            if (msg)
                requests.push_back(*msg);
            Datagrams out = msg ? script(*msg) : Datagrams{};
            for (size_t i = 0; i < out.size(); ++i) {
                if (i > 0 && gapMs > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
                peer.sendTo(from, out[i]);
                sent.push_back(out[i]);
            }
        }
    }
    void finish() {
        stopping = true;
        if (thread.joinable())
            thread.join();
    }
    // The ids, "/count" where other than one binding, "bN" for a GetBulk of max-repetitions N.
    std::string summary() const {
        std::string s;
        for (const auto &r : requests) // std::string first: "x" + std::string makes GCC 12 warn
            s += std::string(s.empty() ? "" : " ") + std::to_string(r.requestId) +
                 (r.binds.size() != 1 ? std::string("/") + std::to_string(r.binds.size()) : "") +
                 (r.pduTag == 0xA5 ? "b" + std::to_string(r.index) : "");
        return s;
    }
};

std::string line(const std::string &name, const std::string &kind, const std::string &value) {
    return "Name: " + name + " Kind: " + kind + " Value: " + value + " \n";
}

const std::string IF = "1.3.6.1.2.1.2.2.1.";
const Mib mib = {{"1.3.6.1.2.1.1.1.0", ber::octets("box")},
                 {"1.3.6.1.2.1.1.2.0", ber::oid("1.3.6.1.4.1.32473")},
                 {"1.3.6.1.2.1.1.3.0", ber::ticks(1234)},
                 {"1.3.6.1.2.1.2.1.0", ber::integer(2)},
                 {IF + "1.1", ber::integer(1)},
                 {IF + "1.2", ber::integer(2)},
                 {IF + "2.1", ber::octets("lo")},
                 {IF + "2.2", ber::octets("eth0")},
                 {IF + "3.1", ber::integer(24)},
                 {IF + "3.2", ber::integer(6)}};
const std::string systemLines = line("1.3.6.1.2.1.1.1.0", "OctetString", "\"box\"") +
                                line("1.3.6.1.2.1.1.2.0", "ObjectId", "1.3.6.1.4.1.32473") +
                                line("1.3.6.1.2.1.1.3.0", "TimeTicks", "1234");
const std::string if1 = line(IF + "1.1", "Integer", "1"), if2 = line(IF + "1.2", "Integer", "2"),
                  descr1 = line(IF + "2.1", "OctetString", "\"lo\""),
                  descr2 = line(IF + "2.2", "OctetString", "\"eth0\""),
                  type1 = line(IF + "3.1", "Integer", "24"),
                  type2 = line(IF + "3.2", "Integer", "6");

std::string lowHex(const Bytes &octets) {
    std::string s;
    for (unsigned char o : octets)
        s += {"0123456789abcdef"[o >> 4], "0123456789abcdef"[o & 15]};
    return s;
}

// -Oj's line for a binding of value (encoded); without name under -On.
std::string jline(int row, const std::string &oid, const std::string &kind,
                  const std::string &value, const Bytes &encoded, bool name = true) {
    size_t at = 0;
    return "{\"row\":" + std::to_string(row) + ",\"oid\":\"" + oid +
           (name ? "\",\"name\":\"" + oid : "") + "\",\"kind\":\"" + kind +
           "\",\"value\":" + value + ",\"hex\":\"" + lowHex(ber::read(encoded, at)->content) +
           "\"}\n";
}
const std::string jend = "{\"end\":\"endOfMib\"}\n";

std::string longName(const std::string &base, const std::string &arc) {
    std::string name = base;
    while (name.size() <= 300)
        name += arc;
    return name;
}

struct WalkCase {
    std::string label;
    std::vector<std::string> args;
    ScriptedAgent::Script script;
    std::string out; // '@' stands for the program's name
    int status;
    std::string requests; // ScriptedAgent::summary()
    void (*check)(const ScriptedAgent &) = nullptr;
    int gapMs = 0;
};

WalkCase everyKind(bool json) { // -Oj: more values, which it shows whole
    const std::string base = "1.3.6.1.4.1.32473.9";
    std::vector<std::tuple<Bytes, std::string, std::string>> values = {
        // plain, -Oj value
        {ber::integer(-2147483648LL), "Integer Value: -2147483648", "-2147483648"},
        {ber::hex("02 05 01 00 00 00 00"), "Integer Value: OVERFLOW", "null"},
        {ber::octets(std::string("a\"b\\c\n\x01\xff", 8)),
         "OctetString Value: \"a\"b\\c\\12\\1\\377\"", "null"},
        {ber::octets(""), "OctetString Value: \"\"", "\"\""},
        {ber::octets(std::string(300, 'x')), "OctetString Value: GARBLED",
         "\"" + std::string(300, 'x') + "\""},
        {ber::ipAddress({192, 168, 0, 255}), "IpAddress Value: 192.168.0.255", "\"192.168.0.255\""},
        {ber::counter(4000000000LL), "Counter Value: 4000000000", "4000000000"},
        {ber::hex("41 04 80 00 00 01"), "Counter Value: NEGATIVE", "null"},
        {ber::hex("41 05 01 00 00 00 00"), "Counter Value: OVERFLOW", "null"},
        {ber::gauge(7), "Gauge Value: 7", "7"},
        {ber::null(), "Null Value: GARBLED", "null"},
        {ber::hex("44 04 9f 78 04 3e"), "Opaque Value: GARBLED", "null"},
    };
    const std::string ok = "q\"\\/\xC3\xA9\xED\x9F\xBF\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF";
    const std::vector<std::tuple<Bytes, std::string, std::string>> more = {
        {ber::integer(2147483647), "Integer", "2147483647"},
        {ber::oid("1.3.6.1.4.1.32473"), "ObjectId", "\"1.3.6.1.4.1.32473\""},
        {ber::hex("41 05 00 FF FF FF FF"), "Counter", "4294967295"},
        {ber::octets(ok), "OctetString", "\"q\\\"\\\\/" + ok.substr(4) + "\""},
    };
    for (size_t i = 0; json && i < more.size(); ++i)
        values.push_back(more[i]);
    // overlong, surrogate, above U+10FFFF, cut, a lone continuation, DEL, C0
    for (const char *bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xF0\x80\x80\xAF", "\xED\xA0\x80",
                            "\xF4\x90\x80\x80", "\xE2\x82", "\xE2\x82(", "\x80", "\x7F", "a\tb"})
        if (json)
            values.push_back({ber::octets(bad), "OctetString", "null"});
    auto kinds = std::make_shared<Mib>();
    std::string out, ids = "0";
    for (size_t i = 0; i < values.size(); ++i) {
        std::string name = base + "." + std::to_string(i + 1), kind = std::get<1>(values[i]);
        (*kinds)[name] = std::get<0>(values[i]);
        out += json ? jline(static_cast<int>(i + 1), name, kind.substr(0, kind.find(' ')),
                            std::get<2>(values[i]), std::get<0>(values[i]))
                    : "Name: " + name + " Kind: " + kind + " \n";
        ids += " " + std::to_string(i + 1);
    }
    std::string last = longName(base, ".123456"), end = "Kind: Integer Value: 1 \nEnd of MIB\n";
    (*kinds)[last] = ber::integer(1);
    auto script = [kinds](const Msg &r) { return Datagrams{answerFrom(*kinds, r)}; };
    ids += " " + std::to_string(kinds->size());
    if (json)
        end = jline(static_cast<int>(kinds->size()), last, "Integer", "1", ber::integer(1), false) +
              jend;
    std::vector<std::string> args = {"-t", "5", base};
    if (json)
        args.insert(args.begin(), "-Oj");
    return {json ? "-Oj every kind" : "every kind", args, script, out + end, 0, ids};
}

WalkCase counter64(bool json) { // 0, 2^32, 2^64 - 1, then 2^64 and a negative number
    const std::string b = "1.3.6.1.4.1.32473.9";
    auto m = std::make_shared<Mib>(Mib{{b + ".1", ber::hex("46 01 00")},
                                       {b + ".2", ber::hex("46 05 01 00000000")},
                                       {b + ".3", ber::hex("46 09 00 FFFFFFFFFFFFFFFF")},
                                       {b + ".4", ber::hex("46 09 01 0000000000000000")},
                                       {b + ".5", ber::hex("46 01 80")}});
    std::string out;
    int i = 0;
    for (const char *v : {"0", "4294967296", "18446744073709551615", "OVERFLOW", "NEGATIVE"}) {
        std::string name = b + "." + std::to_string(++i), number = v[0] > '9' ? "null" : v;
        out += json ? jline(i, name, "Counter64", number, m->at(name), false)
                    : line(name, "Counter64", v);
    }
    auto script = [m](const Msg &r) { return Datagrams{bulkFrom(*m, r)}; };
    if (json)
        return {"-Ojn v2c Counter64", {"-Ojn", "-v", "2c", b}, script, out + jend, 0, "0b10"};
    return {"v2c Counter64", {"-v", "2c", b}, script, out + "End of MIB\n", 0, "0b10"};
}

Datagrams malformedThenGood(const Msg &r) {
    Bytes good = answerFrom(mib, r), wrongVersion = good, trailing = good;
    wrongVersion[4] = 0x01;   // 30 L 02 01 [00] ...
    trailing.push_back(0x00); // a datagram holds the message and nothing more
    return {{},
            ber::hex("FF FF FF"),
            Bytes(good.begin(), good.begin() + 20),
            wrongVersion,
            ber::hex("30 28 02 01 00 04 06 70 75 62 6C 69 63 A4 1B 06 08 2B 06 01 04 01 81 FD 59"
                     " 40 04 7F 00 00 01 02 01 00 02 01 00 43 01 05 30 00"), // a trap
            ber::message("public", 0xA0, r.requestId, 0, 0,
                         {ber::varBind("1.3.6.1.2.1.1.1.0", ber::null())}),
            // longer than 2048 octets: cut, then refused
            one(r.requestId, "1.3.6.1.2.1.1.1.0", ber::octets(std::string(2100, 'z'))),
            ber::hex("30 10 02 01 00 04 06 70 75 62 6C 69 63 A7 03 02 01 01"), // unknown PDU
            trailing,
            good};
}

std::vector<WalkCase> walkCases() {
    const std::string ids = "0 1 2 3", ifn = "1.3.6.1.2.1.2.1.0", sys = "1.3.6.1.2.1.1",
                      tooLong = longName(sys, ".1000000");
    const std::string sys1 = line(sys + ".1.0", "Integer", "1"),
                      sys5 = line(sys + ".5.0", "Integer", "1"),
                      unsent = "@: Error sending protocol request\n",
                      stuck = "@: OID not increasing: ", block = "\nRequest Id: 7\nError: ",
                      wrapped = "2147483646 2147483647 2147483648 2147483649";
    const std::vector<std::string> S = {sys}, I7 = {"-i", "7", sys},
                                   three = {IF + "1", IF + "2", IF + "3"},
                                   SI = {sys, "1.3.6.1.2.1.2"};
    auto err = [&](int status, int index) {
        return reply({ber::varBind(sys, ber::null())}, status, index);
    };
    auto silent = [](const Msg &) { return Datagrams{}; };
    auto fromMib = [](const Msg &r) { return Datagrams{answerFrom(mib, r)}; };
    auto two = [](const Msg &r) { return Datagrams{answerFrom(mib, r, 2)}; }; // of three
    auto names = [](const std::string &first, const std::string &second) {
        return [=](const Msg &r) {
            return Datagrams{one(r.requestId, r.requestId == 0 ? first : second, ber::integer(1))};
        };
    };
    auto reencoded = [](Msg m) {
        m.requestId = static_cast<int32_t>(static_cast<uint32_t>(m.requestId));
        return Datagrams{answerFrom(mib, m)};
    };
    auto otherCommunity = [](const Msg &r) {
        return Datagrams{ber::response(r.requestId,
                                       {ber::varBind("1.3.6.1.2.1.1.1.0", ber::integer(1))}, 0, 0,
                                       "private"),
                         one(r.requestId, "1.3.6.1.2.1.2.1.0", ber::integer(1))};
    };
    auto secondStands = [](const Msg &r) { // column 1 advances, column 2 stands still
        auto first =
            ber::varBind(r.requestId ? "1.3.6.1.2.1.1.2.0" : "1.3.6.1.2.1.1.1.0", ber::integer(1));
        return Datagrams{ber::response(
            r.requestId, {first, ber::varBind("1.3.6.1.2.1.2.1.0", ber::integer(2))})};
    };
    auto strays = [](const Msg &r) { // stray answers before the first real one
        Datagrams out(r.requestId == 0 ? 5 : 0, one(4242, "1.3.6.1.2.1.1.1.0", ber::null()));
        out.push_back(answerFrom(mib, r));
        return out;
    };
    auto padded = [](const Msg &r) {
        Bytes name = ber::oidContent("1.3.6.1.2.1.1.5.0");
        if (r.requestId != 0)
            name.insert(name.end() - 2, 0x80);
        return Datagrams{ber::response(
            r.requestId, {ber::tlv(0x30, ber::cat({ber::tlv(0x06, name), ber::integer(1)}))})};
    };
    auto firstRequests = [](const ScriptedAgent &a) {
        EXPECT_EQ(a.requests[0].binds[0].name, "1.3.6.1.2.1.1");
        EXPECT_EQ(a.requests[0].binds[0].value.tag, 0x05);
        EXPECT_EQ(a.requests[3].binds[0].name, "1.3.6.1.2.1.1.3.0");
        EXPECT_EQ(a.requests[3].binds[0].value.tag, 0x43);
    };
    auto fullRequest = [](const ScriptedAgent &a) { EXPECT_EQ(a.raw.at(0).size(), 2048u); };
    auto fullAnswer = [sys](const Msg &r) { // 2048 octets to request 127, whose next is 128
        return Datagrams{r.requestId == 127
                             ? one(127, sys + ".1.0", ber::octets(std::string(1998, 'z')))
                             : one(r.requestId, "1.3.6.1.2.1.2.1.0", ber::integer(1))};
    };
    const std::string garbled = line(sys + ".1.0", "OctetString", "GARBLED");
    auto bulk = [](size_t most) {
        return [=](const Msg &r) { return Datagrams{bulkFrom(mib, r, most)}; };
    };
    auto v2reply = [](std::vector<Bytes> binds, int status = 0) {
        return
            [=](const Msg &r) { return Datagrams{v2(ber::response(r.requestId, binds, status))}; };
    };
    auto tooBig = [](const Msg &r) { // past 2 repetitions, with no bindings
        return Datagrams{r.index > 2 ? v2(ber::response(r.requestId, {}, 1)) : bulkFrom(mib, r)};
    };
    auto cut = [](const Msg &r) { // past 2 repetitions: a stray, then the answer, over 2048 octets
        auto big = [](int64_t id) {
            return v2(one(id, "1.3.6.1.2.1.1.1.0", ber::octets(std::string(2100, 'z'))));
        };
        return r.index > 2 ? Datagrams{big(r.requestId + 9), big(r.requestId)}
                           : Datagrams{bulkFrom(mib, r)};
    };
    auto otherVersion = [](const Msg &r) { // an answer in the other version leaves the subtree
        Bytes out = one(r.requestId, "1.3.6.1.2.1.2.1.0", ber::integer(1));
        return Datagrams{r.version ? out : v2(out),
                         r.version ? bulkFrom(mib, r) : answerFrom(mib, r)};
    };
    auto seen = std::make_shared<int>(0); // drops two requests' first sends, answers others twice
    auto lossy = [seen](const Msg &r) {
        return ++*seen % 2 && *seen < 4 ? Datagrams{} : Datagrams(2, bulkFrom(mib, r));
    };
    auto nullRequests = [](const ScriptedAgent &a) { // the last complete row's names, NULL
        EXPECT_EQ(a.requests[1].binds[2].name, IF + "3.1");
        EXPECT_EQ(a.requests[1].binds[2].value.tag, 0x05);
    };
    const std::string v2block = "\nRequest Id: 8\nError: ", blockEnd = "\nIndex: 0\nCount: 1\n",
                      rows = if1 + descr1 + type1 + "\n" + if2 + descr2 + type2 + "\nEnd of MIB\n";
    const std::vector<std::string> V2 = {"-v", "2c", sys};
    auto V2with = [&](std::vector<std::string> a) { // -v 2c, these, the system group
        a.insert(a.begin(), {"-v", "2c"});
        a.push_back(sys);
        return a;
    };
    auto V2three = [](const std::string &b) {
        return std::vector<std::string>{"-v", "2c", "-b", b, IF + "1", IF + "2", IF + "3"};
    };
    const std::vector<Bytes> nullBind = {ber::varBind(sys, ber::null())};
    auto order = [](std::vector<std::string> list) { // by request id, then noSuchName
        return [=](const Msg &r) {
            size_t i = static_cast<size_t>(r.requestId);
            return Datagrams{i < list.size() ? one(r.requestId, list[i], ber::integer(1))
                                             : ber::response(r.requestId, {}, 2, 1)};
        };
    };
    // 2,000 octets, as many as a message to us holds under 1.3.6.1.4.1.9
    const std::string sys3 = line(sys + ".3.0", "Integer", "1"), y(2000, 'y');
    const Mib y2000 = {{"1.3.6.1.4.1.9", ber::octets(y)}};
    auto opt = [](std::string o, std::vector<std::string> a) { // o's words, then a
        a.insert(a.begin(), std::istream_iterator<std::string>(std::istringstream(o) >> std::ws),
                 std::istream_iterator<std::string>());
        return a;
    };
    const std::vector<std::string> Cc = opt("-Cc", S), Oj = opt("-Oj", S);
    std::vector<WalkCase> cases = {
        {"-Cc out of order", Cc, order({sys + ".5.0", sys + ".1.0", sys + ".3.0"}),
         sys5 + sys1 + sys3 + "End of MIB\n", 0, ids},
        {"-Cc repeat", Cc, order({sys + ".5.0", sys + ".1.0", sys + ".5.0"}),
         sys5 + sys1 + stuck + sys + ".5.0\n", 2, "0 1 2"},
        {"-Cc the name asked", Cc, order({sys}), stuck + sys + "\n", 2, "0"},
        {"-Ox -On", opt("-Ox -On", {IF + "2"}), fromMib,
         line(IF + "2.1", "OctetString", "6C 6F") + line(IF + "2.2", "OctetString", "65 74 68 30"),
         0, "0 1 2"},
        {"-Oj two columns", opt("-Oj", {IF + "1", IF + "2"}), fromMib,
         jline(1, IF + "1.1", "Integer", "1", ber::integer(1)) +
             jline(1, IF + "2.1", "OctetString", "\"lo\"", ber::octets("lo")) +
             jline(2, IF + "1.2", "Integer", "2", ber::integer(2)) +
             jline(2, IF + "2.2", "OctetString", "\"eth0\"", ber::octets("eth0")),
         0, "0/2 1/2 2/2"},
        {"-Ojn 2,000 octets", opt("-Ojn", {"1.3.6.1.4.1"}),
         [=](const Msg &r) { return Datagrams{answerFrom(y2000, r)}; },
         jline(1, "1.3.6.1.4.1.9", "OctetString", '"' + y + '"', ber::octets(y), false) + jend, 0,
         "0 1"},
        {"-Oj not increasing", Oj, names(sys + ".1.0", sys + ".1.0"),
         jline(1, sys + ".1.0", "Integer", "1", ber::integer(1)) +
             "{\"error\":\"notIncreasing\",\"oid\":\"" + sys + ".1.0\"}\n",
         2, "0 1"},
        {"-Oj timeout", opt("-Oj -t 1", S), silent, "{\"error\":\"timeout\"}\n", 4, "0"},
        {"-Oj noSuchInstance", opt("-Oj -v 2c", S),
         v2reply({ber::varBind(sys + ".1.0", ber::hex("81 00"))}),
         "{\"error\":\"noSuchInstance\",\"oid\":\"" + sys + ".1.0\"}\n", 2, "0b10"},
        {"v2c rows of 2, end in one column", V2three("2"), bulk(1000), rows, 0, "0/3b2 1/3b2"},
        {"v2c short rows", V2three("10"), bulk(4), rows, 0, "0/3b10 1/3b10 2/3b10", nullRequests},
        {"v2c no complete row", V2three("10"), bulk(2), stuck + IF + "1.1\n", 2, "0/3b10 1/3b5"},
        {"v2c at 1 GetNext", V2three("1"), bulk(2), rows, 0, "0/3b1 1/3 2/3 3/3"},
        {"v2c -b 0", V2three("0"), bulk(1000), rows, 0, "0/3 1/3 2/3"},
        {"v2c tooBig", V2, tooBig, systemLines, 0, "0b10 1b5 2b2 3b2"},
        {"v2c tooBig at 1", V2with({"-i", "7", "-b", "2"}), v2reply(nullBind, 1),
         v2block + "tooBig" + blockEnd, 0, "7b2 8b1"},
        {"v2c status name", V2with({"-i", "8"}), v2reply(nullBind, 17),
         v2block + "notWritable" + blockEnd, 0, "8b10"},
        {"v2c cut", V2, cut, systemLines, 0, "0b10 1b5 2b2 3b2"},
        {"v2c empty answer", V2, v2reply({}), "", 0, "0b10"},
        {"v2c no names", {"-v", "2c"}, v2reply({}), "", 0, "0/0b10"},
        {"v2c noSuchObject", V2, v2reply({ber::varBind(sys + ".1.0", ber::hex("80 00"))}),
         "@: Unexpected noSuchObject: " + sys + ".1.0\n", 2, "0b10"},
        {"v2c rows not increasing", V2,
         v2reply({ber::varBind(sys + ".5.0", ber::integer(1)),
                  ber::varBind(sys + ".1.0", ber::integer(1))}),
         sys5 + stuck + sys + ".1.0\n", 2, "0b10"},
        {"v2c other version", V2, otherVersion, systemLines, 0, "0b10"},
        {"v1 other version", S, otherVersion, systemLines, 0, ids},
        {"v2c retry, duplicates", V2with({"-t", "1", "-r", "1", "-b", "1"}), lossy, systemLines, 0,
         "0b1 0b1 1b1 1b1 2b1 3b1"},
        counter64(false),
        counter64(true),
        {"retries run out", {"-t", "1", "-r", "1", sys}, silent, "Request Timed Out\n", 4, "0 0"},
        {"one column", S, fromMib, systemLines, 0, ids, firstRequests},
        {"three columns", three, fromMib,
         if1 + descr1 + type1 + "\n" + if2 + descr2 + type2 + "\nEnd of MIB\n", 0, "0/3 1/3 2/3"},
        {"two of three", three, two, if1 + descr1 + "\n" + if2 + descr2 + "\n", 0, "0/3 1/2 2/2"},
        {"tooBig", I7, err(1, 0), block + "tooBig\nIndex: 0\nCount: 1\n", 0, "7"},
        {"unknown", I7, err(9, 2), block + "unknown(9)\nIndex: 2\nCount: 1\n", 0, "7"},
        {"part of the last arc", S, names("1.3.6.1.2.1.10.1", ""), "", 0, "0"},
        {"ids past 2^31 echoed", {"-i", "2147483646", sys}, fromMib, systemLines, 0, wrapped},
        {"ids past 2^31 re-encoded", {"-i", "2147483646", sys}, reencoded, systemLines, 0, wrapped},
        {"288 names", std::vector<std::string>(288, "1.3"), reply({}, 2, 1), "End of MIB\n", 0,
         "0/288", fullRequest},
        {"289 names", std::vector<std::string>(289, "1.3"), fromMib, unsent, 2, ""},
        {"id 127, 2048 octets", {"-i", "127", sys}, fullAnswer, garbled, 0, "127 128"},
        {"17-character community", {"-c", std::string(17, 'c'), sys}, fromMib, unsent, 2, ""},
        {"another community", S, otherCommunity, "", 0, "0"},
        {"no names", {}, reply({}), "", 0, "0/0"},
        {"empty answer", S, reply({}), "", 0, "0"},
        {"follow-up not encodable", S,
         reply({ber::varBind(sys + ".1.0", ber::ipAddress({10, 0, 0, 1, 9}))}), // unsendable
         line(sys + ".1.0", "IpAddress", "GARBLED") + unsent, 2, "0"},
        {"same name", S, names(sys + ".1.0", sys + ".1.0"), sys1 + stuck + sys + ".1.0\n", 2,
         "0 1"},
        {"padded", S, padded, sys5 + stuck + sys + ".5.0\n", 2, "0 1"},
        {"long", S, names(tooLong, tooLong),
         "Kind: Integer Value: 1 \n" + stuck + tooLong.substr(0, 256) + "\n", 2, "0 1"},
        {"second column stands", SI, secondStands,
         sys1 + line(ifn, "Integer", "2") + "\n" + stuck + ifn + "\n", 2, "0/2 1/2"},
        everyKind(false),
        everyKind(true),
        {"malformed datagrams", {"-t", "5", sys}, malformedThenGood, systemLines, 0, ids},
        {"silence", {"-t", "1", sys}, silent, "Request Timed Out\n", 4, "0"},
        {"strays keep it alive", {"-t", "1", sys}, strays, systemLines, 0, ids, nullptr, 300},
    };
    // Version 3: the discovery's Report, then the step's answer or Report.
    auto report = [](const Msg &r, const std::string &name) {
        return v3(r,
                  ber::message("", 0xA8, r.requestId, 0, 0, {ber::varBind(name, ber::counter(1))}));
    };
    auto v3after = [=](const std::string &name) { // the step's Report; none: its answer
        return [=](const Msg &r) {
            return Datagrams{r.pduTag == 0xA0 ? report(r, "1.3.6.1.6.3.15.1.1.4.0")
                             : name.empty()   ? v3(r, bulkFrom(mib, r))
                                              : report(r, name)};
        };
    };
    const std::vector<std::string> U = {"-v", "3", "-u", "u", sys},
                                   E = {"-e", "0x80001f8804", "-v", "3", "-u", "u", sys},
                                   P = opt("-t 1 -l authPriv -A authpass1 -X privpass1", U);
    cases.push_back({"v3", U, v3after(""), systemLines, 0, "0/0 0b10"});
    cases.push_back({"v3 -e", E, v3after(""), systemLines, 0, "0b10"});
    cases.push_back({"v3 -Oj report", opt("-Oj", U), v3after("1.3.6.1.6.3.15.1.1.3.0"),
                     "{\"error\":\"unknownUserName\"}\n", 2, "0/0 0b10"});
    cases.push_back({"v3 authPriv silent", P, v3after(""),
                     "Request Timed Out (check the privacy passphrase)\n", 4, "0/0"});
    cases.push_back({"v3 authPriv -e silent", opt("-e 8000000001", P), v3after(""),
                     "Request Timed Out\n", 4, ""});
    const auto reports = words({"1 @:_Unsupported_security_level 2 @:_Not_in_time_window",
                                "3 @:_Unknown_user_name 4 @:_Unknown_engine_ID",
                                "5 @:_Authentication_failure 6 @:_Decryption_error",
                                "12.1.5 @:_Unknown_context 11.2.1.3 @:_Report:_"});
    for (size_t i = 0; i < reports.size(); i += 2) {
        std::string name = std::string("1.3.6.1.6.3.") + (reports[i].size() > 1 ? "" : "15.1.1.") +
                           reports[i] + ".0",
                    out = reports[i + 1] + (reports[i] == "11.2.1.3" ? name : "") + "\n";
        std::replace(out.begin(), out.end(), '_', ' ');
        cases.push_back({"v3 report " + name, U, v3after(name), out, 2, "0/0 0b10"});
    }
    const auto statuses =
        words({"tooBig noSuchName badValue readOnly genErr noAccess wrongType",
               "wrongLength wrongEncoding wrongValue noCreation inconsistentValue",
               "resourceUnavailable commitFailed undoFailed authorizationError",
               "notWritable inconsistentName unknown(19)"});
    for (int s = 1; s <= 19; ++s) { // every error status, in each version
        std::string n = std::to_string(s), v1 = s <= 5 ? statuses[s - 1] : "unknown(" + n + ")",
                    tail = "\",\"status\":" + n + ",\"index\":0,\"requestId\":0,\"count\":1}\n";
        cases.push_back({"-Oj v2c status " + n, opt("-Oj -v 2c -b 1", S), v2reply(nullBind, s),
                         "{\"error\":\"" + statuses[s - 1] + tail, 0, "0b1"});
        if (s != 2)
            cases.push_back(
                {"-Oj status " + n, Oj, err(s, 0), "{\"error\":\"" + v1 + tail, 0, "0"});
    }
    return cases;
}

class WalkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (mibwalk.empty())
            GTEST_SKIP() << "mibwalk is not built";
    }
    TempDir dir; // no definitions and a registry that names no file: names print dotted
    ProcessResult run(const ScriptedAgent &agent, const std::vector<std::string> &args) {
        std::vector<std::string> argv{mibwalk, "-h", "127.0.0.1", "-p",
                                      std::to_string(agent.peer.port)};
        argv.insert(argv.end(), args.begin(), args.end());
        return runProcess(argv, dir.path, {{"TARNOQSNMP_REGISTRY", dir.file("none")}}, 20);
    }
};

TEST_F(WalkTest, ScriptedAgents) {
    std::vector<std::string> labels, outs; // of the -Oj walks
    std::vector<std::set<std::string>> sent;
    for (const WalkCase &c : walkCases()) {
        SCOPED_TRACE(c.label);
        ScriptedAgent agent(c.script, c.gapMs);
        ProcessResult r = run(agent, c.args);
        agent.finish();
        std::string expected = c.out;
        if (size_t at = expected.find('@'); at != std::string::npos)
            expected.replace(at, 1, mibwalk);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, expected);
        EXPECT_EQ(agent.summary(), c.requests);
        bool v2c = std::find(c.args.begin(), c.args.end(), "2c") != c.args.end(),
             v3 = c.label.rfind("v3", 0) == 0;
        for (const auto &q : agent.requests) {
            bool discovery = v3 && q.pduTag == 0xA0 && q.binds.empty(); // RFC 3414, 4
            EXPECT_EQ(q.pduTag, discovery ? 0xA0 : q.pduTag == 0xA5 && (v2c || v3) ? 0xA5 : 0xA1);
            EXPECT_EQ(q.version, v3 ? 3 : v2c ? 1 : 0);
            EXPECT_EQ(q.status, 0); // GetBulk: non-repeaters
            if (v3)                 // reportable, msgMaxSize 2048, the user but to the discovery
                EXPECT_EQ(q.community.substr(q.community.find(' ')),
                          discovery ? " 2048 4 " : " 2048 4 u");
            else
                EXPECT_EQ(q.community, !c.args.empty() && c.args[0] == "-c" ? c.args[1] : "public");
        }
        if (c.check && !agent.requests.empty())
            c.check(agent);
        if (ON_WINDOWS || c.args.empty() || c.args[0].rfind("-Oj", 0) != 0)
            continue;
        labels.push_back(c.label);
        outs.push_back(r.out);
        sent.emplace_back(); // "oid=hex" of every binding the agent sent
        for (const Bytes &d : agent.sent)
            for (const auto &b : ber::parse(d).value_or(Msg{}).binds)
                sent.back().insert(b.name + "=" + lowHex(b.value.content));
    }
    auto json = walkout::jsonBindings(outs);
    for (size_t i = 0; i < outs.size(); ++i)
        for (std::string l : words({json[i].c_str()}))
            EXPECT_EQ(sent[i].count(l), 1u) << labels[i] << ": " << l;
}

// -Cc's memory: each column its own, the oldest forgotten past WALK_SEEN_MAX,
// a re-spelt name the same.
TEST(WalkRepeats, EachColumnKeepsItsLastNames) {
    auto repeats = [](uint16_t column, uint32_t arc) {
        uint8_t name[6] = {0x2B};
        return walkRepeats(column, name, 1 + smxEncodeSubId(name + 1, 5, arc));
    };
    for (uint32_t arc = 0; arc <= WALK_SEEN_MAX; ++arc)
        ASSERT_FALSE(repeats(0, arc)) << arc;
    EXPECT_TRUE(repeats(0, 1) && !repeats(1, 1) && !repeats(0, 0) && !repeats(0, 1)); // 0 forgotten
    const uint8_t padded[] = {0x2B, 0x80, 0x05}, huge[] = {0x2B, 0x90, 0x80, 0x80, 0x80, 0x00};
    EXPECT_TRUE(walkRepeats(0, padded, 3) && walkRepeats(2, huge, 6)); // 5; an arc over 2^32-1
}

TEST(Json, StringsEscaped) { // RFC 8259, 7: the short forms, else \u00XX
    const std::string in = std::string("\0\x01\b\t\n\f\r\x1f\"\\/\x7F", 12) + "\xC3\xA9";
    testing::internal::CaptureStdout();
    jsonPutString(reinterpret_cast<const uint8_t *>(in.data()), static_cast<int>(in.size()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), R"("\u0000\u0001\b\t\n\f\r\u001f\"\\/)"
                                                      "\x7F\xC3\xA9\"");
}

TEST_F(WalkTest, NamesFromTheDefinitionsFile) {
    std::filesystem::create_directories(dir.file("etc"));
    writeFile(dir.file("etc/snmp.def"),
              "# test definitions\nsystem = 1.3.6.1.2.1.1\n"
              "sysDescr = 1.3.6.1.2.1.1.1\nsysObjectID = 1.3.6.1.2.1.1.2\n");
    ScriptedAgent agent([](const Msg &r) { return Datagrams{answerFrom(mib, r)}; }, 0);
    auto r = run(agent, {"system"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, line("sysDescr.0", "OctetString", "\"box\"") +
                         line("sysObjectID.0", "ObjectId", "1.3.6.1.4.1.32473") +
                         line("system.3.0", "TimeTicks", "1234"));
    r = run(agent, {"system", "foo"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, mibwalk + ": Error parsing argument foo\n");
}

} // namespace
