// The octet-at-a-time BER decoder. One small loop feeds each octet to the
// state handler installed in the tree's header; the grammar table says which
// identifier may come next, how its content is read and how short it may be.
// Every length is checked against the room of the enclosing element at the
// octet where it arrives, and every octet and record costs bytesLeft, so
// nothing is read or written outside the block.
#include "asn/decode.h"

#include "platform/log.h"
#include "smx/smx.h"

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstring>

namespace {

uintptr_t addr(const void *p) {
    return reinterpret_cast<uintptr_t>(p);
}

AsnNode *currentNode(AsnHeader *h) {
    return asnNodeAt(h, h->current);
}

// The entry a node of the tree whose header is h matched, in its grammar.
inline const AslEntry *entryOf(const AsnHeader *h, const AsnNode *n) {
    return aslEntry(h->grammar, n->descriptor);
}

AsnHandler handlerFor(uint32_t kind) {
    return asnHandlers[kind < 8 ? kind : 0];
}

int refuse(const char *code) {
    logStep("%s", code);
    return ASN_MALFORMED;
}

// A definite length L of n, which matched e, has been read: the content
// starts at the next octet.
void openDefinite(AsnHeader *h, AsnNode *n, const AslEntry *e, int L) {
    n->flags |= ASN_FLAG_DEFINITE;
    // An end beyond any block's reach is never met; the block runs out first.
    int end = h->pos + L;
    n->endPos = static_cast<int16_t>(end <= ASN_MAX_COUNT ? end : -1);
    n->kind = e->kind;
    n->valueOffset = static_cast<int16_t>(h->pos);
    n->contentLen = static_cast<int16_t>(L);
    n->maxLen = static_cast<int16_t>(L);
    h->handler = handlerFor(e->kind);
    h->pending = static_cast<uint8_t>(aslIndex(h->grammar, e->first));
}

void traceInteger(const char *name, AsnHeader *h, const AsnNode *n, int c) {
    if (!logSteps())
        return;
    logPrintf("%s: %02X\n", name, c);
    logPrintf("asnInteger1: %02X\n", h->base[n->valueOffset]);
    logPrintf("%s: %d\n", name, n->valueOffset);
    logPrintf("%s: %08" PRIXPTR "\n", name, addr(n));
}

// asnLenVerify, with the entry n matched.
int lenVerify(const AsnNode *n, const AslEntry *e, int L) {
    if (logSteps()) {
        logPrintf("asnLenVerify ");
        logPrintf("Max %d ", n->maxLen);
        logPrintf("Tot %d ", n->total);
        logPrintf("Len %d ", L);
        logPrintf("Min %d ", e->aslMinLen);
    }
    if (e->kind == ASN_SEQUENCE) {
        if (L < e->first->aslMinLen)
            return refuse("0 ");
    } else if (e->kind == ASN_SEQUENCEOF) {
        if (L != 0 && L < e->first->aslMinLen)
            return refuse("1 ");
        if (L < 0)
            return refuse("1 ");
    } else if (L < e->aslMinLen) {
        return refuse("5 ");
    }
    int m = e->next ? e->next->aslMinLen : 0;
    // The element and the least that must follow it have to fit.
    if (n->maxLen != -1 && n->total + L + m > n->maxLen)
        return refuse("2 ");
    // The last component must end where its parent ends.
    if ((n->flags & ASN_FLAG_DEFINITE) && !e->next && n->maxLen != -1 && n->total + L != n->maxLen)
        return refuse("3 ");
    logStep("4 ");
    return 0;
}

} // namespace

const AsnHandler asnHandlers[8] = {asnType0, asnInteger0, asnOctets0, asnObjectId0,
                                   asnSeq,   asnSeqOf,    asnNull,    asnType0};

