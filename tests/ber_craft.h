// Test-only BER crafting and reading of SNMP version 1 messages (RFC 1157),
// written apart from the library's codec so that tests can forge datagrams
// the codec would never build, and check the library's output by an
// independent reading.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ber {

using Bytes = std::vector<unsigned char>;

inline Bytes length(size_t n) {
    if (n < 0x80)
        return {static_cast<unsigned char>(n)};
    Bytes digits;
    for (; n; n >>= 8)
        digits.insert(digits.begin(), static_cast<unsigned char>(n & 0xFF));
    Bytes out{static_cast<unsigned char>(0x80 | digits.size())};
    out.insert(out.end(), digits.begin(), digits.end());
    return out;
}

inline Bytes tlv(unsigned char tag, const Bytes &content) {
    Bytes out{tag};
    Bytes len = length(content.size());
    out.insert(out.end(), len.begin(), len.end());
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Shortest two's-complement content of a signed number.
inline Bytes intContent(int64_t v) {
    Bytes out;
    for (int i = 7; i >= 0; --i)
        out.push_back(static_cast<unsigned char>((static_cast<uint64_t>(v) >> (8 * i)) & 0xFF));
    while (out.size() > 1 &&
           ((out[0] == 0x00 && !(out[1] & 0x80)) || (out[0] == 0xFF && (out[1] & 0x80))))
        out.erase(out.begin());
    return out;
}

inline Bytes integer(int64_t v, unsigned char tag = 0x02) {
    return tlv(tag, intContent(v));
}
inline Bytes octets(const std::string &s, unsigned char tag = 0x04) {
    return tlv(tag, Bytes(s.begin(), s.end()));
}
inline Bytes null() {
    return tlv(0x05, {});
}
inline Bytes counter(int64_t v) {
    return integer(v, 0x41);
}
inline Bytes gauge(int64_t v) {
    return integer(v, 0x42);
}
inline Bytes ticks(int64_t v) {
    return integer(v, 0x43);
}
inline Bytes ipAddress(Bytes four) {
    return tlv(0x40, four);
}

// Content octets of a dotted object identifier (no checks: tests only).
inline Bytes oidContent(const std::string &dotted) {
    std::vector<uint32_t> arcs;
    size_t pos = 0;
    while (pos <= dotted.size()) {
        size_t dot = dotted.find('.', pos);
        if (dot == std::string::npos)
            dot = dotted.size();
        arcs.push_back(static_cast<uint32_t>(std::stoul(dotted.substr(pos, dot - pos))));
        pos = dot + 1;
    }
    Bytes out;
    auto sub = [&out](uint32_t v) {
        Bytes groups{static_cast<unsigned char>(v & 0x7F)};
        for (v >>= 7; v; v >>= 7)
            groups.insert(groups.begin(), static_cast<unsigned char>(0x80 | (v & 0x7F)));
        out.insert(out.end(), groups.begin(), groups.end());
    };
    sub(arcs.size() > 1 ? arcs[0] * 40 + arcs[1] : arcs[0] * 40);
    for (size_t i = 2; i < arcs.size(); ++i)
        sub(arcs[i]);
    return out;
}

inline Bytes oid(const std::string &dotted) {
    return tlv(0x06, oidContent(dotted));
}

inline Bytes varBind(const std::string &name, const Bytes &value) {
    return tlv(0x30, cat({oid(name), value}));
}

// A whole message: version 0, the community, and a PDU of the given tag
// (0xA2 GetResponse) holding the request id, status, index and bindings.
inline Bytes message(const std::string &community, unsigned char pduTag, int64_t requestId,
                     int64_t status, int64_t index, const std::vector<Bytes> &binds) {
    Bytes list;
    for (const auto &b : binds)
        list.insert(list.end(), b.begin(), b.end());
    Bytes pdu =
        tlv(pduTag, cat({integer(requestId), integer(status), integer(index), tlv(0x30, list)}));
    return tlv(0x30, cat({integer(0), octets(community), pdu}));
}

inline Bytes response(int64_t requestId, const std::vector<Bytes> &binds, int64_t status = 0,
                      int64_t index = 0, const std::string &community = "public") {
    return message(community, 0xA2, requestId, status, index, binds);
}

// --- reading ---

struct Element {
    unsigned char tag = 0;
    Bytes content;
};

// Reads one definite-length element at pos; advances pos past it.
inline std::optional<Element> read(const Bytes &in, size_t &pos) {
    if (pos + 2 > in.size())
        return std::nullopt;
    Element e;
    e.tag = in[pos++];
    size_t len = in[pos++];
    if (len & 0x80) {
        size_t n = len & 0x7F;
        if (n == 0 || n > 4 || pos + n > in.size())
            return std::nullopt;
        len = 0;
        for (size_t i = 0; i < n; ++i)
            len = (len << 8) | in[pos++];
    }
    if (pos + len > in.size())
        return std::nullopt;
    e.content.assign(in.begin() + static_cast<long>(pos),
                     in.begin() + static_cast<long>(pos + len));
    pos += len;
    return e;
}

inline int64_t toInt(const Bytes &c) {
    int64_t v = (!c.empty() && (c[0] & 0x80)) ? -1 : 0;
    for (unsigned char b : c)
        v = static_cast<int64_t>((static_cast<uint64_t>(v) << 8) | b);
    return v;
}

inline std::string oidText(const Bytes &c) {
    std::string out;
    uint64_t v = 0;
    bool first = true;
    for (unsigned char b : c) {
        v = (v << 7) | (b & 0x7F);
        if (b & 0x80)
            continue;
        if (first) {
            uint64_t a = v < 80 ? v / 40 : 2;
            out = std::to_string(a) + "." + std::to_string(v - 40 * a);
            first = false;
        } else {
            out += "." + std::to_string(v);
        }
        v = 0;
    }
    return out;
}

struct Bind {
    std::string name; // dotted
    Element value;
};

struct Message {
    int64_t version = -1;
    std::string community;
    unsigned char pduTag = 0;
    int64_t requestId = 0, status = 0, index = 0;
    std::vector<Bind> binds;
};

// Reads a request or response message (not a Trap); nullopt when malformed.
inline std::optional<Message> parse(const Bytes &in) {
    size_t pos = 0;
    auto outer = read(in, pos);
    if (!outer || outer->tag != 0x30)
        return std::nullopt;
    Message m;
    size_t p = 0;
    auto ver = read(outer->content, p);
    auto com = read(outer->content, p);
    auto pdu = read(outer->content, p);
    if (!ver || !com || !pdu)
        return std::nullopt;
    m.version = toInt(ver->content);
    m.community.assign(com->content.begin(), com->content.end());
    m.pduTag = pdu->tag;
    size_t q = 0;
    auto id = read(pdu->content, q);
    auto st = read(pdu->content, q);
    auto ix = read(pdu->content, q);
    auto list = read(pdu->content, q);
    if (!id || !st || !ix || !list)
        return std::nullopt;
    m.requestId = toInt(id->content);
    m.status = toInt(st->content);
    m.index = toInt(ix->content);
    size_t r = 0;
    while (r < list->content.size()) {
        auto vb = read(list->content, r);
        if (!vb)
            return std::nullopt;
        size_t s = 0;
        auto name = read(vb->content, s);
        auto value = read(vb->content, s);
        if (!name || !value)
            return std::nullopt;
        m.binds.push_back({oidText(name->content), *value});
    }
    return m;
}

} // namespace ber
