// The tree dump: one block of lines per element, nested by tabs, through logPrintf.
// Bounds: a value is shown from a 512-octet work area; a longer one shows no octets.
#include "asn/asn.h"
#include "platform/log.h"

namespace {

constexpr int PRINT_VALUE_MAX = 512;

const char *classLetter(uint32_t tagClass) {
    static const char *const letters[] = {"U", "A", "C", "P"};
    return tagClass < 4 ? letters[tagClass] : "?";
}

} // namespace

const char *asnKindName(uint32_t kind) {
    switch (kind) {
    case ASN_INTEGER:
        return "INTEGER";
    case ASN_OCTETS:
        return "OCTETSTRING";
    case ASN_OBJECTID:
        return "OBJECTIDENTIFIER";
    case ASN_SEQUENCE:
        return "SEQUENCE";
    case ASN_SEQUENCEOF:
        return "SEQUENCE OF";
    case ASN_NULL:
        return "NULL";
    default:
        return "??";
    }
}

void asnIndent(int depth) {
    for (int i = 0; i < depth; i++)
        logPrintf("\t");
}

int asnPrint(AsnNode *node, int depth) {
    if (!node)
        return 0;
    asnIndent(depth);
    logPrintf("[ ");
    logPrintf("%s", classLetter(node->tagClass));
    logPrintf(" %u ] %s {\n", node->tagNumber, asnKindName(node->kind));
    switch (node->kind) {
    case ASN_INTEGER:
    case ASN_OCTETS:
    case ASN_OBJECTID: {
        asnIndent(depth + 1);
        uint8_t value[PRINT_VALUE_MAX];
        int n = asnGather(node, value, PRINT_VALUE_MAX);
        for (int i = 0; i < n; i++)
            logPrintf(" %02X", value[i]);
        logPrintf("\n");
        break;
    }
    case ASN_SEQUENCE:
    case ASN_SEQUENCEOF: {
        int i = 1;
        while (i <= node->descendants) {
            AsnNode *child = asnComponent(node, i);
            asnPrint(child, depth + 1);
            i += child->descendants + 1;
            asnFree(child);
        }
        break;
    }
    default:
        break;
    }
    asnIndent(depth);
    logPrintf("}\n");
    return 0;
}
