// Decoding a realistic GetResponse octet at a time, as the engine feeds it, and
// building and encoding the matching GetNextRequest from scratch.
#include "asn/asn.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

using Octets = std::vector<uint8_t>;

Octets tlv(uint8_t tag, const Octets &content) {
    Octets out{tag};
    size_t n = content.size();
    if (n >= 256) {
        out.push_back(0x82);
        out.push_back(static_cast<uint8_t>(n >> 8));
    } else if (n >= 128) {
        out.push_back(0x81);
    }
    out.push_back(static_cast<uint8_t>(n));
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Octets cat(std::initializer_list<Octets> parts) {
    Octets out;
    for (const auto &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// 1.3.6.1.2.1.2.2.1.2.10.1: twelve arcs, ifDescr of interface 10.
const Octets NAME = {0x2B, 0x06, 0x01, 0x02, 0x01, 0x02, 0x02, 0x01, 0x02, 0x0A, 0x01};
const Octets COMMUNITY = {'p', 'u', 'b', 'l', 'i', 'c'};
const Octets REQUEST_ID = {0x02, 0x04, 0x12, 0x34, 0x56, 0x78};
const Octets ZERO = {0x02, 0x01, 0x00};

Octets response(int bindings) {
    Octets list;
    for (int i = 0; i < bindings; i++) {
        Octets value(40, static_cast<uint8_t>('a' + i));
        Octets b = tlv(0x30, cat({tlv(0x06, NAME), tlv(0x04, value)}));
        list.insert(list.end(), b.begin(), b.end());
    }
    return tlv(0x30, cat({ZERO, tlv(0x04, COMMUNITY),
                          tlv(0xA2, cat({REQUEST_ID, ZERO, ZERO, tlv(0x30, list)}))}));
}

void decode(benchmark::State &state, int bindings) {
    const Octets m = response(bindings);
    for (auto _ : state) {
        AsnNode *root = asnNew(0);
        int status = 0;
        for (uint8_t c : m)
            status = asnDecode(root, c);
        if (status != 1)
            state.SkipWithError("the message did not decode");
        benchmark::DoNotOptimize(root);
        asnFree(root);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(m.size()));
    state.counters["octets"] = static_cast<double>(m.size());
    state.counters["per_octet"] = benchmark::Counter(static_cast<double>(m.size()),
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}

void BM_DecodeResponseOneBinding(benchmark::State &state) {
    decode(state, 1);
}
void BM_DecodeResponseTenBindings(benchmark::State &state) {
    decode(state, 10);
}

// The tree the engine builds for a GetNextRequest of one name, then its encoding.
void BM_BuildEncodeGetNext(benchmark::State &state) {
    uint8_t out[2048];
    int16_t n = 0;
    for (auto _ : state) {
        AsnNode *bind = asnNewConstructed(0, 16, ASN_SEQUENCE);
        AsnNode *name = asnNewObjectId(0, 6, NAME.data(), static_cast<int>(NAME.size()));
        AsnNode *null = asnNewPrimitive(0, 5, ASN_OCTETS, nullptr, 0);
        asnAppend(bind, name);
        asnAppend(bind, null);
        name = asnFree(name);
        null = asnFree(null);
        AsnNode *list = asnNewConstructed(0, 16, ASN_SEQUENCE);
        asnAppend(list, bind);
        bind = asnFree(bind);
        AsnNode *pdu = asnNewConstructed(2, 1, ASN_SEQUENCE);
        AsnNode *rid = asnNewInteger(0, 2, 0x12345678);
        AsnNode *status = asnNewInteger(0, 2, 0);
        AsnNode *index = asnNewInteger(0, 2, 0);
        asnAppend(pdu, rid);
        asnAppend(pdu, status);
        asnAppend(pdu, index);
        asnAppend(pdu, list);
        rid = asnFree(rid);
        status = asnFree(status);
        index = asnFree(index);
        list = asnFree(list);
        AsnNode *msg = asnNewConstructed(0, 16, ASN_SEQUENCE);
        AsnNode *version = asnNewInteger(0, 2, 0);
        AsnNode *community =
            asnNewOctetString(0, 4, COMMUNITY.data(), static_cast<int>(COMMUNITY.size()));
        asnAppend(msg, version);
        asnAppend(msg, community);
        asnAppend(msg, pdu);
        version = asnFree(version);
        community = asnFree(community);
        pdu = asnFree(pdu);
        n = asnEncode(msg, out, sizeof out);
        benchmark::DoNotOptimize(out);
        msg = asnFree(msg);
    }
    if (n <= 0)
        state.SkipWithError("the request did not encode");
    state.counters["octets"] = n;
}

} // namespace

BENCHMARK(BM_DecodeResponseOneBinding);
BENCHMARK(BM_DecodeResponseTenBindings);
BENCHMARK(BM_BuildEncodeGetNext);