AsnNode *asnNew(int grammarNumber) {
    const AslEntry *g = aslGrammar(grammarNumber);
    if (!g)
        return nullptr;
    logStep("asnNew");
    AsnNode *root = asnNewBlock(ASN_CAPACITY);
    if (root) {
        AsnHeader *h = asnHeader(root);
        h->status = ASN_MORE;
        h->handler = handlerFor(g->kind);
        h->grammar = static_cast<uint8_t>(aslGrammarNumber(grammarNumber));
        h->depth = 1;
        logStep(" dp %" PRIXPTR, addr(root));
        root->descriptor = static_cast<uint16_t>(aslIndex(h->grammar, g));
    }
    logStep("\n");
    return root;
}

namespace {

// One octet into the tree whose header is h (see asnDecode).
inline int decodeStep(AsnHeader *h, uint8_t octet) {
    logStep("asnDecode0 bytesLeft %d\n", static_cast<int16_t>(h->bytesLeft));
    if (h->status != ASN_MORE)
        return h->status;
    if (static_cast<int16_t>(h->bytesLeft) <= 0) {
        h->status = ASN_NO_ROOM;
        return ASN_NO_ROOM;
    }
    h->bytesLeft--;
    h->base[h->pos++] = octet;
    // The status is kept in hand and stored once: read back beside the depth,
    // just after its store, it would stall the load.
    int status = h->handler(h, octet);
    // Several nested elements can end at the same octet; each gets its end signal.
    while (status == ASN_MORE && currentNode(h)->endPos == h->pos)
        status = h->handler(h, ASN_END);
    if (status == ASN_MORE && h->depth == 0) {
        logStep("asnDecode bytesLeft %d\n", static_cast<int16_t>(h->bytesLeft));
        status = ASN_COMPLETE;
    }
    h->status = status;
    return status;
}

} // namespace

int asnDecode(AsnNode *root, uint8_t octet) {
    return root ? decodeStep(asnHeader(root), octet) : ASN_NO_ROOM;
}

int asnDecodeOctets(AsnNode *root, const uint8_t *octets, int length, int *used) {
    int i = 0;
    int r = root ? asnHeader(root)->status : ASN_NO_ROOM;
    while (i < length && r == ASN_MORE) {
        AsnHeader *h = asnHeader(root);
        // Inside a primitive's content each octet only moves the position (an
        // OBJECT IDENTIFIER's are checked at its end): all but the last, which
        // ends the element, are taken at once. Step traces keep their one line
        // an octet.
        int run = (h->handler == asnInteger2 || h->handler == asnObjectId1) && !logSteps()
                      ? std::min({currentNode(h)->endPos - h->pos - 1, length - i,
                                  static_cast<int>(static_cast<int16_t>(h->bytesLeft))})
                      : 0;
        if (run > 0) {
            memcpy(h->base + h->pos, octets + i, static_cast<size_t>(run));
            h->pos = static_cast<uint16_t>(h->pos + run);
            h->bytesLeft = static_cast<uint16_t>(h->bytesLeft - run);
            i += run;
            continue;
        }
        r = decodeStep(h, octets[i++]);
    }
    if (used)
        *used = i;
    return r;
}

int asnType0(AsnHeader *h, int c) {
    logEntry("asnType0\n");
    if (c == ASN_END || c == 0)
        return ASN_MALFORMED;
    AsnNode *n = currentNode(h);
    n->total++;
    logStep("asnType0 dp %" PRIXPTR " np %" PRIXPTR "\n", addr(n), addr(entryOf(h, n)));
    const AslEntry *e = aslChoice(entryOf(h, n), c);
    if (!e)
        return ASN_MALFORMED;
    if (n->maxLen != -1 && e->aslMinLen > n->maxLen)
        return ASN_MALFORMED;
    n->descriptor = static_cast<uint16_t>(aslIndex(h->grammar, e));
    n->tagClass = static_cast<uint32_t>(c) >> 6;
    if (c & 0x20)
        n->flags |= ASN_FLAG_CONSTRUCTED;
    else
        n->flags &= static_cast<uint16_t>(~ASN_FLAG_CONSTRUCTED);
    if ((c & 0x1F) == 0x1F) {
        n->tagNumber = 0;
        h->handler = asnType1;
    } else {
        n->tagNumber = static_cast<uint32_t>(c & 0x1F);
        h->handler = asnLen0;
    }
    return 0;
}

