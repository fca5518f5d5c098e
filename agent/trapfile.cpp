// The trap file: its search, its lines, and what they declare.
//
// Bounds: TRAP_DESTINATIONS_MAX (25) destinations, the enterprise converted
// into TRAP_OID_BUFFER (2048) octets, stem TRAP_STEM_MAX (31) characters,
// paths CFG_PATH_MAX (255), lines of at most CFG_LINE_MAX (254) characters, a
// longer one reported and skipped; words of a line are separated by spaces and
// tabs.
#include "agent/trapfile.h"

#include <array>
#include <cstdlib>
#include <cstring>

#include "asn/asx.h"
#include "platform/file.h"
#include "platform/log.h"
#include "platform/net.h"
#include "smx/cfg.h"
#include "smx/smx.h"

namespace {

// What one reading of the file declared; forgotten as a whole before the next.
struct TrapConfig {
    std::array<TrapDest, TRAP_DESTINATIONS_MAX> dests{};
    int destCount = 0;
    uint8_t *enterprise = nullptr; // owned; none until set
    int enterpriseLen = 0;
    uint8_t agentAddr[4]{}; // most significant first
    int agentAddrLen = 0;
};

// The trap file: the name setting, kept across readings, and what was read.
struct TrapFile {
    char *nameSetting = nullptr; // owned; none searches the default places
    TrapConfig config;
};

TrapFile trapFile;

void forgetConfiguration() {
    TrapConfig &config = trapFile.config;
    for (int i = 0; i < config.destCount; ++i)
        free(config.dests[i].community);
    free(config.enterprise);
    config = TrapConfig{};
}

struct OpenTry {
    FILE *file;
};

int tryCandidate(CfgSearch *search, void *context) {
    auto *attempt = static_cast<OpenTry *>(context);
    if (search->form == CFG_FORM_DIR)
        logFailureFlush("trpABFile: %s\n", search->path);
    attempt->file = fileOpen(search->path, "r");
    return attempt->file != nullptr;
}

// The trpABFile step: the first default place that opens, its path in path.
FILE *trpABFile(const char *stem, char *path) {
    char name[TRAP_STEM_MAX + 5];
    snprintf(name, sizeof name, "%s.trp", stem);
    CfgSearch search;
    OpenTry attempt{nullptr};
    cfgSearch(&search, name, CFG_FORM_DIR | CFG_FORM_ETC | CFG_FORM_BARE, tryCandidate, &attempt);
    memcpy(path, search.path, sizeof search.path);
    return attempt.file;
}

// Opens the file set by name, or else the first default place that opens,
// its path in path: 0 (*file none when no default place opens, which is no
// error), or -1 when the file set by name does not open.
int openTrapFile(FILE **file, char *path) {
    *file = nullptr;
    const char *fileName = trapGetFileName();
    if (!fileName) {
        const char *baseName = cfgLastComponent(programName, FILE_SEPARATORS);
        char stem[TRAP_STEM_MAX + 1];
        if (baseName && cfgMakeStem(baseName, stem, TRAP_STEM_MAX))
            *file = trpABFile(stem, path);
        return 0;
    }
    // A name longer than a path may be is one that does not open.
    if (strlen(fileName) <= static_cast<size_t>(CFG_PATH_MAX)) {
        strcpy(path, fileName);
        *file = fileOpen(fileName, "r");
    }
    if (!*file) {
        trapErrorFn(0, "no such file : ", fileName);
        return -1;
    }
    return 0;
}

// Converts text and makes it the enterprise; a later one replaces an earlier.
void setEnterprise(int line, const char *text) {
    uint8_t oid[TRAP_OID_BUFFER];
    int length = smxTextToObjectId(oid, sizeof oid, text);
    if (length < 0) {
        trapErrorFn(line, "bad enterprise ObjectId", text);
        return;
    }
    auto *copy = static_cast<uint8_t *>(malloc(length > 0 ? length : 1));
    if (!copy) {
        trapErrorFn(line, "no memory available", "");
        return;
    }
    memcpy(copy, oid, length);
    TrapConfig &config = trapFile.config;
    free(config.enterprise);
    config.enterprise = copy;
    config.enterpriseLen = length;
}

void addDestination(int line, char **words) {
    uint32_t address = hostGetHostAddress(words[1]);
    if (address == HOST_NO_ADDRESS) {
        trapErrorFn(line, "no such host name : ", words[1]);
        return;
    }
    int port = hostGetServicePort(words[2]);
    if (port == -1) {
        trapErrorFn(line, "no such port : ", words[2]);
        return;
    }
    char *name = strdup(words[0]);
    if (!name) {
        trapErrorFn(line, "no memory available", "");
        return;
    }
    TrapConfig &config = trapFile.config;
    TrapDest &dest = config.dests[config.destCount];
    dest = TrapDest{name, address, static_cast<uint16_t>(port)};
    if (logFailures()) {
        char dotted[16];
        if (asxIpAddressToText(dotted, sizeof dotted, address) < 0)
            dotted[0] = '\0';
        logPrintfFlush("trap : %s %s %d\n", name, dotted, dest.port);
    }
    ++config.destCount;
}

// 0, or -1 when the file cannot be read to its end.
int readFile(FILE *file) {
    CfgLineReader reader;
    cfgReaderInit(&reader, file);
    char line[CFG_LINE_MAX + 1];
    int previousLine = 0;
    for (int length; (length = cfgReadLine(&reader, line)) != CFG_LINE_END;) {
        if (length == CFG_LINE_UNREADABLE)
            return -1;
        if (trapFile.config.destCount >= TRAP_DESTINATIONS_MAX) {
            trapErrorFn(previousLine, "File is too big", "");
            break;
        }
        previousLine = reader.lineNumber;
        if (line[0] == '#')
            continue;
        if (length == CFG_LINE_TOO_LONG) {
            trapErrorFn(reader.lineNumber, "line too long : ", line);
            continue;
        }
        char copy[CFG_LINE_MAX + 1];
        strcpy(copy, line);
        char *words[4];
        int count = cfgSplitWords(copy, words, 4);
        if (count == 0)
            continue;
        if (count == 2 && strcmp(words[0], "enterprise") == 0)
            setEnterprise(reader.lineNumber, words[1]);
        else if (count == 3)
            addDestination(reader.lineNumber, words);
        else // one word, two without the keyword, or more than three
            trapErrorFn(reader.lineNumber, "bad arg list : ", line);
    }
    return 0;
}

} // namespace

