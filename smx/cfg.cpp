#include "smx/cfg.h"

#include "platform/file.h"
#include "platform/log.h"
#include "platform/registry.h"
#include "platform/token.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

constexpr int KEY_PATH_BUFFER = 512;
constexpr uint32_t VALUE_LIMIT = 260;

int lookUp(const char *component, char *path, int selector, const char *entryTrace,
           const char *foundTrace) {
    path[0] = '\0';
    logFailure("%s", entryTrace);
    if (!cfgIsAdministrator())
        return 1;
    if (!GetAppKeys(selector, component, path)) {
        path[0] = '\0';
        return 1;
    }
    logFailure(foundTrace, path);
    return 0;
}

// key is the lookup's one key handle, open only inside GetAppKeys.
int failureExit(char *path, RegKey **key) {
    logPrintf("failure exit\n");
    if (*key)
        regCloseKey(*key);
    *key = nullptr;
    path[0] = '\0';
    return 0;
}

int openKey(const char *keyPath, RegKey **key) {
    logFailure("abPathBuffer: %s\n", keyPath);
    logFailure("RegOpenKeyEx\n");
    int result = regOpenKey(keyPath, key);
    logFailure("lResult: %d\n", result);
    return result;
}

struct OpenContext {
    const char *mode;
    FILE *file;
};

int tryOpen(CfgSearch *search, void *context) {
    auto *open = static_cast<OpenContext *>(context);
    open->file = fileOpen(search->path, open->mode);
    return open->file != nullptr;
}

bool appendTo(char *path, size_t *length, const char *text) {
    size_t n = strlen(text);
    if (n > static_cast<size_t>(CFG_PATH_MAX) - *length)
        return false;
    memcpy(path + *length, text, n + 1);
    *length += n;
    return true;
}

} // namespace

int readCfgPath(const char *component, char *path) {
    return lookUp(component, path, 0, "readCfgPath ()\n",
                  "GetAppKeys for configuration path: %s\n");
}

int readYourPath(const char *component, char *path) {
    return lookUp(component, path, 1, "readYourPath ()\n", "GetAppKeys for user's path: %s\n");
}

int GetAppKeys(int selector, const char *component, char *path) {
    path[0] = '\0';
    if (!component)
        component = "";
    RegKey *key = nullptr;
    char keyPath[KEY_PATH_BUFFER];
    int n = snprintf(keyPath, sizeof keyPath, "Software\\%s\\%s\\%s", "Velmora", "TarnoqSnmp",
                     "CurrentVersion");
    if (n < 0 || n >= KEY_PATH_BUFFER || openKey(keyPath, &key) != REG_OK)
        return failureExit(path, &key);

    char version[VALUE_LIMIT] = "";
    logFailure("RegQueryValueEx\n");
    int result = regQueryString(key, "Version", version, VALUE_LIMIT);
    logFailure("lResult: %d, Version: %s\n", result, version);
    if (result != REG_OK)
        return failureExit(path, &key);

    n = snprintf(keyPath, sizeof keyPath, "Software\\%s\\%s\\%s\\%s", "Velmora", "TarnoqSnmp",
                 version, component);
    if (n < 0 || n >= KEY_PATH_BUFFER)
        return failureExit(path, &key);
    regCloseKey(key);
    key = nullptr;
    if (openKey(keyPath, &key) != REG_OK)
        return failureExit(path, &key);

    uint32_t installed = 0;
    logFailure("RegQueryValueEx\n");
    result = regQueryNumber(key, "Installed", &installed);
    logFailure("lResult: %d, fInstalled: %d\n", result, static_cast<int>(installed));
    if (result != REG_OK)
        return failureExit(path, &key);

    logFailure("RegQueryValueEx\n");
    result = regQueryString(key, selector == 0 ? "etc" : "yours", path, VALUE_LIMIT);
    if (result != REG_OK)
        path[0] = '\0';
    logFailure("lResult: %d, Path: %s\n", result, path);
    if (result != REG_OK)
        return failureExit(path, &key);

    regCloseKey(key);
    key = nullptr;
    return 1;
}

int cfgIsAdministrator() {
    return tokenIsAdministrator();
}

int cfgFormPath(char *path, const char *directory, unsigned form, const char *fileName) {
    path[0] = '\0';
    const char etcForm[] = {FILE_SEPARATOR, 'e', 't', 'c', FILE_SEPARATOR, '\0'};
    if (!fileName)
        return -1;
    size_t length = 0;
    bool fits;
    switch (form) {
    case CFG_FORM_DIR:
        // Without a directory there is no first candidate: an empty text would
        // turn it into a path below the root.
        if (!directory || !*directory)
            return -1;
        fits = appendTo(path, &length, directory) && appendTo(path, &length, etcForm) &&
               appendTo(path, &length, fileName);
        break;
    case CFG_FORM_ETC:
        fits = appendTo(path, &length, "etc/") && appendTo(path, &length, fileName);
        break;
    case CFG_FORM_BARE:
        fits = appendTo(path, &length, fileName);
        break;
    default:
        return -1;
    }
    if (!fits) {
        path[0] = '\0';
        return -1;
    }
    return 0;
}