// Further identifier octets (X.690, 8.1.2.4): the entry matched so far must
// itself select over the next octet.
int asnType1(AsnHeader *h, int c) {
    logEntry("asnType1\n");
    if (c == ASN_END)
        return ASN_MALFORMED;
    AsnNode *n = currentNode(h);
    n->total++;
    const AslEntry *e = aslChoice(entryOf(h, n), c);
    if (!e)
        return ASN_MALFORMED;
    if (n->maxLen != -1 && n->total + e->aslMinLen > n->maxLen)
        return ASN_MALFORMED;
    n->descriptor = static_cast<uint16_t>(aslIndex(h->grammar, e));
    n->tagNumber = (n->tagNumber << 7) | static_cast<uint32_t>(c & 0x7F);
    if (!(c & 0x80))
        h->handler = asnLen0;
    return 0;
}

int asnLen0(AsnHeader *h, int c) {
    logStep("asnLen0 ");
    if (c == ASN_END)
        return refuse("0\n");
    if (c == 0xFF) // reserved (X.690, 8.1.3.5)
        return refuse("1\n");
    AsnNode *n = currentNode(h);
    const AslEntry *e = entryOf(h, n);
    n->total++;
    if (c < 0x80) {
        if (lenVerify(n, e, c) != 0)
            return refuse("2\n");
        openDefinite(h, n, e, c);
        logStep("4\n");
        return 0;
    }
    if (c == 0x80) {
        if (!(n->flags & ASN_FLAG_CONSTRUCTED)) // X.690, 8.1.3.2
            return refuse("9\n");
        if (n->maxLen != -1) {
            // What remains must hold the content and the two end-of-contents octets.
            if (n->maxLen - n->total < 2)
                return refuse("6\n");
            n->maxLen = static_cast<int16_t>(n->maxLen - n->total);
        }
        n->flags = static_cast<uint16_t>((n->flags | ASN_FLAG_INDEFINITE) & ~ASN_FLAG_DEFINITE);
        n->kind = e->kind;
        n->valueOffset = static_cast<int16_t>(h->pos);
        h->handler = handlerFor(e->kind);
        h->pending = static_cast<uint8_t>(aslIndex(h->grammar, e->first));
        logStep("8\n");
        return 0;
    }
    // More length octets than needed are allowed (RFC 3417, 8); lengths stay
    // 16-bit, so of four octets the first two must be 0.
    int k = c & 0x7F;
    if (k > 4)
        return refuse("5\n");
    if (n->maxLen != -1 && n->total + k + e->aslMinLen > n->maxLen)
        return refuse("6\n");
    // The definite mark is set once the whole length is verified: until then
    // 0x08 still says whether this element must end where its parent ends.
    h->lenShift = 8 * k;
    h->handler = asnLen1;
    logStep("7\n");
    return 0;
}

int asnLen1(AsnHeader *h, int c) {
    logStep("asnLen1 ");
    if (c == ASN_END)
        return refuse("0\n");
    AsnNode *n = currentNode(h);
    n->total++;
    h->lenShift -= 8;
    if (h->lenShift >= 16 && c != 0) // beyond every bound
        return refuse("5\n");
    auto t = static_cast<int16_t>(n->contentLen | (c << h->lenShift));
    if (logSteps()) {
        logPrintf("tlen %d ", t);
        logPrintf("MaxLen %d ", n->maxLen);
        logPrintf("TotalLen %d ", n->total);
        logPrintf("aslMinLen %d ", entryOf(h, n)->aslMinLen);
    }
    if (n->maxLen != -1 && t + n->total > n->maxLen)
        return refuse("1\n");
    if (h->lenShift != 0) {
        n->contentLen = t;
        logStep("4\n");
        return 0;
    }
    // A length read as negative is below every bound and refused here.
    const AslEntry *e = entryOf(h, n);
    if (lenVerify(n, e, t) != 0)
        return refuse("2\n");
    openDefinite(h, n, e, t);
    logStep("3\n");
    return 0;
}

