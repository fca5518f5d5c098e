#include "platform/log.h"
#include "platform/net.h"
#include "smp/smp.h"
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

} // namespace

int printUsage() {
    printf("Usage: %s", programName);
    printf(" [-d] [-h fhost] [-p fport] [-t timeout] [-i requestId] [-c community]"
           " [-v 1|2c] [-b maxRepetitions] [-r retries]"
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
    else if (texts.version && strcmp(texts.version, "1") != 0)
        return rejectValue("Bad version value", texts.version);

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

int toolRun(int argc, char **argv) {
    ToolSettings settings = {};
    int status = toolParseSettings(&settings, argc, argv);
    if (status == TOOL_PARSE_DONE)
        return 0;
    if (status != 0)
        return status;
    return toolWalk(&settings);
}
