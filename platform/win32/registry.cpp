// The registry below HKEY_LOCAL_MACHINE, opened for reading only: nothing is
// ever written, and full access fails in every console that is not elevated.
#include "platform/registry.h"

#include <windows.h>

#include <cstdlib>

struct RegKey {
    HKEY handle;
};

namespace {
int openKeys = 0;
}

int regOpenKey(const char *keyPath, RegKey **key) {
    if (!keyPath || !key)
        return REG_BAD_ARGUMENT;
    *key = nullptr;
    HKEY handle;
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &handle);
    if (result != ERROR_SUCCESS)
        return static_cast<int>(result);
    *key = static_cast<RegKey *>(malloc(sizeof(RegKey)));
    if (!*key) {
        RegCloseKey(handle);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    (*key)->handle = handle;
    ++openKeys;
    return REG_OK;
}

int regQueryString(RegKey *key, const char *name, char *data, uint32_t limit) {
    if (!key || !name || !data)
        return REG_BAD_ARGUMENT;
    DWORD size = limit;
    LONG result = RegQueryValueExA(key->handle, name, nullptr, nullptr,
                                   reinterpret_cast<BYTE *>(data), &size);
    if (result != ERROR_SUCCESS)
        return static_cast<int>(result);
    // A string stored without its NUL gets one, when it fits.
    if (size == 0 || data[size - 1] != '\0') {
        if (size >= limit)
            return REG_MORE_DATA;
        data[size] = '\0';
    }
    return REG_OK;
}

int regQueryNumber(RegKey *key, const char *name, uint32_t *number) {
    if (!key || !name || !number)
        return REG_BAD_ARGUMENT;
    DWORD value = 0;
    DWORD size = sizeof value;
    LONG result = RegQueryValueExA(key->handle, name, nullptr, nullptr,
                                   reinterpret_cast<BYTE *>(&value), &size);
    if (result != ERROR_SUCCESS)
        return static_cast<int>(result);
    *number = value;
    return REG_OK;
}

int regCloseKey(RegKey *key) {
    if (!key)
        return REG_BAD_ARGUMENT;
    LONG result = RegCloseKey(key->handle);
    free(key);
    --openKeys;
    return static_cast<int>(result);
}

int regOpenKeyCount() {
    return openKeys;
}
