// Test-only BER crafting and reading of SNMPv1 messages (RFC 1157), apart from the library's
// codec: tests forge datagrams the codec would never build and read its output independently.
#pragma once

#include <cctype>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ber {

using Bytes = std::vector<unsigned char>;

// Octets of a text of hex digits; other characters (spaces between elements) are skipped.
inline Bytes hex(const std::string &text) {
    Bytes out;
    std::string digits;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c)) && (digits += c).size() % 2 == 0)
            out.push_back(static_cast<unsigned char>(
                std::stoul(digits.substr(digits.size() - 2), nullptr, 16)));
    return out;
}

// Identifier, shortest definite length, content.
inline Bytes tlv(unsigned char tag, const Bytes &content) {
    Bytes out{tag};
    size_t n = content.size(), digits = 0;
    for (size_t m = n >= 0x80 ? n : 0; m; m >>= 8)
        ++digits;
    if (digits)
        out.push_back(static_cast<unsigned char>(0x80 | digits));
    for (size_t i = digits ? digits : 1; i-- > 0;)
        out.push_back(static_cast<unsigned char>(n >> (8 * i)));
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

inline Bytes cat(const std::vector<Bytes> &parts) {
    Bytes out;
    for (const auto &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Shortest two's-complement content of a signed number.
inline Bytes integer(int64_t v, unsigned char tag = 0x02) {
    Bytes out;
    for (int i = 7; i >= 0; --i)
        out.push_back(static_cast<unsigned char>(static_cast<uint64_t>(v) >> (8 * i)));
    while (out.size() > 1 &&
           ((out[0] == 0x00 && !(out[1] & 0x80)) || (out[0] == 0xFF && (out[1] & 0x80))))
        out.erase(out.begin());
    return tlv(tag, out);
}
inline Bytes octets(const std::string &s, unsigned char tag = 0x04) {
    return tlv(tag, Bytes(s.begin(), s.end()));
}
inline const auto null = [] { return tlv(0x05, {}); };
inline const auto counter = [](int64_t v) { return integer(v, 0x41); };
inline const auto gauge = [](int64_t v) { return integer(v, 0x42); };
inline const auto ticks = [](int64_t v) { return integer(v, 0x43); };
inline const auto ipAddress = [](const Bytes &four) { return tlv(0x40, four); };
// Content octets of a dotted object identifier (no checks: tests only).
inline Bytes oidContent(const std::string &dotted) {
    std::vector<uint32_t> arcs;
    for (size_t pos = 0; pos <= dotted.size();) {
        size_t dot = dotted.find('.', pos);
        dot = dot == std::string::npos ? dotted.size() : dot;
        arcs.push_back(static_cast<uint32_t>(std::stoul(dotted.substr(pos, dot - pos))));
        pos = dot + 1;
    }
    arcs[0] = arcs[0] * 40 + (arcs.size() > 1 ? arcs[1] : 0);
    Bytes out;
    for (size_t i = 0; i < arcs.size(); i += i ? 1 : 2) {
        Bytes groups{static_cast<unsigned char>(arcs[i] & 0x7F)};
        for (uint32_t v = arcs[i] >> 7; v; v >>= 7)
            groups.insert(groups.begin(), static_cast<unsigned char>(0x80 | (v & 0x7F)));
        out.insert(out.end(), groups.begin(), groups.end());
    }
    return out;
}

inline const auto oid = [](const std::string &dotted) { return tlv(0x06, oidContent(dotted)); };

inline Bytes varBind(const std::string &name, const Bytes &value) {
    return tlv(0x30, cat({oid(name), value}));
}

// Version 0, the community, and a PDU of this tag (0xA2 GetResponse) holding the request id,
// status, index and bindings.
inline Bytes message(const std::string &community, unsigned char pduTag, int64_t requestId,
                     int64_t status, int64_t index, const std::vector<Bytes> &binds) {
    Bytes pdu = tlv(
        pduTag, cat({integer(requestId), integer(status), integer(index), tlv(0x30, cat(binds))}));
    return tlv(0x30, cat({integer(0), octets(community), pdu}));
}

inline Bytes response(int64_t requestId, const std::vector<Bytes> &binds, int64_t status = 0,
                      int64_t index = 0, const std::string &community = "public") {
    return message(community, 0xA2, requestId, status, index, binds);
}

struct Element {
    unsigned char tag = 0;
    Bytes content;
};

// Reads one definite-length element at pos; advances pos past it.
inline std::optional<Element> read(const Bytes &in, size_t &pos) {
    if (pos + 2 > in.size())
        return std::nullopt;
    Element e{in[pos], {}};
    size_t len = in[pos + 1], n = len & 0x80 ? len & 0x7F : 0;
    pos += 2;
    if ((len & 0x80) && (n == 0 || n > 4 || pos + n > in.size()))
        return std::nullopt;
    for (len = n ? 0 : len; n; --n)
        len = (len << 8) | in[pos++];
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
    for (unsigned char b : c) {
        v = (v << 7) | (b & 0x7F);
        if (b & 0x80)
            continue;
        if (out.empty()) {
            uint64_t a = v < 80 ? v / 40 : 2;
            out = std::to_string(a) + "." + std::to_string(v - 40 * a);
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
    size_t pos = 0, p = 0, q = 0, r = 0;
    auto outer = read(in, pos);
    if (!outer || outer->tag != 0x30)
        return std::nullopt;
    auto ver = read(outer->content, p), com = read(outer->content, p),
         pdu = read(outer->content, p);
    if (!ver || !com || !pdu)
        return std::nullopt;
    auto id = read(pdu->content, q), st = read(pdu->content, q), ix = read(pdu->content, q),
         list = read(pdu->content, q);
    if (!id || !st || !ix || !list)
        return std::nullopt;
    Message m{toInt(ver->content), {}, pdu->tag, toInt(id->content), toInt(st->content),
              toInt(ix->content),  {}};
    m.community.assign(com->content.begin(), com->content.end());
    while (r < list->content.size()) {
        auto vb = read(list->content, r);
        size_t s = 0;
        auto name = vb ? read(vb->content, s) : std::nullopt;
        auto value = name ? read(vb->content, s) : std::nullopt;
        if (!value)
            return std::nullopt;
        m.binds.push_back({oidText(name->content), *value});
    }
    return m;
}

} // namespace ber
