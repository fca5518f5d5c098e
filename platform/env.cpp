#include "platform/env.h"

#include "platform/crypto.h"

#include <cstdlib>
#include <cstring>

const char *envValue(const char *name) {
    return name ? getenv(name) : nullptr;
}

void envWipe(const char *name) {
    // getenv gives the environment's own octets (the C runtime's copy on Windows).
    if (char *value = name ? getenv(name) : nullptr)
        cryptoWipe(value, strlen(value));
}
