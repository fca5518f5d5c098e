// The client of the agent benchmark: one process sending SNMPv1
// GetNextRequests one after another, each when the answer to the last came.
//
//   getnext learn PORT COMMUNITY SUBTREE...  walks each subtree on 127.0.0.1
//       and prints the name of every request it sent, one a line;
//   getnext replay PORT COMMUNITY ROUNDS     sends the names read from
//       standard input ROUNDS times over and prints "answered N lost M
//       bindings B"; with BULK=R in the environment it sends SNMPv2c
//       GetBulkRequests of max-repetitions R instead.
// A request unanswered after a second is counted lost and the next one sent.
// Requests are built once; each is then one sendto and one recv.
#include <arpa/inet.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes tlv(uint8_t tag, const Bytes &content) {
    Bytes out{tag};
    size_t n = content.size();
    if (n < 128) {
        out.push_back(static_cast<uint8_t>(n));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<uint8_t>(n >> 8));
        out.push_back(static_cast<uint8_t>(n));
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes encodeOid(const std::string &dotted) {
    std::vector<uint32_t> arcs;
    for (const char *p = dotted.c_str(); *p;) {
        char *end = nullptr;
        arcs.push_back(static_cast<uint32_t>(strtoul(p, &end, 10)));
        p = *end == '.' ? end + 1 : end;
        if (end == p && *p) // not a digit: stop
            break;
    }
    Bytes out;
    if (arcs.size() < 2)
        return out;
    arcs[1] += arcs[0] * 40;
    for (size_t i = 1; i < arcs.size(); ++i) {
        uint8_t groups[5];
        int n = 0;
        uint32_t v = arcs[i];
        do {
            groups[n++] = v & 0x7F;
            v >>= 7;
        } while (v);
        while (n-- > 0)
            out.push_back(static_cast<uint8_t>(groups[n] | (n ? 0x80 : 0)));
    }
    return out;
}

std::string dottedOid(const uint8_t *p, size_t n) {
    std::string out;
    uint32_t v = 0;
    bool first = true;
    for (size_t i = 0; i < n; ++i) {
        v = (v << 7) | (p[i] & 0x7F);
        if (p[i] & 0x80)
            continue;
        if (first) {
            uint32_t a = v < 80 ? v / 40 : 2;
            out = std::to_string(a) + "." + std::to_string(v - a * 40);
            first = false;
        } else {
            out += "." + std::to_string(v);
        }
        v = 0;
    }
    return out;
}

// Steps into the element at p (tag expected), returning its content.
bool enter(const uint8_t *&p, const uint8_t *end, uint8_t tag, size_t &length) {
    if (end - p < 2 || p[0] != tag)
        return false;
    length = p[1];
    p += 2;
    if (length & 0x80) {
        size_t k = length & 0x7F;
        length = 0;
        if (k > 2 || static_cast<size_t>(end - p) < k)
            return false;
        while (k--)
            length = (length << 8) | *p++;
    }
    return static_cast<size_t>(end - p) >= length;
}

// The request id and (where asked) first binding's name of a GetResponse;
// false when it is none.
bool parseResponse(const uint8_t *p, size_t n, int32_t *id, std::string *name, int32_t *error,
                   long *bindings) {
    const uint8_t *end = p + n;
    size_t len;
    if (!enter(p, end, 0x30, len) || !enter(p, end, 0x02, len))
        return false;
    p += len;
    if (!enter(p, end, 0x04, len))
        return false;
    p += len;
    if (!enter(p, end, 0xA2, len) || !enter(p, end, 0x02, len))
        return false;
    int32_t v = 0;
    for (size_t i = 0; i < len; ++i)
        v = static_cast<int32_t>((static_cast<uint32_t>(v) << 8) | p[i]);
    *id = v;
    p += len;
    if (!enter(p, end, 0x02, len))
        return false;
    *error = len ? p[len - 1] : 0;
    p += len;
    if (!enter(p, end, 0x02, len))
        return false;
    p += len;
    if (!enter(p, end, 0x30, len))
        return false;
    for (const uint8_t *q = p, *listEnd = p + len; q < listEnd; ++*bindings) {
        size_t bindLen;
        if (!enter(q, listEnd, 0x30, bindLen))
            break;
        q += bindLen;
    }
    if (!enter(p, end, 0x30, len) || !enter(p, end, 0x06, len))
        return false;
    if (name)
        *name = dottedOid(p, len);
    return true;
}

