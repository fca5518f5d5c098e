#include "platform/crypto.h"
#include "platform/env.h"
#include "platform/file.h"
#include "platform/log.h"
#include "platform/net.h"
#include "smp/smp.h"
#include "smp/usmcrypto.h"
#include "smp/v3.h"
#include "smx/def.h"
#include "smx/number.h"
#include "tool/tool.h"
#include "tool/walk.h"

#include <cstdio>
#include <cstring>

namespace {

// The option values as given; none when the option is absent.
struct OptionTexts {
    const char *host = nullptr;
    const char *port = nullptr;
    const char *timeout = nullptr;
    const char *requestId = nullptr;
    const char *community = nullptr;
    const char *version = nullptr;
    const char *repetitions = nullptr;
    const char *retries = nullptr;
    const char *user = nullptr; // -u ... -n: version 3's
    const char *level = nullptr;
    const char *auth = nullptr;
    const char *priv = nullptr;
    const char *authPassphrase = nullptr;
    const char *privPassphrase = nullptr;
    const char *engineId = nullptr;
    const char *context = nullptr;
    uint32_t flags = 0;         // of -O and -C
    const char *info = nullptr; // --help or --version, which end the run
};

// The letters -O and -C take.
struct FlagLetter {
    char option;
    char letter;
    uint32_t flag;
};
constexpr FlagLetter flagLetters[] = {{'O', 'n', TOOL_NUMERIC_NAMES},
                                      {'O', 'x', TOOL_HEX_STRINGS},
                                      {'O', 'j', TOOL_JSON},
                                      {'C', 'c', TOOL_ANY_ORDER}};

// The letters after -O or -C (option), the rest of the argument, into *flags;
// false when there is none or one the option does not take.
bool takeLetters(char option, const char *letters, uint32_t *flags) {
    if (*letters == '\0')
        return false;
    for (; *letters; ++letters) {
        uint32_t flag = 0;
        for (const FlagLetter &f : flagLetters)
            if (f.option == option && f.letter == *letters)
                flag = f.flag;
        if (flag == 0)
            return false;
        *flags |= flag;
    }
    return true;
}

// Takes the next unconsumed argument; none when there is none left.
const char *takeValue(int argc, char **argv, int *next) {
    return *next < argc ? argv[(*next)++] : nullptr;
}

// Scans the options; on success *first is the index of the first name argument.
bool parseOptions(OptionTexts *texts, int argc, char **argv, int *first) {
    bool good = true;
    int next = argc > 0 ? 1 : 0;
    while (next < argc && good && argv[next][0] == '-') {
        if (strcmp(argv[next], "--help") == 0 || strcmp(argv[next], "--version") == 0) {
            texts->info = argv[next];
            break;
        }
        const char *letters = argv[next++] + 1;
        for (; *letters && good; ++letters) {
            const char **target = nullptr;
            switch (*letters) {
            case 'c':
                target = &texts->community;
                break;
            case 'h':
                target = &texts->host;
                break;
            case 'i':
                target = &texts->requestId;
                break;
            case 'p':
                target = &texts->port;
                break;
            case 't':
                target = &texts->timeout;
                break;
            case 'v':
                target = &texts->version;
                break;
            case 'b':
                target = &texts->repetitions;
                break;
            case 'r':
                target = &texts->retries;
                break;
            case 'u':
                target = &texts->user;
                break;
            case 'l':
                target = &texts->level;
                break;
            case 'a':
                target = &texts->auth;
                break;
            case 'x':
                target = &texts->priv;
                break;
            case 'A':
                target = &texts->authPassphrase;
                break;
            case 'X':
                target = &texts->privPassphrase;
                break;
            case 'e':
                target = &texts->engineId;
                break;
            case 'n':
                target = &texts->context;
                break;
            case 'd':
                if (letters[1] == '\0') {
                    ++logLevel;
                } else if (letters[1] == 'f' || letters[1] == 'i') {
                    const char *value = takeValue(argc, argv, &next);
                    if (!value)
                        good = false;
                    else if (letters[1] == 'f')
                        defSetDefinitionFile(value);
                    else
                        defSetDefinitionIncludeDir(value);
                    ++letters; // the scan goes on after the "f" or "i"
                } else {
                    good = false;
                }
                break;
            case 'O':
            case 'C':
                // As net-snmp's tools: the rest of the argument is its letters.
                good = takeLetters(*letters, letters + 1, &texts->flags);
                letters += strlen(letters) - 1;
                break;
            default:
                good = false;
                break;
            }
            if (target) {
                // The value is the next argument whatever it begins with.
                *target = takeValue(argc, argv, &next);
                if (!*target)
                    good = false;
            }
        }
    }
    *first = next;
    return good;
}

// Prints why an option's value is refused; 2.
int rejectValue(const char *why, const char *value) {
    printf("%s: %s: %s\n", programName, why, value);
    return 2;
}

// A hexadecimal engine ID, "0x" before it optional, into id: its length, or
// -1 when it is no such text or not 5 to 32 octets long (RFC 3411, 5).
int parseEngineId(const char *text, uint8_t *id) {
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text += 2;
    int n = smxHexToOctets(id, USM_ENGINE_ID_MAX, text);
    return n >= USM_ENGINE_ID_MIN ? n : -1;
}

// A passphrase the level needs, from the option or else the variable;
// never echoed. 0, or 2 after the message.
int takePassphrase(const char **target, const char *given, const char *variable,
                   const char *option) {
    *target = given ? given : envValue(variable);
    if (!*target || !**target)
        return rejectValue("Missing passphrase", option);
    if (strlen(*target) < USM_PASSPHRASE_MIN) // RFC 3414, 11.2
        return rejectValue("Passphrase under 8 characters", option);
    if (strlen(*target) > SMP_PASSPHRASE_MAX)
        return rejectValue("Passphrase over 255 characters", option);
    return 0;
}

// Version 3's settings, tested in the order of their letters in the usage
// text. The protocols default to MD5, as net-snmp's tools, and to AES,
// since DES is for old devices only. 0, or 2 after the message.
int takeSecurity(ToolSettings *s, const OptionTexts &t) {
    if (!t.user)
        return rejectValue("Missing user name", "-u");
    if (strlen(t.user) > USM_USER_MAX) // RFC 3414, 2.4
        return rejectValue("Bad user name", t.user);
    s->user = t.user;
    int level = t.level ? usmNameIndex(usmLevelNames, t.level) : USM_NO_AUTH_NO_PRIV;
    if (level < 0)
        return rejectValue("Bad security level", t.level);
    s->level = static_cast<UsmLevel>(level);
    int auth = t.auth ? usmNameIndex(usmAuthNames, t.auth) : USM_AUTH_MD5;
    if (auth <= USM_AUTH_NONE)
        return rejectValue("Bad authentication protocol", t.auth);
    if (!cryptoHashAvailable(usmAuthProtos[auth].hash)) // CNG has no SHA-224
        return rejectValue("Authentication protocol not offered here", t.auth);
    int priv = t.priv ? usmNameIndex(usmPrivNames, t.priv) : USM_PRIV_AES;
    if (priv <= USM_PRIV_NONE)
        return rejectValue("Bad privacy protocol", t.priv);
    if (priv == USM_PRIV_DES && !cryptoDesAvailable())
        return rejectValue("Privacy protocol not offered here", t.priv);
    s->auth = level >= USM_AUTH_NO_PRIV ? static_cast<UsmAuth>(auth) : USM_AUTH_NONE;
    s->priv = level == USM_AUTH_PRIV ? static_cast<UsmPriv>(priv) : USM_PRIV_NONE;
    int r = 0;
    if (s->auth != USM_AUTH_NONE)
        r = takePassphrase(&s->authPassphrase, t.authPassphrase, TOOL_AUTH_PASSPHRASE_VARIABLE,
                           "-A");
    if (r == 0 && s->priv != USM_PRIV_NONE)
        r = takePassphrase(&s->privPassphrase, t.privPassphrase, TOOL_PRIV_PASSPHRASE_VARIABLE,
                           "-X");
    if (r != 0)
        return r;
    s->engineIdLength = t.engineId ? parseEngineId(t.engineId, s->engineId) : 0;
    if (s->engineIdLength < 0)
        return rejectValue("Bad engine ID", t.engineId);
    s->context = t.context ? t.context : "";
    if (strlen(s->context) > SMP_CONTEXT_MAX)
        return rejectValue("Bad context name", s->context);
    return 0;
}

} // namespace

