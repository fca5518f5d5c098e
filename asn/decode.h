// The decoder's state handlers and element bookkeeping, for the decoder itself
// and its tests. Every handler takes the header and an octet 0..255 or ASN_END,
// installs the next handler and returns 0 (go on), 2 (malformed) or 3 (no room).
#pragma once

#include "asn/asl.h"
#include "asn/asn.h"

int asnType0(AsnHeader *h, int c);
int asnType1(AsnHeader *h, int c);
int asnLen0(AsnHeader *h, int c);
int asnLen1(AsnHeader *h, int c);
int asnInteger0(AsnHeader *h, int c);
int asnInteger1(AsnHeader *h, int c);
int asnInteger2(AsnHeader *h, int c);
int asnOctets0(AsnHeader *h, int c);
int asnObjectId0(AsnHeader *h, int c);
int asnObjectId1(AsnHeader *h, int c);
int asnNull(AsnHeader *h, int c);
int asnSeq(AsnHeader *h, int c);
int asnSeqOf(AsnHeader *h, int c);
int asnEOC1(AsnHeader *h, int c);

// Content-state handlers by AsnKind (7 reads like 0: a selector).
extern const AsnHandler asnHandlers[8];

// Opens a component for entry below the current node: 0, or 3 without room.
int asnPush(AsnHeader *h, const AslEntry *entry);
// Closes the current node into its parent.
int asnPop(AsnHeader *h);
// 0 when a definite length L fits the node's entry and its room, else 2.
int asnLenVerify(const AsnNode *node, int L);