int trapFileRead() {
    forgetConfiguration();
    char path[CFG_PATH_MAX + 1] = "";
    FILE *file = nullptr;
    if (openTrapFile(&file, path) != 0)
        return -1;
    if (!file)
        return 0;
    logStepFlush("from %s :\n", path);
    int read = readFile(file);
    fclose(file);
    if (read != 0) {
        forgetConfiguration();
        trapErrorFn(0, "can't read file : ", path);
        return -1;
    }

    TrapConfig &config = trapFile.config;
    if (!config.enterprise)
        setEnterprise(0, TRAP_DEFAULT_ENTERPRISE);
    // An unknown local address gives 255.255.255.255.
    config.agentAddrLen =
        asxIpAddressToByte(config.agentAddr, sizeof config.agentAddr, hostGetLocalAddress());
    return 0;
}

void trapErrorFn(int line, const char *message, const char *text) {
    if (line != 0) {
        logPrintf("%s : trap configuration file error\n", programName);
        logPrintf("\tline %d : %s %s\n", line, message, text);
    } else {
        logPrintf("%s : %s %s\n", programName, message, text);
    }
}

void trapSetFileName(const char *name) {
    free(trapFile.nameSetting);
    trapFile.nameSetting = name ? strdup(name) : nullptr;
}

const char *trapGetFileName() {
    return trapFile.nameSetting;
}

int trapDestCount() {
    return trapFile.config.destCount;
}

const TrapDest *trapDestAt(int index) {
    const TrapConfig &config = trapFile.config;
    return index >= 0 && index < config.destCount ? &config.dests[index] : nullptr;
}

const uint8_t *trapEnterpriseOid(int *length) {
    if (length)
        *length = trapFile.config.enterpriseLen;
    return trapFile.config.enterprise;
}

const uint8_t *trapAgentAddress(int *length) {
    if (length)
        *length = trapFile.config.agentAddrLen;
    return trapFile.config.agentAddr;
}
