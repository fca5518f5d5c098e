// Trap configuration and Trap sending.
//
// Bounds: TRAP_DESTINATIONS_MAX (25) destinations, the enterprise converted
// into TRAP_OID_BUFFER (2048) octets, stem TRAP_STEM_MAX (31) characters,
// paths CFG_PATH_MAX (255), lines read in pieces of CFG_LINE_MAX (254); words
// of a line are separated by spaces and tabs.
#include "agent/trap.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <new>

#include "asn/asx.h"
#include "platform/log.h"
#include "smp/aps.h"
#include "smp/smp.h"
#include "smx/cfg.h"

namespace {

std::array<TrapDest, TRAP_DESTINATIONS_MAX> trapDests{};
int trapDestsCount = 0;
uint8_t *trapEnterprise = nullptr;
int trapEnterpriseLen = 0;
uint8_t trapAgentAddr[4];
int trapAgentAddrLen = 0;
TimeOfDay trapStart{0, 0};
char *fileNameSetting = nullptr;
TrapClockFn trapClock = timeOfDay;

struct OpenTry {
    FILE *file;
};

int tryCandidate(CfgSearch *search, void *context) {
    auto *attempt = static_cast<OpenTry *>(context);
    if (search->form == CFG_FORM_DIR && logLevel)
        logPrintfFlush("trpABFile: %s\n", search->path);
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

void forgetConfiguration() {
    for (int i = 0; i < trapDestsCount; ++i)
        free(trapDests[i].community);
    trapDests.fill(TrapDest{});
    trapDestsCount = 0;
    free(trapEnterprise);
    trapEnterprise = nullptr;
    trapEnterpriseLen = 0;
    trapAgentAddrLen = 0;
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
    free(trapEnterprise);
    trapEnterprise = copy;
    trapEnterpriseLen = length;
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
    TrapDest &dest = trapDests[trapDestsCount];
    dest = TrapDest{name, address, static_cast<uint16_t>(port)};
    if (logLevel) {
        char dotted[16];
        if (asxIpAddressToText(dotted, sizeof dotted, address) < 0)
            dotted[0] = '\0';
        logPrintfFlush("trap : %s %s %d\n", name, dotted, dest.port);
    }
    ++trapDestsCount;
}

void readFile(FILE *file) {
    CfgLineReader reader;
    cfgReaderInit(&reader, file);
    char line[CFG_LINE_MAX + 1];
    int previousLine = 0;
    while (cfgReadLine(&reader, line) >= 0) {
        if (trapDestsCount >= TRAP_DESTINATIONS_MAX) {
            trapErrorFn(previousLine, "File is too big", "");
            break;
        }
        previousLine = reader.lineNumber;
        if (line[0] == '#')
            continue;
        char copy[CFG_LINE_MAX + 1];
        strcpy(copy, line);
        char *words[4];
        switch (cfgSplitWords(copy, words, 4)) {
        case 0:
            break;
        case 2:
            if (strcmp(words[0], "enterprise") == 0)
                setEnterprise(reader.lineNumber, words[1]);
            else
                trapErrorFn(reader.lineNumber, "bad arg list : ", line);
            break;
        case 3:
            addDestination(reader.lineNumber, words);
            break;
        default: // one word, or more than three
            trapErrorFn(reader.lineNumber, "bad arg list : ", line);
            break;
        }
    }
}

} // namespace

int trapInit() {
    const char *baseName = cfgLastComponent(programName, '/');
    char stem[TRAP_STEM_MAX + 1];
    bool stemFits = baseName && cfgMakeStem(baseName, stem, TRAP_STEM_MAX);
    if (logLevel)
        logPrintfFlush("trapInit ()\n");
    trapClock(&trapStart, nullptr);
    forgetConfiguration();

    FILE *file = nullptr;
    char path[CFG_PATH_MAX + 1] = "";
    const char *fileName = trapGetFileName();
    if (fileName) {
        // A name longer than a path may be is one that does not open.
        if (strlen(fileName) <= static_cast<size_t>(CFG_PATH_MAX)) {
            strcpy(path, fileName);
            file = fileOpen(fileName, "r");
        }
        if (!file) {
            trapErrorFn(0, "no such file : ", fileName);
            return -1;
        }
    } else {
        if (!stemFits)
            return 0;
        file = trpABFile(stem, path);
        if (!file)
            return 0;
    }
    if (logLevel > 1)
        logPrintfFlush("from %s :\n", path);
    readFile(file);
    fclose(file);

    if (!trapEnterprise)
        setEnterprise(0, TRAP_DEFAULT_ENTERPRISE);
    // An unknown local address gives 255.255.255.255.
    trapAgentAddrLen =
        asxIpAddressToByte(trapAgentAddr, sizeof trapAgentAddr, hostGetLocalAddress());
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

int trapSend(int32_t genericTrap, int32_t specificTrap, uint16_t count, SmpBind *binds) {
    if (logLevel)
        logPrintfFlush("trapSend ()\n");
    int sock = udpOpenSocket();
    if (sock < 0) {
        logPrintf("socket");
        return -1;
    }
    if (udpBindSocket(sock, 0, 0) != 0) {
        logPrintf("bind");
        udpCloseSocket(sock);
        return -1;
    }

    TimeOfDay now{0, 0};
    trapClock(&now, nullptr);
    // Hundredths of a second in 64 bits, wrapped to the 32 bits of TimeTicks:
    // the product overflows 32 bits after 248 days.
    int64_t elapsed = (static_cast<int64_t>(now.seconds) - trapStart.seconds) * 100 +
                      (static_cast<int64_t>(now.microseconds) - trapStart.microseconds) / 10000;

    SmpPdu pdu{};
    pdu.type = SMP_TRAP;
    pdu.enterprise = trapEnterprise;
    pdu.enterpriseLen = static_cast<int16_t>(trapEnterpriseLen);
    pdu.agentAddr = trapAgentAddr;
    pdu.agentAddrLen = static_cast<int16_t>(trapAgentAddrLen);
    pdu.genericTrap = genericTrap;
    pdu.specificTrap = specificTrap;
    pdu.timeStamp = static_cast<int32_t>(static_cast<uint32_t>(elapsed));
    pdu.count = count;
    pdu.binds = binds;

    for (int i = 0; i < trapDestsCount; ++i) {
        const TrapDest &dest = trapDests[i];
        UdpEndpoint *endpoint = udpNew(sock, dest.address, dest.port);
        SmpObject *object = endpoint ? smpNew(endpoint, udpSend, trapUpcall) : nullptr;
        if (!object) {
            udpFree(endpoint);
            udpCloseSocket(sock);
            return -2;
        }
        pdu.auth = apsNew(dest.community, "trivial", nullptr);
        if (logLevel)
            logPrintfFlush("send trap request\n");
        smpRequest(object, &pdu);
        smpFree(object);
        udpFree(endpoint);
        pdu.auth = apsFree(pdu.auth);
    }
    return udpCloseSocket(sock);
}

int trapUpcall(SmpObject *, SmpPdu *) {
    logPrintf("Upcall:\n");
    return 0;
}

void trapSetFileName(const char *name) {
    free(fileNameSetting);
    fileNameSetting = name ? strdup(name) : nullptr;
}

const char *trapGetFileName() {
    return fileNameSetting;
}

int trapDestCount() {
    return trapDestsCount;
}

const TrapDest *trapDestAt(int index) {
    return index >= 0 && index < trapDestsCount ? &trapDests[index] : nullptr;
}

const uint8_t *trapEnterpriseOid(int *length) {
    if (length)
        *length = trapEnterpriseLen;
    return trapEnterprise;
}

TrapClockFn trapSetClock(TrapClockFn clock) {
    TrapClockFn previous = trapClock;
    trapClock = clock ? clock : timeOfDay;
    return previous;
}