int printUsage() {
    printf("Usage: %s", programName);
    printf(" [-d] [-h fhost] [-p fport] [-t timeout] [-i requestId] [-c community]"
           " [-v 1|2c|3] [-b maxRepetitions] [-r retries]"
           " [-u user] [-l noAuthNoPriv|authNoPriv|authPriv]"
           " [-a MD5|SHA|SHA-224|SHA-256|SHA-384|SHA-512] [-A authPassphrase]"
           " [-x AES|AES-192|AES-256|AES192C|AES256C|DES(old devices only)] [-X privPassphrase]"
           " [-e engineId] [-n context]"
           " [-df definitionFile] [-di definitionIncludeDir] [name] ...\n");
    return 1;
}

int toolParseSettings(ToolSettings *settings, int argc, char **argv) {
    programName = argc > 0 && argv[0] ? argv[0] : "";
    defSetDefinitionFile(nullptr);
    defSetDefinitionIncludeDir("/etc");

    OptionTexts texts;
    int first = 0;
    if (!parseOptions(&texts, argc, argv, &first))
        return printUsage();
    if (texts.info && strcmp(texts.info, "--help") == 0) {
        printUsage();
        return TOOL_PARSE_DONE;
    }
    if (texts.info) {
        printf("mibwalk %s\n", TARNOQSNMP_VERSION);
        return TOOL_PARSE_DONE;
    }

    // Tested in this order; only the first failure is reported.
    if (texts.host) {
        settings->agentAddress = hostGetHostAddress(texts.host);
        if (settings->agentAddress == HOST_NO_ADDRESS)
            return rejectValue("Bad foreign host", texts.host);
    } else {
        settings->agentAddress = hostGetLocalAddress();
        if (settings->agentAddress == HOST_NO_ADDRESS) {
            printf("%s: Can't find out local host\n", programName);
            return 2;
        }
    }

    if (texts.port) {
        settings->agentPort = hostGetServicePort(texts.port);
        if (settings->agentPort == -1)
            return rejectValue("Bad remote port", texts.port);
    } else {
        settings->agentPort = hostSnmpPort();
    }

    settings->timeout = 0;
    if (texts.timeout && smxParseNumber(&settings->timeout, texts.timeout) != 0)
        return rejectValue("Bad timeout value", texts.timeout);

    uint32_t requestId = 0;
    if (texts.requestId && smxParseNumber(&requestId, texts.requestId) != 0)
        return rejectValue("Bad requestId value", texts.requestId);
    settings->requestId = static_cast<int32_t>(requestId);

    settings->version = SMP_VERSION_1;
    if (texts.version && strcmp(texts.version, "2c") == 0)
        settings->version = SMP_VERSION_2C;
    else if (texts.version && strcmp(texts.version, "3") == 0)
        settings->version = SMP_VERSION_3;
    else if (texts.version && strcmp(texts.version, "1") != 0)
        return rejectValue("Bad version value", texts.version);
    // The other versions ignore these letters, as net-snmp's tools do.
    if (settings->version == SMP_VERSION_3)
        if (int r = takeSecurity(settings, texts); r != 0)
            return r;

    // The record holds max-repetitions in 16 bits.
    uint32_t repetitions = 10;
    if (texts.repetitions &&
        (smxParseNumber(&repetitions, texts.repetitions) != 0 || repetitions > UINT16_MAX))
        return rejectValue("Bad max-repetitions value", texts.repetitions);
    settings->repetitions = static_cast<uint16_t>(repetitions);

    settings->retries = 0;
    if (texts.retries && smxParseNumber(&settings->retries, texts.retries) != 0)
        return rejectValue("Bad retries value", texts.retries);
    // Without a timeout nothing ever sends a retry.
    if (settings->retries != 0 && settings->timeout == 0)
        return printUsage();

    settings->flags = texts.flags;
    settings->community = texts.community ? texts.community : "public";
    settings->nameCount = argc - first;
    settings->names = argv + first;
    return 0;
}

void toolWipePassphrases(const ToolSettings *settings) {
    const char *variables[] = {TOOL_AUTH_PASSPHRASE_VARIABLE, TOOL_PRIV_PASSPHRASE_VARIABLE};
    const char *given[] = {settings->authPassphrase, settings->privPassphrase};
    for (int i = 0; i < 2; ++i) {
        if (given[i] && given[i] == envValue(variables[i]))
            envWipe(variables[i]);
        else if (given[i]) // an argument string: the process list shows it no more
            cryptoWipe(const_cast<char *>(given[i]), strlen(given[i]));
    }
}

int toolRun(int argc, char **argv) {
    ToolSettings settings = {};
    int status = toolParseSettings(&settings, argc, argv);
    if (status == TOOL_PARSE_DONE)
        return 0;
    if (status != 0)
        return status;
    // A file or a pipe takes the report in a few large writes rather than one
    // system call every 4 KB; a terminal keeps its lines as they come.
    // (glibc takes the size only with a buffer given.)
    static char report[TOOL_OUTPUT_BUFFER];
    if (!fileIsTerminal(stdout))
        setvbuf(stdout, report, _IOFBF, sizeof report);
    return toolWalk(&settings);
}
