// Community configuration and the community check.
//
// Bounds: stem COMM_STEM_MAX (31) characters, paths CFG_PATH_MAX (255), lines
// of at most CFG_LINE_MAX (254) characters, a longer one reported and skipped;
// words of a line are separated by spaces and tabs.
#include "agent/comm.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/file.h"
#include "platform/log.h"
#include "platform/net.h"
#include "smp/aps.h"
#include "smp/smp.h"
#include "smx/cfg.h"

namespace {

char *fileNameSetting = nullptr;

struct OpenTry {
    FILE *file;
};

int tryCandidate(CfgSearch *search, void *context) {
    auto *attempt = static_cast<OpenTry *>(context);
    bool first = search->form == CFG_FORM_DIR;
    if (first)
        logFailureFlush("cmmABFile: %s\n", search->path);
    attempt->file = fileOpen(search->path, "r");
    if (!attempt->file && first)
        logPrintfFlush("cmmABFile: %s Error not found\n", search->path);
    return attempt->file != nullptr;
}

// READ, WRITE, 0 for a line to ignore (NONE), -1 for anything else.
int32_t classifyRights(const char *word) {
    if (strncmp(word, "READ", 4) == 0)
        return COMM_READ;
    if (strncmp(word, "WRITE", 5) == 0)
        return COMM_WRITE;
    if (strncmp(word, "NONE", 4) == 0)
        return 0;
    return -1;
}

// The file's lines, then back to its start; -1 when it cannot be read to its
// end, so that such a file declares no host at all.
int countLines(FILE *file) {
    CfgLineReader reader;
    cfgReaderInit(&reader, file);
    char line[CFG_LINE_MAX + 1];
    for (int length; (length = cfgReadLine(&reader, line)) != CFG_LINE_END;)
        if (length == CFG_LINE_UNREADABLE)
            return -1;
    rewind(file);
    return reader.lineNumber;
}

} // namespace

int commInit() {
    return commReadFile();
}

int cmmABFile(const char *baseName, const char *fileName, FILE **file, char *path) {
    *file = nullptr;
    path[0] = '\0';
    if (fileName) {
        // A name longer than a path may be is one that does not open.
        if (strlen(fileName) > static_cast<size_t>(CFG_PATH_MAX))
            return -1;
        strcpy(path, fileName);
        *file = fileOpen(fileName, "r");
        return *file ? 0 : -1;
    }
    char stem[COMM_STEM_MAX + 1];
    if (!baseName || !cfgMakeStem(baseName, stem, COMM_STEM_MAX))
        return -2;
    char name[COMM_STEM_MAX + 5];
    snprintf(name, sizeof name, "%s.cmm", stem);
    CfgSearch search;
    OpenTry attempt{nullptr};
    cfgSearch(&search, name, CFG_FORM_DIR | CFG_FORM_ETC | CFG_FORM_BARE, tryCandidate, &attempt);
    memcpy(path, search.path, sizeof search.path);
    if (!attempt.file)
        return -2;
    *file = attempt.file;
    return 0;
}

int community(const char *name, uint32_t address, int32_t rights) {
    ApsRec *handle = apsNew(name, "trivial", nullptr);
    if (!handle)
        return -1;
    for (const CommHost *h = handle->hosts; h; h = h->next)
        if (h->address == address) {
            apsFree(handle); // each entry keeps one reference; this line adds none
            return -2;
        }
    auto *entry = new (std::nothrow) CommHost{address, rights, handle->hosts};
    if (!entry) {
        apsFree(handle);
        return -3;
    }
    handle->hosts = entry;
    logStepFlush("community : %s host : %d\n", name, static_cast<int>(address));
    return 0;
}

void commErrorFn(int line, const char *message, const char *text) {
    logFailureFlush("commErrorFn : (line %d) %s %s\n", line, message, text);
    if (line != 0) {
        logPrintf("%s : community configuration file error\n", programName);
        logPrintf("\tline %d : %s %s\n", line, message, text);
    } else {
        logPrintf("%s : %s %s\n", programName, message, text);
    }
}

