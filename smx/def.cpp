#include "smx/def.h"

#include "platform/file.h"
#include "platform/log.h"
#include "smx/cfg.h"
#include "smx/smx.h"

#include <bitset>
#include <cstdlib>
#include <cstring>
#include <string>

DefEntry *defTable = nullptr;
int defCount = 0;

namespace {

// Identifiers are printed from texts of at most 256 characters; longer texts
// are looked up by walking the table.
constexpr int INDEX_LENGTHS = 257;

// The value index of the table defReadFile built: open addressing on the
// exact value text, one slot per distinct value holding its first entry in
// file order. Printing an identifier used to walk every definition, which
// with files of thousands of names cost a walk more than its messages did;
// the index gives the walk's results in a few look-ups per identifier. Kept
// with the table it describes; none when it could not be allocated or was
// dropped, and the look-ups then walk the table.
struct IndexSlot {
    uint32_t hash;
    int32_t entry; // -1 for an empty slot
};

struct ValueIndex {
    IndexSlot *slots;
    uint32_t mask;
    const DefEntry *table; // the table and count it was built for
    int count;
    int32_t longest;                // the longest value indexed
    std::bitset<INDEX_LENGTHS> has; // value lengths present, below INDEX_LENGTHS
};

// A -df or -di setting: a copy of the text, and whether one was given.
struct DefSetting {
    std::string text;
    bool set;
};

void settingStore(DefSetting *setting, const char *text) {
    setting->set = text != nullptr;
    setting->text = text ? text : "";
}

const char *settingText(const DefSetting &setting) {
    return setting.set ? setting.text.c_str() : nullptr;
}

// The module's state behind defTable and defCount.
struct DefState {
    DefSetting definitionFile;
    DefSetting definitionIncludeDir;
    // The block defReadFile allocated and its records before the closing one;
    // the storing pass never writes past them. Only this block is ever released.
    DefEntry *ownTable;
    int capacity;
    ValueIndex valueIndex;
};

DefState state{};

// The definitions walked by the look-ups; none loaded counts as empty.
int defEntries() {
    return defTable ? defCount : 0;
}

void dropIndex() {
    free(state.valueIndex.slots);
    state.valueIndex = ValueIndex{};
}

void buildIndex();

// The files open in the current include chain, outermost first.
struct IncludeChain {
    // Files compare by their canonical full paths: the Windows runtime
    // reports no inode numbers.
    char identity[DEF_INCLUDE_DEPTH + 1][FILE_IDENTITY_MAX];
    int depth;
};

void freeTable() {
    dropIndex();
    if (!state.ownTable)
        return;
    for (int i = 0; i < state.capacity; ++i) {
        free(state.ownTable[i].value);
        free(state.ownTable[i].name);
    }
    free(state.ownTable);
    if (defTable == state.ownTable)
        defTable = nullptr;
    state.ownTable = nullptr;
    state.capacity = 0;
    defCount = 0;
}

bool inChain(const IncludeChain &chain, const char *identity) {
    for (int i = 0; i < chain.depth; ++i)
        if (strcmp(chain.identity[i], identity) == 0)
            return true;
    return false;
}

// Forms the path an INCLUDE argument names into path (DEF_PATH_MAX + 1 bytes).
// 0 formed; 1 not a valid form; 2 too long; 3 no configuration directory.
int includePath(const char *argument, char *path) {
    size_t length = strlen(argument);
    path[0] = '\0';
    if (length >= 2 && argument[0] == '"' && argument[length - 1] == '"') {
        // Relative paths are taken from the working directory.
        if (length - 2 > static_cast<size_t>(DEF_PATH_MAX))
            return 2;
        memcpy(path, argument + 1, length - 2);
        path[length - 2] = '\0';
        return 0;
    }
    if (length >= 2 && argument[0] == '<' && argument[length - 1] == '>') {
        char name[CFG_LINE_MAX + 1];
        if (length - 2 > static_cast<size_t>(CFG_LINE_MAX))
            return 2;
        memcpy(name, argument + 1, length - 2);
        name[length - 2] = '\0';
        char directory[CFG_DIR_BUFFER];
        if (readCfgPath(appName, directory) != 0)
            return 3;
        return cfgFormPath(path, directory, CFG_FORM_DIR, name) == 0 ? 0 : 2;
    }
    return 1;
}

// fileInsert's result for a file that cannot be read to its end.
constexpr int DEF_UNREADABLE = -3;
int fileInsert(int *counter, const char *path, FILE *file, int storing, IncludeChain *chain);

void include(int *counter, const char *argument, int line, int storing, IncludeChain *chain) {
    char path[DEF_PATH_MAX + 1];
    int formed = includePath(argument, path);
    if (formed == 1) {
        defErrorFn(line, "invalid include file : ", argument);
        return;
    }
    // Reported once, by the counting pass.
    auto refuse = [line, storing](const char *message, const char *what) {
        if (!storing)
            defErrorFn(line, message, what);
    };
    if (formed == 2)
        return refuse("include path too long :", argument);
    if (formed == 3) // no configuration directory: the candidate does not open
        return refuse("can't access", argument);
    logFailure("defFileInsert : fileIncludeName = %s\n", path);
    char identity[FILE_IDENTITY_MAX];
    if (fileIdentity(path, identity, sizeof identity) == 0 && inChain(*chain, identity))
        return refuse("include cycle, not read again :", path);
    if (chain->depth >= DEF_INCLUDE_DEPTH)
        return refuse("includes nested too deep :", path);
    FILE *included = fileOpen(path, "r");
    if (!included)
        return refuse("can't access", path);
    // A failure inside an included file does not stop the including one.
    if (fileInsert(counter, path, included, storing, chain) == DEF_UNREADABLE)
        refuse("can't access", path);
    fclose(included);
}

int fileInsert(int *counter, const char *path, FILE *file, int storing, IncludeChain *chain) {
    if (fileIdentity(path, chain->identity[chain->depth], FILE_IDENTITY_MAX) != 0) {
        if (storing) {
            char message[DEF_PATH_MAX + 32];
            snprintf(message, sizeof message, "can't acces  : %s", path);
            defErrorFn(1, message, "");
        }
        return -1;
    }
    ++chain->depth;

    int status = 0;
    int count = 0;
    int firstStored = defCount;
    CfgLineReader reader;
    cfgReaderInit(&reader, file);
    char line[CFG_LINE_MAX + 1];
    for (int length; (length = cfgReadLine(&reader, line)) != CFG_LINE_END;) {
        if (length == CFG_LINE_UNREADABLE) {
            // What the file declared so far is not kept.
            for (; storing && defCount > firstStored; --defCount) {
                free(defTable[defCount - 1].value);
                free(defTable[defCount - 1].name);
                defTable[defCount - 1] = DefEntry{};
            }
            status = DEF_UNREADABLE;
            break;
        }
        if (length == CFG_LINE_TOO_LONG) {
            if (storing && line[0] != '#')
                defErrorFn(reader.lineNumber, "line too long in", path);
            continue;
        }
        char *key;
        char *value;
        int form = defSplitLine(line, &key, &value);
        if (form == 0)
            continue;
        if (form == 1 && strcmp(key, "INCLUDE") == 0) {
            include(counter, value, reader.lineNumber, storing, chain);
            continue;
        }
        if (form != 2) {
            if (storing)
                defErrorFn(reader.lineNumber, "bad arg list in", path);
            continue;
        }
        if (storing && defCount < state.capacity) {
            if (defStoreEntry(defCount, value, key) != 0) {
                defErrorFn(reader.lineNumber, "no space memory available", "");
                status = -2;
                break;
            }
            ++defCount;
        }
        ++count;
    }
    --chain->depth;
    if (status != 0)
        return status;
    *counter += count;
    return 0;
}

} // namespace

