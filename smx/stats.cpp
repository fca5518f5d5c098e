#include "smx/stats.h"

#include "platform/file.h"
#include "platform/log.h"
#include "platform/shm.h"
#include "smx/cfg.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

uint32_t shmLocalBlock[SMP_STATS_WORDS];
// Counters raised before shminit ran land in the local block.
uint32_t *smpStats = shmLocalBlock;

namespace {

constexpr char SIGNATURE[] = "SNMP SHARED MEMORY"; // compared with its NUL: 19 bytes
constexpr const char *AUT_FILE = "snmp.aut";
constexpr const char *AUT_KEY = "AUTHENTICATIONTRAP";
// The key file holds one decimal number; more than this is never needed.
constexpr int KEY_TEXT_MAX = 64;

// One "%d" from the start of the file: blanks, a sign, digits. A number out of
// the range of int names no segment.
bool readSegmentId(FILE *file, int *id) {
    char text[KEY_TEXT_MAX + 1];
    size_t n = fread(text, 1, KEY_TEXT_MAX, file);
    text[n] = '\0';
    const char *p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f')
        ++p;
    const char *digits = (*p == '+' || *p == '-') ? p + 1 : p;
    if (*digits < '0' || *digits > '9')
        return false;
    errno = 0;
    long value = strtol(p, nullptr, 10);
    if (errno == ERANGE || value < INT_MIN || value > INT_MAX)
        return false;
    *id = static_cast<int>(value);
    return true;
}

// The shared block at the segment the key file names, or none.
uint32_t *attachShared(const char *keyFile) {
    if (fileExists(keyFile) != 1)
        return nullptr;
    FILE *file = fileOpen(keyFile, "r");
    if (!file)
        return nullptr;
    int id = 0;
    bool haveId = readSegmentId(file, &id);
    fclose(file);
    if (!haveId)
        return nullptr;
    void *address = shmAttach(id, 0, 0);
    if (address == SHM_ATTACH_FAILED)
        return nullptr;
    ShmStatusRec status{};
    if (shmStatus(id, 0, &status) != 0 || status.size != SHM_SEGMENT_SIZE ||
        memcmp(address, SIGNATURE, sizeof SIGNATURE) != 0) {
        shmSegmentDetach(address);
        return nullptr;
    }
    return reinterpret_cast<uint32_t *>(static_cast<char *>(address) + SHM_BLOCK_OFFSET);
}

// Every place the reader tries, in its order. The writers take their place
// among the same ones, so that a value written is the one read at the next
// start.
constexpr unsigned AUT_FORMS = CFG_FORM_DIR | CFG_FORM_ETC | CFG_FORM_BARE;

struct AutContext {
    bool write; // open the place for writing, else only probe it
    FILE *file;
};

// The reader's test: the place opens for reading as a regular file.
int tryAutRead(CfgSearch *search, void *context) {
    auto *c = static_cast<AutContext *>(context);
    if (search->form == CFG_FORM_DIR)
        logFailure("authABFile: %s\n", search->path);
    c->file = fileOpen(search->path, "r");
    return c->file ? 1 : 0;
}

// Where the reader takes no file: the first place where one can be created,
// never an existing one (which the reader passed over) nor through a link.
// Traces "errBad" after each place that failed, the first place's as
// "authABFile", the others' as "buffer".
int tryAutCreate(CfgSearch *search, void *context) {
    auto *c = static_cast<AutContext *>(context);
    bool taken;
    if (c->write) {
        c->file = fileOpen(search->path, "wx");
        taken = c->file != nullptr;
    } else {
        taken = fileExists(search->path) == 0 && authFileWritable(search->path) == 1;
    }
    if (!taken)
        logFailure(search->form == CFG_FORM_DIR ? "authABFile: %s errBad\n" : "buffer: %s errBad\n",
                   search->path);
    return taken;
}

// Takes the place of the setting, opening it (context->file) or probing it:
// the file the reader takes, else the first of its places where the file can
// be created. When the reader's file cannot be written, no other place is
// taken: the next start would read the old value again.
bool takeAutPlace(AutContext *context) {
    CfgSearch search;
    AutContext read{false, nullptr};
    if (!cfgSearch(&search, AUT_FILE, AUT_FORMS, tryAutRead, &read))
        return cfgSearch(&search, AUT_FILE, AUT_FORMS, tryAutCreate, context) != 0;
    fclose(read.file);
    bool taken = context->write ? (context->file = fileOpen(search.path, "w")) != nullptr
                                : authFileWritable(search.path) == 1;
    if (!taken)
        logFailure("authABFile: %s errBad\n", search.path);
    return taken;
}

uint32_t ownWords[SMP_STAT_LAST - SMP_STATS_WORDS];

// The word's place, or none for a number that names no word.
uint32_t *wordAt(int word) {
    if (word >= 1 && word <= SMP_STATS_WORDS)
        return &smpStats[word - 1];
    if (word > SMP_STATS_WORDS && word <= SMP_STAT_LAST)
        return &ownWords[word - SMP_STATS_WORDS - 1];
    return nullptr;
}

} // namespace