int asnLenVerify(const AsnNode *n, int L) {
    return lenVerify(n, entryOf(asnHeader(n), n), L);
}

int asnPush(AsnHeader *h, const AslEntry *entry) {
    logEntry("asnPush\n");
    if (static_cast<int16_t>(h->bytesLeft) < ASN_SLOT)
        return ASN_NO_ROOM;
    h->bytesLeft = static_cast<uint16_t>(h->bytesLeft - ASN_SLOT);
    h->lowest--;
    AsnNode *parent = currentNode(h);
    AsnNode *n = asnNodeAt(h, h->lowest);
    h->depth++;
    parent->descendants++;
    *n = AsnNode{};
    n->toHeader = h->nextToHeader++;
    n->parent = h->current;
    n->descriptor = static_cast<uint16_t>(aslIndex(h->grammar, entry));
    n->maxLen = parent->maxLen;
    if (n->maxLen != -1 && (parent->flags & ASN_FLAG_INDEFINITE))
        n->maxLen = static_cast<int16_t>(n->maxLen - 2); // the end-of-contents octets
    if (!entryOf(h, parent)->next && (parent->flags & ASN_FLAG_DEFINITE))
        n->flags = ASN_FLAG_DEFINITE;
    h->handler = handlerFor(entry->kind);
    h->current = h->lowest;
    h->pending = 0;
    return 0;
}

int asnPop(AsnHeader *h) {
    logEntry("asnPop\n");
    AsnNode *n = currentNode(h);
    n->total = static_cast<int16_t>(n->total + n->contentLen);
    n->endPos = 0;
    h->pending = static_cast<uint8_t>(aslIndex(h->grammar, entryOf(h, n)->next));
    if (n->parent != 0) {
        AsnNode *p = asnNodeAt(h, n->parent);
        h->handler = handlerFor(entryOf(h, p)->kind);
        if (p->flags & ASN_FLAG_INDEFINITE)
            p->contentLen = static_cast<int16_t>(p->contentLen + n->total);
        p->valueLen = static_cast<int16_t>(p->valueLen + n->valueLen);
        p->descendants = static_cast<uint16_t>(p->descendants + n->descendants);
        if (p->maxLen != -1)
            p->maxLen = static_cast<int16_t>(p->maxLen - n->total);
        h->current = n->parent;
    }
    h->depth--;
    return 0;
}

int asnInteger0(AsnHeader *h, int c) {
    AsnNode *n = currentNode(h);
    if (c == ASN_END) // an INTEGER has at least one content octet
        return refuse("asnInteger0: 1\n");
    traceInteger("asnInteger0", h, n, c);
    n->valueLen = n->contentLen;
    h->handler = asnInteger1;
    logStep("asnInteger0: 2\n");
    return 0;
}

// The first nine bits of an INTEGER are never all equal (X.690, 8.3.2).
int asnInteger1(AsnHeader *h, int c) {
    AsnNode *n = currentNode(h);
    if (c == ASN_END) {
        logStep("asnInteger1: 1\n");
        return asnPop(h);
    }
    traceInteger("asnInteger1", h, n, c);
    uint8_t first = h->base[n->valueOffset];
    if ((first == 0x00 && c < 0x80) || (first == 0xFF && c >= 0x80))
        return refuse("asnInteger1: 2\n");
    h->handler = asnInteger2;
    logStep("asnInteger1: 3\n");
    return 0;
}