int defStoreEntry(int index, const char *value, const char *name) {
    if (!defTable || defTable != state.ownTable || index < 0 || index >= state.capacity || !value ||
        !name)
        return -1;
    dropIndex();
    DefEntry &e = defTable[index];
    size_t valueLength = strlen(value);
    size_t nameLength = strlen(name);
    char *v = static_cast<char *>(malloc(valueLength + 1));
    char *n = static_cast<char *>(malloc(nameLength + 1));
    if (!v || !n) {
        free(v);
        free(n);
        return -1;
    }
    memcpy(v, value, valueLength + 1);
    memcpy(n, name, nameLength + 1);
    free(e.value);
    free(e.name);
    e.valueLen = static_cast<int32_t>(valueLength);
    e.value = v;
    e.nameLen = static_cast<int32_t>(nameLength);
    e.name = n;
    return 0;
}

int defSplitLine(char *line, char **key, char **value) {
    *key = nullptr;
    *value = nullptr;
    char *p = cfgLineContent(line);
    if (!p)
        return 0;
    char *k = p;
    while (*p && !cfgIsBlank(*p) && *p != '=')
        ++p;
    if (!*p)
        return -1;
    if (cfgIsBlank(*p)) {
        *p++ = '\0';
        p = cfgSkipBlanks(p);
        if (!*p)
            return -1;
    }
    bool definition = *p == '=';
    if (definition) {
        *p++ = '\0';
        p = cfgSkipBlanks(p);
        if (!*p)
            return -1;
    } else {
        cfgUpperCase(k);
    }
    char *v = p;
    while (*p && !cfgIsBlank(*p))
        ++p;
    *p = '\0';
    if (!*k)
        return -1;
    *key = k;
    *value = v;
    return definition ? 2 : 1;
}