unsigned cfgSearch(CfgSearch *search, const char *fileName, unsigned forms, CfgTryFn tryFn,
                   void *context) {
    search->directory[0] = '\0';
    search->directoryFound = 0;
    search->path[0] = '\0';
    search->form = 0;
    if (forms & CFG_FORM_DIR)
        search->directoryFound = readCfgPath(appName, search->directory) == 0;
    char candidate[CFG_PATH_MAX + 1];
    for (unsigned form : {CFG_FORM_DIR, CFG_FORM_ETC, CFG_FORM_BARE}) {
        if (!(forms & form))
            continue;
        if (form == CFG_FORM_DIR && !search->directoryFound)
            continue;
        if (cfgFormPath(candidate, search->directoryFound ? search->directory : nullptr, form,
                        fileName) != 0) {
            logPrintf("%s : path too long for %s, not tried\n", programName,
                      fileName ? fileName : "");
            continue;
        }
        memcpy(search->path, candidate, sizeof candidate);
        search->form = form;
        if (tryFn(search, context))
            return form;
    }
    return 0;
}

FILE *cfgOpenFirst(CfgSearch *search, const char *fileName, unsigned forms, const char *mode) {
    OpenContext context{mode, nullptr};
    cfgSearch(search, fileName, forms, tryOpen, &context);
    return context.file;
}

void cfgReaderInit(CfgLineReader *reader, FILE *file) {
    reader->file = file;
    reader->lineNumber = 0;
    reader->held = -1;
    reader->octets = 0;
    reader->unusable = 0;
}

int cfgReadLine(CfgLineReader *reader, char *buf) {
    buf[0] = '\0';
    // The next character; EOF also once the file is unusable.
    auto next = [reader]() {
        if (reader->held >= 0) {
            int c = reader->held;
            reader->held = -1;
            return c;
        }
        int c = reader->unusable ? EOF : getc(reader->file);
        // A file that never ends (a growing one, some of /proc) stops here.
        if ((c != EOF && ++reader->octets > FILE_CONFIG_MAX) || (c == EOF && ferror(reader->file)))
            reader->unusable = 1;
        return c;
    };
    int c = next();
    if (reader->unusable)
        return CFG_LINE_UNREADABLE;
    if (c == EOF)
        return CFG_LINE_END;
    ++reader->lineNumber;
    int n = 0;
    bool tooLong = false;
    for (;; c = next()) {
        if (c == EOF || c == '\n')
            break;
        if (c == '\r') {
            int after = next();
            if (after == '\n' || after == EOF)
                break;
            reader->held = after; // a CR inside the line is kept
        }
        // The whole line is read, so its tail is never taken for a line.
        if (n == CFG_LINE_MAX)
            tooLong = true;
        else
            buf[n++] = static_cast<char>(c);
    }
    buf[n] = '\0';
    if (reader->unusable)
        return CFG_LINE_UNREADABLE;
    return tooLong ? CFG_LINE_TOO_LONG : n;
}

bool cfgIsBlank(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

void cfgUpperCase(char *text) {
    if (!text)
        return;
    for (; *text; ++text)
        if (*text >= 'a' && *text <= 'z')
            *text = static_cast<char>(*text - 'a' + 'A');
}

const char *cfgLastComponent(const char *text, const char *separators) {
    if (!text)
        return nullptr;
    size_t length = strlen(text);
    // The final character is not taken as a separator.
    for (size_t i = length > 0 ? length - 1 : 0; i > 0; --i)
        if (strchr(separators, text[i - 1]))
            return text + i;
    return text;
}

char *cfgSkipBlanks(char *p) {
    while (*p && cfgIsBlank(*p))
        ++p;
    return p;
}

char *cfgLineContent(char *line) {
    if (!line || !*line || line[0] == '#')
        return nullptr;
    size_t length = strlen(line);
    if (line[length - 1] == '\n')
        line[length - 1] = '\0';
    char *p = cfgSkipBlanks(line);
    return *p ? p : nullptr;
}

int cfgSplitAssignment(char *line, char **key, char **value) {
    *key = nullptr;
    *value = nullptr;
    char *p = cfgLineContent(line);
    if (!p)
        return -1;
    char *k = p;
    for (; *p && !cfgIsBlank(*p) && *p != '='; ++p)
        if (*p >= 'a' && *p <= 'z')
            *p = static_cast<char>(*p - 'a' + 'A');
    if (!*p)
        return -1;
    if (cfgIsBlank(*p)) {
        *p++ = '\0';
        p = cfgSkipBlanks(p);
    }
    if (*p != '=')
        return -1;
    *p++ = '\0';
    if (!*k)
        return -1;
    *key = k;
    *value = p;
    return 0;
}

int cfgSplitWords(char *line, char **words, int max) {
    auto separator = [](char c) { return c == ' ' || c == '\t'; };
    int n = 0;
    char *p = line;
    while (n < max) {
        while (*p && separator(*p))
            ++p;
        if (!*p)
            break;
        words[n++] = p;
        while (*p && !separator(*p))
            ++p;
        if (*p)
            *p++ = '\0';
    }
    return n;
}

bool cfgMakeStem(const char *baseName, char *stem, int max) {
    const char *end = baseName;
    while (*end && *end != '.')
        ++end;
    size_t length = static_cast<size_t>(end - baseName);
    if (length > static_cast<size_t>(max))
        return false;
    memcpy(stem, baseName, length);
    stem[length] = '\0';
    return true;
}