void smpStatRaise(int word, uint32_t by) {
    if (uint32_t *w = wordAt(word))
        shmCounterRaise(w, by);
}

uint32_t smpStatRead(int word) {
    uint32_t *w = wordAt(word);
    return w ? shmCounterRead(w) : 0;
}

void smpStatWrite(int word, uint32_t value) {
    if (uint32_t *w = wordAt(word))
        shmCounterStore(w, value);
}

void *shmAttach(int id, int, int) {
    void *address = shmSegmentAttach(id);
    return address == reinterpret_cast<void *>(static_cast<intptr_t>(-1)) ? SHM_ATTACH_FAILED
                                                                          : address;
}

int shmStatus(int id, int, ShmStatusRec *status) {
    uint64_t size = 0;
    if (!status || shmSegmentSize(id, &size) != 0)
        return -1;
    status->size = size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size);
    status->attachCount = 0;
    return 0;
}

void shmLocalInit() {
    memset(shmLocalBlock, 0, sizeof shmLocalBlock);
    authReadSetting(&shmLocalBlock[SMP_STAT_ENABLE_AUTHEN_TRAPS - 1]);
}

void shminit(const char *keyFile) {
    logFailure("shminit ()\n");
    char shmDefaultFile[CFG_PATH_MAX + 1] = "";
    if (!keyFile) {
        char directory[CFG_DIR_BUFFER];
        bool found = readCfgPath(appName, directory) == 0;
        // Without a directory there is no key file to read.
        if (cfgFormPath(shmDefaultFile, found ? directory : nullptr, CFG_FORM_DIR, "snmp.shm") == 0)
            keyFile = shmDefaultFile;
        logFailure("shmDefaultFile: %s\n", shmDefaultFile);
        logFailure("defaultFile: %s\n", shmDefaultFile);
        logFailure("fileString: %s\n", shmDefaultFile);
    }
    uint32_t *shared = keyFile ? attachShared(keyFile) : nullptr;
    if (shared) {
        logFailure("shared memory used\n");
        smpStats = shared;
        return;
    }
    smpStats = shmLocalBlock;
    shmLocalInit();
    logFailure("local memory used\n");
}

void authReadSetting(uint32_t *setting) {
    CfgSearch search;
    AutContext context{false, nullptr};
    cfgSearch(&search, AUT_FILE, AUT_FORMS, tryAutRead, &context);
    *setting = 1;
    if (!context.file)
        return;
    logFailure("from %s : ", search.path);
    CfgLineReader reader;
    cfgReaderInit(&reader, context.file);
    char line[CFG_LINE_MAX + 1];
    for (int length; (length = cfgReadLine(&reader, line)) != CFG_LINE_END;) {
        if (length == CFG_LINE_UNREADABLE) {
            *setting = 1; // as when no file opens
            logFailure("cannot read %s\n", search.path);
            break;
        }
        if (length == CFG_LINE_TOO_LONG) {
            if (line[0] != '#')
                logFailure("line %d too long in %s\n", reader.lineNumber, search.path);
            continue;
        }
        char *key;
        char *value;
        if (cfgSplitAssignment(line, &key, &value) != 0 || strcmp(key, AUT_KEY) != 0)
            continue;
        if (strcmp(value, "disabled") == 0) {
            *setting = 2;
            logFailure("Authentication trap disabled");
        } else if (strcmp(value, "enabled") == 0) {
            *setting = 1;
            logFailure("Authentication trap enabled");
        }
        logFailure("\n");
    }
    fclose(context.file);
}

int authWriteSetting(uint32_t setting) {
    AutContext context{true, nullptr};
    if (!takeAutPlace(&context))
        return 1;
    FILE *f = context.file;
    bool written = fprintf(f, "# \n") >= 0 && fprintf(f, "# %s status :\n", AUT_KEY) >= 0 &&
                   fprintf(f, "# - %s\n", "enabled") >= 0 &&
                   fprintf(f, "# - %s\n", "disabled") >= 0 &&
                   fprintf(f, "%s=%s\n", AUT_KEY, setting == 1 ? "enabled" : "disabled") >= 0;
    // A write that did not reach the file is no success.
    if (fclose(f) != 0)
        written = false;
    return written ? 0 : 1;
}

int authCheckWritable() {
    AutContext context{false, nullptr};
    return takeAutPlace(&context) ? 0 : 1;
}

int authFileWritable(const char *path) {
    return fileProbeWritable(path);
}
