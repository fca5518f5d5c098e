// Arbitrary text into the identifier, address, number and line parsers, and
// arbitrary octets into the identifier and value printers of every kind. Every
// writer gets a heap buffer of exactly its capacity (+1 for text), so a write
// past it is caught. An identifier that encodes must print and encode back to
// the same octets.
#include "smx/cfg.h"
#include "smx/def.h"
#include "smx/number.h"
#include "smx/smx.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

char systemName[] = "system";
char systemValue[] = "1.3.6.1.2.1.1";
char descrName[] = "sysDescr";
char descrValue[] = "1.3.6.1.2.1.1.1";
DefEntry table[] = {{13, systemValue, 6, systemName}, {15, descrValue, 8, descrName}, {}};

void check(bool condition) {
    if (!condition)
        abort();
}

// A text writer's result must match what it wrote and its capacity.
void checkText(int result, const char *buf, int capacity) {
    if (result < 0)
        return;
    check(result <= capacity);
    check(strlen(buf) == static_cast<size_t>(result));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    defTable = table;
    defCount = 2;
    if (size == 0)
        return 0;
    int capacity = data[0] % 64; // small capacities reach every edge
    std::vector<char> text(data + 1, data + size);
    text.push_back('\0');
    const char *t = text.data();

    std::vector<uint8_t> oid(static_cast<size_t>(capacity > 0 ? capacity : 1));
    int n = smxTextToObjectId(oid.data(), capacity, t);
    check(n <= capacity);
    if (n > 0) {
        std::vector<char> numeric(257);
        int m = smxObjectIdToNumeric(numeric.data(), 256, oid.data(), n);
        if (m > 0) {
            std::vector<uint8_t> again(static_cast<size_t>(n));
            check(smxNumericToObjectId(again.data(), n, numeric.data()) == n);
            check(memcmp(again.data(), oid.data(), static_cast<size_t>(n)) == 0);
        }
    }
    uint8_t addr[4];
    int a = smxTextToIpAddress(addr, 4, t);
    check(a == -1 || a == 4);
    uint32_t number;
    smxParseNumber(&number, t);

    std::vector<char> line(text);
    char *key;
    char *value;
    int form = defSplitLine(line.data(), &key, &value);
    check(form >= -1 && form <= 2);
    if (form > 0)
        check(*key != '\0');
    line = text;
    if (cfgSplitAssignment(line.data(), &key, &value) == 0)
        check(*key != '\0');

    // The same bytes as octets.
    const uint8_t *octets = data + 1;
    int length = static_cast<int>(size - 1);
    std::vector<char> out(static_cast<size_t>(capacity) + 1);
    checkText(smxObjectIdToText(out.data(), capacity, octets, length), out.data(), capacity);
    checkText(smxOctetStringToText(out.data(), capacity, octets, length), out.data(), capacity);
    checkText(smxIpAddressToText(out.data(), capacity, octets, length), out.data(), capacity);
    for (int32_t kind = 0; kind <= SMP_KIND_COUNT; ++kind) {
        SmpBind bind{};
        bind.kind = kind;
        bind.value = const_cast<uint8_t *>(octets);
        bind.valueLen = length;
        bind.number = length > 0 ? static_cast<int32_t>(octets[0] * 0x01010101u) : 0;
        checkText(smxValueToText(out.data(), capacity, &bind), out.data(), capacity);
    }
    return 0;
}