// A GetNextRequest for name, or with bulk a version-2c GetBulkRequest of that
// max-repetitions; its request id is the four octets at *idAt.
Bytes request(const std::string &community, const std::string &name, size_t *idAt, int bulk = 0) {
    Bytes vb = tlv(0x30, cat({tlv(0x06, encodeOid(name)), Bytes{0x05, 0x00}}));
    Bytes pdu =
        tlv(bulk ? 0xA5 : 0xA1,
            cat({tlv(0x02, Bytes(4, 0x01)),
                 Bytes{0x02, 0x01, 0x00, 0x02, 0x01, static_cast<uint8_t>(bulk)}, tlv(0x30, vb)}));
    Bytes message = tlv(0x30, cat({Bytes{0x02, 0x01, static_cast<uint8_t>(bulk ? 1 : 0)},
                                   tlv(0x04, Bytes(community.begin(), community.end())), pdu}));
    *idAt = message.size() - pdu.size() + 4; // past the PDU's tag and length and the id's
    return message;
}

struct Client {
    int fd;
    sockaddr_in agent;
    int32_t nextId = 0x01000000; // four octets, minimal as BER wants, up to 0x7FFFFFFF
    long answered = 0, lost = 0, bindings = 0;

    // Sends a request built by request() under a new id; true when its answer
    // came (its first name in next when asked for), false when lost.
    bool exchange(Bytes &message, size_t idAt, std::string *next, int32_t *error) {
        int32_t id = nextId++;
        for (int i = 0; i < 4; ++i)
            message[idAt + static_cast<size_t>(i)] = static_cast<uint8_t>(id >> (24 - 8 * i));
        if (sendto(fd, message.data(), message.size(), 0, reinterpret_cast<sockaddr *>(&agent),
                   sizeof agent) < 0)
            return false;
        uint8_t in[4096];
        ssize_t n;
        while ((n = recv(fd, in, sizeof in, 0)) >= 0) { // a second's silence ends it
            int32_t got = 0;
            long count = 0;
            if (parseResponse(in, static_cast<size_t>(n), &got, next, error, &count) && got == id) {
                bindings += count;
                ++answered;
                return true;
            }
        }
        ++lost;
        return false;
    }
};

bool under(const std::string &name, const std::string &subtree) {
    return name.size() > subtree.size() && name.compare(0, subtree.size(), subtree) == 0 &&
           name[subtree.size()] == '.';
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 5) {
        fprintf(stderr, "usage: getnext learn|replay PORT COMMUNITY SUBTREE...|ROUNDS\n");
        return 2;
    }
    Client c{};
    c.fd = socket(AF_INET, SOCK_DGRAM, 0);
    timeval second{1, 0};
    setsockopt(c.fd, SOL_SOCKET, SO_RCVTIMEO, &second, sizeof second);
    c.agent.sin_family = AF_INET;
    c.agent.sin_port = htons(static_cast<uint16_t>(atoi(argv[2])));
    c.agent.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string community = argv[3];
    size_t idAt = 0;
    int32_t error = 0;
    if (strcmp(argv[1], "learn") == 0) {
        for (int i = 4; i < argc; ++i) {
            std::string name = argv[i], next;
            for (;;) {
                printf("%s\n", name.c_str());
                Bytes m = request(community, name, &idAt);
                if (!c.exchange(m, idAt, &next, &error) || error != 0 || !under(next, argv[i]))
                    break;
                name = next;
            }
        }
        return c.lost ? 1 : 0;
    }
    // Every request is built before the first is sent, so that the client
    // does no more per request than a send and a receive.
    std::vector<Bytes> messages;
    std::vector<size_t> ids;
    int bulk = getenv("BULK") ? atoi(getenv("BULK")) : 0;
    for (std::string line; std::getline(std::cin, line);)
        if (!line.empty()) {
            messages.push_back(request(community, line, &idAt, bulk));
            ids.push_back(idAt);
        }
    long rounds = atol(argv[4]);
    for (long r = 0; r < rounds; ++r)
        for (size_t i = 0; i < messages.size(); ++i)
            c.exchange(messages[i], ids[i], nullptr, &error);
    printf("answered %ld lost %ld bindings %ld\n", c.answered, c.lost, c.bindings);
    return 0;
}
