// Typed values: one node from a host value per SNMP version 1 type (RFC 1155,
// 3.2), and the host value back from a node after its class, tag and length
// are checked, so a caller can try the types it expects in turn.
//
// Bounds: INTEGER at most 4 content octets; unsigned values (unsigned INTEGER,
// Counter, Gauge, TimeTicks) 4, or 5 when the first is 00; IpAddress exactly 4;
// an OBJECT IDENTIFIER at most 1024 content octets both ways.
#pragma once

#include "asn/asn.h"

#include <cstdint>

inline constexpr int ASX_OBJECT_ID_MAX = 1024;

// Each returns a one-node tree with one reference, or none.
AsnNode *asxEncodeInteger(int32_t value);
AsnNode *asxEncodeUnsigned(uint32_t value);
AsnNode *asxEncodeOctetString(const uint8_t *octets, int len);
AsnNode *asxEncodeNull();
AsnNode *asxEncodeObjectId(const char *text); // a name or dotted numbers
AsnNode *asxEncodeIpAddress(uint32_t value);  // first octet in the top byte
AsnNode *asxEncodeCounter(uint32_t value);
AsnNode *asxEncodeGauge(uint32_t value);
AsnNode *asxEncodeTimeTicks(uint32_t value);
AsnNode *asxEncodeOpaque(const uint8_t *octets, int len);

// Each returns 0, or 3 when the node is not of the type or the value does not
// fit; on 3 the outputs are not set.
int asxDecodeInteger(const AsnNode *node, int32_t *valuep);
int asxDecodeUnsigned(const AsnNode *node, uint32_t *valuep);
int asxDecodeCounter(const AsnNode *node, uint32_t *valuep);
int asxDecodeGauge(const AsnNode *node, uint32_t *valuep);
int asxDecodeTimeTicks(const AsnNode *node, uint32_t *valuep);
// *lenp: room of valuep in, value length out. Segments of a constructed value are joined.
int asxDecodeOctetString(const AsnNode *node, uint8_t *valuep, int16_t *lenp);
int asxDecodeNull(const AsnNode *node);
// *lenp: size of valuep in bytes, terminator included, in; text length out.
int asxDecodeObjectId(const AsnNode *node, char *valuep, int16_t *lenp);
int asxDecodeIpAddress(const AsnNode *node, uint32_t *valuep);

// IpAddress conversions: 4, or -1 for fewer than 4 octets or unusable text.
int asxIpAddressToByte(uint8_t *buf, int len, uint32_t value);
int asxByteToIpAddress(uint32_t *valuep, const uint8_t *buf, int len);
// size: bytes of text, terminator included. The text length, or negative.
int asxIpAddressToText(char *text, int size, uint32_t value);
int asxTextToIpAddress(uint32_t *valuep, const char *text);