void defErrorFn(int line, const char *message, const char *argument) {
    logFailure("defErrorFn : (line %d) %s %s\n", line, message, argument);
    if (line != 0) {
        logPrintf("%s : definitions file error\n", programName);
        logPrintf("\tline %d : %s %s\n", line, message, argument);
    } else {
        logPrintf("%s : %s %s\n", programName, message, argument);
    }
}

int defFileInsert(int *counter, const char *path, FILE *file, int storing) {
    IncludeChain chain{};
    return fileInsert(counter, path, file, storing, &chain);
}

int openABFile(const char *fileString, char *openFileName, int capacity) {
    if (!openFileName || capacity <= 0)
        return -1;
    if (fileString)
        logFailure("fileString:%s, openFileName:%s\n", fileString, openFileName);
    else
        logFailure("openFileName:%s\n", openFileName);
    bool storing = openFileName[0] != '\0';
    FILE *file = nullptr;
    if (storing) {
        file = fileOpen(openFileName, "r");
        if (!file) {
            defErrorFn(0, "can't re-access", openFileName);
            return -1;
        }
    } else if (fileString) {
        size_t length = strlen(fileString);
        if (length > static_cast<size_t>(DEF_PATH_MAX) || length > static_cast<size_t>(capacity)) {
            defErrorFn(0, "definition file path too long :", fileString);
            return -1;
        }
        file = fileOpen(fileString, "r");
        if (!file)
            return -1;
        memcpy(openFileName, fileString, length + 1);
    } else {
        struct TraceContext {
            FILE *file;
        } context{nullptr};
        CfgSearch search;
        cfgSearch(
            &search, "snmp.def", CFG_FORM_DIR | CFG_FORM_ETC | CFG_FORM_BARE,
            [](CfgSearch *s, void *c) {
                if (s->form == CFG_FORM_DIR)
                    logFailure("openABFile: %s, openFileName: %s\n", s->directory, s->path);
                auto *ctx = static_cast<TraceContext *>(c);
                ctx->file = fileOpen(s->path, "r");
                return ctx->file ? 1 : 0;
            },
            &context);
        size_t length = strlen(search.path);
        if (length > static_cast<size_t>(capacity))
            length = 0; // not recorded: the caller's buffer is smaller than a path
        memcpy(openFileName, search.path, length);
        openFileName[length] = '\0';
        file = context.file;
        if (!file) {
            logPrintf("error: open: File Name: %s\n", search.path);
            openFileName[0] = '\0';
            return -2;
        }
        if (length == 0) {
            fclose(file);
            return -1;
        }
    }
    int counter = 0;
    int result = defFileInsert(&counter, openFileName, file, storing);
    fclose(file);
    return result != 0 ? -3 : counter;
}

