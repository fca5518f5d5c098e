// Feeds arbitrary octets one at a time into a fresh decoding tree, and again
// in one call that takes primitive contents in runs, which must agree. The decoder
// must end in status 0 to 3 without touching memory outside its block; on a
// complete message every node is walked, gathered, dumped and re-encoded, and
// the re-encoding must match what the decoder consumed.
#include "asn/asl.h"
#include "asn/asn.h"
#include "platform/log.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

void check(bool ok) {
    if (!ok)
        std::abort();
}

void discard(const char *, const char *) {}

void walk(AsnNode *root) {
    uint8_t gathered[ASN_CAPACITY];
    int count = 0;
    for (int i = 0; i <= asnDescendants(root); i++) {
        AsnNode *n = asnComponent(root, i);
        check(n != nullptr);
        (void)asnTag(n);
        (void)asnClass(n);
        (void)asnKind(n);
        int16_t g = asnGather(n, gathered, ASN_CAPACITY);
        check(g == asnValueLength(n));
        const uint8_t *v = asnValue(n);
        check((v == nullptr) == (asnConstructed(n) != 0));
        count += asnChildCount(n);
        uint8_t one[ASN_CAPACITY + 8];
        check(asnEncode(n, one, sizeof one) > 0);
        asnFree(n);
    }
    check(count == asnDescendants(root));
    check(asnComponent(root, asnDescendants(root) + 1) == nullptr);
    check(asnComponent(root, -1) == nullptr);
    asnPrint(root, 0);
}

void decodeWith(int grammar, const uint8_t *data, size_t size) {
    // The dump is exercised at level 2 for a few inputs to keep the rate high.
    logLevel = (size > 0 && data[0] == 0x30 && size % 16 == 0) ? 3 : 0;
    AsnNode *root = asnNew(grammar);
    if (!root)
        return;
    int status = 0;
    size_t consumed = 0;
    for (size_t i = 0; i < size; i++) {
        status = asnDecode(root, data[i]);
        check(status >= 0 && status <= 3);
        if (status != 0) {
            consumed = i + 1;
            break;
        }
    }
    if (status == 0)
        consumed = size;
    check(asnHeader(root)->status == status);
    // Decoded in runs, the same octets give the same result and tree.
    if (AsnNode *runs = asnNew(grammar)) {
        int used = -1;
        check(asnDecodeOctets(runs, data, static_cast<int>(size), &used) == status);
        check(static_cast<size_t>(used) == consumed);
        const AsnHeader *a = asnHeader(root);
        const AsnHeader *b = asnHeader(runs);
        check(a->pos == b->pos && a->bytesLeft == b->bytesLeft && a->depth == b->depth &&
              std::memcmp(a->base, b->base, a->pos) == 0);
        if (status == 1) {
            uint8_t x[ASN_CAPACITY + 8];
            uint8_t y[ASN_CAPACITY + 8];
            int16_t nx = asnEncode(root, x, sizeof x);
            check(nx == asnEncode(runs, y, sizeof y) && std::memcmp(x, y, nx) == 0);
        }
        asnFree(runs);
    }
    if (status == 1) {
        // A further octet changes nothing.
        check(asnDecode(root, 0x30) == 1);
        walk(root);
        uint8_t out[ASN_CAPACITY + 8];
        int16_t n = asnEncode(root, out, sizeof out);
        check(n > 0);
        check(out[0] == data[0]);
        int len = root->contentLen;
        check(len >= 0 && n >= len);
        int off = root->valueOffset;
        check(off >= 0 && static_cast<size_t>(off + len) <= consumed);
        check(std::memcmp(out + (n - len), data + off, static_cast<size_t>(len)) == 0);
        // Shortest definite root length: the whole re-encoding is what came in.
        bool shortest = (root->flags & ASN_FLAG_DEFINITE) && off == 1 + (len < 128   ? 1
                                                                         : len < 256 ? 2
                                                                                     : 3);
        if (shortest) {
            check(static_cast<size_t>(n) == consumed);
            check(std::memcmp(out, data, consumed) == 0);
        }
        // A built tree accepts the decoded one as an item.
        AsnNode *seq = asnNewConstructed(0, 16, ASN_SEQUENCE);
        if (seq && asnAppend(seq, root) == 0) {
            uint8_t again[ASN_CAPACITY + 8];
            int16_t m = asnEncode(seq, again, sizeof again);
            check(m > n);
            check(std::memcmp(again + (m - n), out, static_cast<size_t>(n)) == 0);
        }
        asnFree(seq);
    }
    asnFree(root);
    logLevel = 0;
}

} // namespace

// Every input goes through each message version's grammar and those of a
// version-3 message's parts.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool once = [] {
        logSetEventSink(discard);
        logLevel = 0;
        return true;
    }();
    (void)once;
    for (int grammar :
         {ASL_GRAMMAR_V1, ASL_GRAMMAR_V2C, ASL_GRAMMAR_V3, ASL_GRAMMAR_SCOPED, ASL_GRAMMAR_USM})
        decodeWith(grammar, data, size);
    return 0;
}