int asnInteger2(AsnHeader *h, int c) {
    if (c == ASN_END) {
        logStep("asnInteger2: 1\n");
        return asnPop(h);
    }
    logStep("asnInteger2: 2\n");
    return 0;
}

int asnOctets0(AsnHeader *h, int c) {
    AsnNode *n = currentNode(h);
    n->valueLen = n->contentLen;
    if (c == ASN_END)
        return asnPop(h);
    h->handler = asnInteger2;
    return 0;
}

int asnObjectId0(AsnHeader *h, int c) {
    logStep("asnObjectId0 ");
    AsnNode *n = currentNode(h);
    n->valueLen = n->contentLen;
    if (c == ASN_END) {
        logStep("0\n");
        return asnPop(h);
    }
    h->handler = asnObjectId1;
    logStep("1\n");
    return 0;
}

int asnObjectId1(AsnHeader *h, int c) {
    logStep("asnObjectId1 ");
    if (c != ASN_END) {
        logStep("2\n");
        return 0;
    }
    AsnNode *n = currentNode(h);
    uint8_t last = h->base[n->valueOffset + n->contentLen - 1];
    logStep("%02X ", last);
    if (last & 0x80) // unfinished sub-identifier (X.690, 8.19.2)
        return refuse("0\n");
    // RFC 2578, 7.1.3: no sub-identifier exceeds 2^32-1, so no name holds one.
    // Only an arc of five significant octets or more can: just those are read.
    // Such an arc has four octets with bit 8 set; most names have fewer in all.
    const uint8_t *oid = h->base + n->valueOffset;
    int continued = 0;
    for (int at = 0; at < n->contentLen; ++at)
        continued += oid[at] >> 7;
    for (int at = 0, start = 0; continued >= 4 && at < n->contentLen; ++at) {
        if (oid[at] == 0x80 && at == start)
            ++start; // padding before the arc's first significant octet
        else if (!(oid[at] & 0x80) && at - start >= 4) {
            uint32_t arc = 0;
            if (!smxReadSubId(oid, at + 1, &start, &arc))
                return refuse("3\n");
        }
        if (!(oid[at] & 0x80))
            start = at + 1;
    }
    logStep("1\n");
    return asnPop(h);
}

int asnNull(AsnHeader *h, int c) {
    logEntry("asnNull\n");
    currentNode(h)->valueLen = 0;
    if (c == ASN_END)
        return asnPop(h);
    return ASN_MALFORMED; // NULL has no content (X.690, 8.8.2)
}

int asnSeq(AsnHeader *h, int c) {
    logStep("asnSeq ");
    AsnNode *n = currentNode(h);
    if (h->pending) {
        logStep("4\n");
        int r = asnPush(h, aslEntry(h->grammar, h->pending));
        if (r != 0)
            return r;
        return h->handler(h, c); // an end signal here means a missing component
    }
    if (n->flags & ASN_FLAG_INDEFINITE) {
        if (c == 0) {
            n->total++;
            h->handler = asnEOC1;
            logStep("1\n");
            return 0;
        }
        return refuse("0\n");
    }
    if (c == ASN_END) {
        logStep("2\n");
        return asnPop(h);
    }
    return refuse("3\n"); // octets after the last component
}

int asnSeqOf(AsnHeader *h, int c) {
    logEntry("asnSeqOf\n");
    AsnNode *n = currentNode(h);
    if (c == ASN_END)
        return asnPop(h);
    if (c == 0) {
        if (!(n->flags & ASN_FLAG_INDEFINITE))
            return ASN_MALFORMED;
        n->total++;
        h->handler = asnEOC1;
        return 0;
    }
    int r = asnPush(h, entryOf(h, n)->first);
    if (r != 0)
        return r;
    return h->handler(h, c);
}

int asnEOC1(AsnHeader *h, int c) {
    logEntry("asnEOC1\n");
    if (c != 0) // also the end signal
        return ASN_MALFORMED;
    currentNode(h)->total++;
    return asnPop(h);
}