int commReadFile() {
    logFailureFlush("commReadFile ()\n");
    const char *baseName = cfgLastComponent(programName, FILE_SEPARATORS);
    FILE *file = nullptr;
    char path[CFG_PATH_MAX + 1];
    if (cmmABFile(baseName, commGetFileName(), &file, path) != 0) {
        commErrorFn(0, "can't read community configuration file", "");
        return -1;
    }
    logStepFlush("from %s : \n", path);
    int lines = countLines(file);
    if (lines < 0) {
        fclose(file);
        commErrorFn(0, "can't read community configuration file", "");
        return -1;
    }

    CfgLineReader reader;
    cfgReaderInit(&reader, file);
    char line[CFG_LINE_MAX + 1];
    int declared = 0;
    while (reader.lineNumber < lines) {
        int length = cfgReadLine(&reader, line);
        if (length == CFG_LINE_END || length == CFG_LINE_UNREADABLE)
            break; // the file changed since it was counted
        const char *start = line;
        while (*start && cfgIsBlank(static_cast<unsigned char>(*start)))
            ++start;
        if (*start == '#')
            continue;
        if (length == CFG_LINE_TOO_LONG) {
            commErrorFn(reader.lineNumber, "line too long : ", start);
            continue;
        }
        if (!*start)
            continue;
        char copy[CFG_LINE_MAX + 1];
        strcpy(copy, start);
        char *words[3];
        if (cfgSplitWords(copy, words, 3) < 3) {
            commErrorFn(reader.lineNumber, "bad arg list : ", start);
            continue;
        }
        cfgUpperCase(words[2]);
        int32_t rights = classifyRights(words[2]);
        if (rights == 0)
            continue;
        if (rights < 0) {
            commErrorFn(reader.lineNumber, "bad rights arg : ", words[2]);
            continue;
        }
        uint32_t address = hostGetHostAddress(words[1]);
        if (address == HOST_NO_ADDRESS) {
            commErrorFn(reader.lineNumber, "no such host name : ", words[1]);
            continue;
        }
        if (community(words[0], address, rights) < 0) {
            commErrorFn(reader.lineNumber, "host already declared for community : ", words[1]);
            continue;
        }
        ++declared;
    }
    fclose(file);
    if (declared == 0) {
        commErrorFn(reader.lineNumber, "declared communities number = ", "0");
        return -2;
    }
    return 0;
}

int commVerify(uint32_t address, int operation, const ApsRec *handle) {
    if (address == 0) {
        logFailureFlush("commVerify : host = 0\n");
        return 0;
    }
    if (operation != SMP_OP_READ && operation != SMP_OP_WRITE) {
        logFailureFlush("commVerify : operation unknown %d\n", operation);
        return 0;
    }
    if (!handle) {
        logFailureFlush("commVerify : ap = 0\n");
        return 0;
    }
    const CommHost *entry = nullptr;
    const CommHost *anyHost = nullptr;
    for (const CommHost *h = handle->hosts; h; h = h->next) {
        if (h->address == address) {
            entry = h;
            break;
        }
        if (h->address == 0 && !anyHost)
            anyHost = h;
    }
    if (!entry)
        entry = anyHost;
    if (!entry) {
        logFailureFlush("unknown host 0x%x for community %s\n", address, handle->name);
        return 0;
    }
    if (operation == SMP_OP_READ || entry->rights == COMM_WRITE)
        return SMP_CHECK_ALLOWED;
    logFailureFlush("bad rights for 0x%x\n", address);
    return SMP_CHECK_BAD_USE;
}

void commSetFileName(const char *name) {
    free(fileNameSetting);
    fileNameSetting = name ? strdup(name) : nullptr;
}

const char *commGetFileName() {
    return fileNameSetting;
}