int defReadFile() {
    logFailure("defReadFile ()\n");
    freeTable();
    defCount = 0;
    char openFileName[DEF_PATH_MAX + 1] = "";
    const char *file = defGetDefinitionFile();
    int count = openABFile(file, openFileName, DEF_PATH_MAX);
    bool failed = count < 0;
    if (failed) {
        logFailure("defReadFile : no valid definition, size = 0\n");
        count = 0;
    } else {
        logFailure("defReadFile : file size = %d\n", count);
    }
    state.ownTable =
        static_cast<DefEntry *>(calloc(static_cast<size_t>(count) + 1, sizeof(DefEntry)));
    defTable = state.ownTable;
    if (!defTable) {
        defErrorFn(0, "no space memory available", "");
        return -2;
    }
    state.capacity = count;
    if (failed) {
        defErrorFn(0, "can't read definition file", "");
        defTable[0] = DefEntry{};
        return -1;
    }
    logFailure("from %s : \n", openFileName);
    openABFile(file, openFileName, DEF_PATH_MAX);
    defTable[defCount] = DefEntry{};
    buildIndex();
    if (defCount == 0) {
        defErrorFn(0, "declared definition number = ", "0");
        return -2;
    }
    return 0;
}

void defSetDefinitionFile(const char *path) {
    settingStore(&state.definitionFile, path);
}

const char *defGetDefinitionFile() {
    return settingText(state.definitionFile);
}

void defSetDefinitionIncludeDir(const char *dir) {
    settingStore(&state.definitionIncludeDir, dir);
}

const char *defGetDefinitionIncludeDir() {
    return settingText(state.definitionIncludeDir);
}

namespace {

// FNV-1a, one character at a time, so that a text's prefixes hash on the way.
constexpr uint32_t FNV_BASIS = 2166136261u;
constexpr uint32_t FNV_PRIME = 16777619u;

uint32_t hashStep(uint32_t hash, char c) {
    return (hash ^ static_cast<unsigned char>(c)) * FNV_PRIME;
}

bool sameValue(const DefEntry &e, const char *text, int32_t length) {
    return e.valueLen == length && memcmp(e.value, text, static_cast<size_t>(length)) == 0;
}

void buildIndex() {
    dropIndex();
    if (!defTable || defTable != state.ownTable || defCount <= 0 || defCount > (1 << 28))
        return;
    uint32_t size = 16;
    while (size < 2u * static_cast<uint32_t>(defCount))
        size *= 2;
    auto *slots = static_cast<IndexSlot *>(malloc(size * sizeof(IndexSlot)));
    if (!slots)
        return; // the look-ups walk the table
    for (uint32_t i = 0; i < size; ++i)
        slots[i] = IndexSlot{0, -1};
    ValueIndex index{slots, size - 1, defTable, defCount, 0, {}};
    for (int i = 0; i < defCount; ++i) {
        const DefEntry &e = defTable[i];
        if (e.valueLen <= 0 || !e.value)
            continue; // an empty value names nothing
        uint32_t hash = FNV_BASIS;
        for (int32_t k = 0; k < e.valueLen; ++k)
            hash = hashStep(hash, e.value[k]);
        uint32_t at = hash & index.mask;
        // A later entry with an equal value stays behind the first.
        while (slots[at].entry >= 0 && !(slots[at].hash == hash &&
                                         sameValue(defTable[slots[at].entry], e.value, e.valueLen)))
            at = (at + 1) & index.mask;
        if (slots[at].entry >= 0)
            continue;
        slots[at] = IndexSlot{hash, i};
        if (e.valueLen > index.longest)
            index.longest = e.valueLen;
        if (e.valueLen < INDEX_LENGTHS)
            index.has.set(static_cast<size_t>(e.valueLen));
    }
    state.valueIndex = index;
}

const DefEntry *findValue(const char *text, int32_t length, uint32_t hash) {
    for (uint32_t at = hash & state.valueIndex.mask; state.valueIndex.slots[at].entry >= 0;
         at = (at + 1) & state.valueIndex.mask) {
        const DefEntry &e = state.valueIndex.table[state.valueIndex.slots[at].entry];
        if (state.valueIndex.slots[at].hash == hash && sameValue(e, text, length))
            return &e;
    }
    return nullptr;
}

// The walk of the table in file order: a later entry must be strictly longer
// to replace the best, so the first of equal values wins.
const DefEntry *scanLongestPrefix(const char *text, int32_t length) {
    const DefEntry *best = nullptr;
    int32_t bestLength = 0;
    for (int i = 0, n = defEntries(); i < n; ++i) {
        const DefEntry &e = defTable[i];
        int32_t v = e.valueLen;
        // Cheap tests first: the length, the arc boundary, the last character.
        if (v <= bestLength || v > length)
            continue;
        if (v != length && text[v] != '.')
            continue;
        if (e.value[v - 1] != text[v - 1] || memcmp(e.value, text, static_cast<size_t>(v)) != 0)
            continue;
        best = &e;
        bestLength = v;
        if (v == length)
            break;
    }
    return best;
}

} // namespace

