#include "platform/registry.h"

#include "platform/file.h"
#include "platform/log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

struct RegKey {
    int count;
    char names[REG_MAX_VALUES][REG_LINE_MAX + 1];
    char data[REG_MAX_VALUES][REG_LINE_MAX + 1];
};

namespace {

int openKeys = 0;

const char *hivePath() {
    const char *env = getenv("TARNOQSNMP_REGISTRY");
    return env && *env ? env : "/etc/TarnoqSnmp/registry";
}

// Reads one line into buf without its line feed (and a CR before it). A line
// longer than the buffer is consumed whole and reported as too long, its start
// in buf. *octets counts what was taken from the file, which cannot be read
// past FILE_CONFIG_MAX octets or after a failed read.
enum LineResult { LINE_OK, LINE_TOO_LONG, LINE_END, LINE_UNREADABLE };
LineResult readHiveLine(FILE *f, char *buf, int capacity, long *octets) {
    int n = 0;
    int past = 0; // characters beyond the buffer
    int c;
    int last = 0;
    while ((c = getc(f)) != EOF && c != '\n') {
        if (++*octets > FILE_CONFIG_MAX)
            return LINE_UNREADABLE;
        if (n < capacity)
            buf[n++] = static_cast<char>(c);
        else
            ++past;
        last = c;
    }
    if (c == EOF && ferror(f))
        return LINE_UNREADABLE;
    if (c == EOF && n == 0)
        return LINE_END;
    if (past == 0 && n > 0 && buf[n - 1] == '\r')
        --n;
    buf[n] = '\0';
    // A CR right past a full buffer is the end of the line, not its content.
    return past > 1 || (past == 1 && last != '\r') ? LINE_TOO_LONG : LINE_OK;
}

const char *findValue(const RegKey *key, const char *name) {
    for (int i = 0; i < key->count; ++i)
        if (strcasecmp(key->names[i], name) == 0)
            return key->data[i];
    return nullptr;
}

} // namespace

int regOpenKey(const char *keyPath, RegKey **key) {
    if (!keyPath || !key)
        return REG_BAD_ARGUMENT;
    *key = nullptr;
    FILE *f = fileOpen(hivePath(), "r");
    if (!f)
        return REG_NOT_FOUND;
    RegKey *found = nullptr;
    bool inKey = false;
    char line[REG_LINE_MAX + 1];
    LineResult r;
    long octets = 0;
    int lineNumber = 0;
    while ((r = readHiveLine(f, line, REG_LINE_MAX, &octets)) != LINE_END) {
        if (r == LINE_UNREADABLE) {
            logFailure("registry %s cannot be read\n", hivePath());
            free(found); // as when the hive does not open
            found = nullptr;
            break;
        }
        ++lineNumber;
        if (line[0] == '#')
            continue;
        if (r == LINE_TOO_LONG) {
            logFailure("registry %s line %d too long\n", hivePath(), lineNumber);
            continue;
        }
        size_t length = strlen(line);
        if (line[0] == '[' && length >= 2 && line[length - 1] == ']') {
            if (inKey)
                break; // the key ends where the next begins
            line[length - 1] = '\0';
            inKey = strcasecmp(line + 1, keyPath) == 0;
            if (inKey) {
                found = static_cast<RegKey *>(calloc(1, sizeof(RegKey)));
                if (!found)
                    break;
            }
            continue;
        }
        char *equals = strchr(line, '=');
        if (!inKey || !equals || equals == line || found->count >= REG_MAX_VALUES)
            continue;
        *equals = '\0';
        // A later line of the same name replaces the earlier one.
        int slot = found->count;
        for (int i = 0; i < found->count; ++i)
            if (strcasecmp(found->names[i], line) == 0)
                slot = i;
        strcpy(found->names[slot], line);
        strcpy(found->data[slot], equals + 1);
        if (slot == found->count)
            ++found->count;
    }
    fclose(f);
    if (!found)
        return REG_NOT_FOUND;
    ++openKeys;
    *key = found;
    return REG_OK;
}

int regQueryString(RegKey *key, const char *name, char *data, uint32_t limit) {
    if (!key || !name || !data)
        return REG_BAD_ARGUMENT;
    const char *value = findValue(key, name);
    if (!value)
        return REG_NOT_FOUND;
    size_t size = strlen(value) + 1;
    if (size > limit)
        return REG_MORE_DATA;
    memcpy(data, value, size);
    return REG_OK;
}

int regQueryNumber(RegKey *key, const char *name, uint32_t *number) {
    if (!key || !name || !number)
        return REG_BAD_ARGUMENT;
    const char *value = findValue(key, name);
    if (!value)
        return REG_NOT_FOUND;
    char *end = nullptr;
    unsigned long long parsed = strtoull(value, &end, 10);
    if (*value >= '0' && *value <= '9' && *end == '\0' && parsed <= UINT32_MAX) {
        *number = static_cast<uint32_t>(parsed);
        return REG_OK;
    }
    size_t size = strlen(value) + 1;
    if (size > sizeof *number)
        return REG_MORE_DATA;
    uint32_t octets = 0;
    memcpy(&octets, value, size);
    *number = octets;
    return REG_OK;
}

int regCloseKey(RegKey *key) {
    if (!key)
        return REG_BAD_ARGUMENT;
    free(key);
    --openKeys;
    return REG_OK;
}

int regOpenKeyCount() {
    return openKeys;
}