const DefEntry *defLongestPrefix(const char *text, int32_t length) {
    if (!text || length <= 0)
        return nullptr;
    if (!state.valueIndex.slots || state.valueIndex.table != defTable ||
        state.valueIndex.count != defCount)
        return scanLongestPrefix(text, length);
    int32_t limit = length < state.valueIndex.longest ? length : state.valueIndex.longest;
    if (limit >= INDEX_LENGTHS)
        return scanLongestPrefix(text, length);
    // The hash of every prefix that ends at an arc boundary, then the look-ups
    // from the longest down.
    int32_t ends[INDEX_LENGTHS];
    uint32_t hashes[INDEX_LENGTHS];
    int candidates = 0;
    uint32_t hash = FNV_BASIS;
    for (int32_t k = 1; k <= limit; ++k) {
        hash = hashStep(hash, text[k - 1]);
        if ((k == length || text[k] == '.') && state.valueIndex.has[static_cast<size_t>(k)]) {
            ends[candidates] = k;
            hashes[candidates++] = hash;
        }
    }
    while (candidates > 0) {
        --candidates;
        if (const DefEntry *e = findValue(text, ends[candidates], hashes[candidates]))
            return e;
    }
    return nullptr;
}

namespace {

// The dotted text of the given length with its longest defined prefix named.
int numericToName(char *buf, int capacity, const char *text, int32_t length) {
    int pos = 0;
    const DefEntry *best = defLongestPrefix(text, length);
    if (!best)
        return smxAppendText(buf, capacity, &pos, text, length) ? pos : -1;
    if (!smxAppendText(buf, capacity, &pos, best->name, best->nameLen) ||
        !smxAppendText(buf, capacity, &pos, text + best->valueLen, length - best->valueLen))
        return -1;
    return pos;
}

} // namespace

int defNameToNumeric(char *buf, int capacity, const char *text) {
    if (!text)
        return -1;
    const char *dot = strchr(text, '.');
    size_t textLength = strlen(text);
    size_t firstLength = dot ? static_cast<size_t>(dot - text) : textLength;
    const DefEntry *match = nullptr;
    for (int i = 0, n = defEntries(); i < n; ++i) {
        const DefEntry &e = defTable[i];
        if (static_cast<size_t>(e.nameLen) == firstLength &&
            memcmp(e.name, text, firstLength) == 0) {
            match = &e;
            break;
        }
    }
    if (!match) {
        if (capacity < 0 || textLength > static_cast<size_t>(capacity))
            return -1;
        memcpy(buf, text, textLength + 1);
        return 0;
    }
    size_t restLength = textLength - firstLength;
    size_t valueLength = static_cast<size_t>(match->valueLen);
    if (capacity < 0 || valueLength + restLength > static_cast<size_t>(capacity))
        return -1;
    memcpy(buf, match->value, valueLength);
    memcpy(buf + valueLength, text + firstLength, restLength + 1);
    return match->valueLen;
}

int defNumericToName(char *buf, int capacity, const char *text) {
    if (!text || capacity < 0)
        return -1;
    return numericToName(buf, capacity, text,
                         static_cast<int32_t>(strnlen(text, static_cast<size_t>(INT32_MAX))));
}
