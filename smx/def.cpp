#include "smx/def.h"

#include "platform/log.h"
#include "smx/cfg.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

DefEntry *defTable = nullptr;
int defCount = 0;

namespace {

std::string definitionFile;
bool definitionFileSet = false;
std::string definitionIncludeDir;
bool definitionIncludeDirSet = false;

// The block defReadFile allocated and its records before the closing one; the
// storing pass never writes past them. Only this block is ever released.
DefEntry *ownTable = nullptr;
int defCapacity = 0;

// The files open in the current include chain, outermost first.
struct IncludeChain {
    dev_t device[DEF_INCLUDE_DEPTH + 1];
    ino_t inode[DEF_INCLUDE_DEPTH + 1];
    int depth;
};

void freeTable() {
    if (!ownTable)
        return;
    for (int i = 0; i < defCapacity; ++i) {
        free(ownTable[i].value);
        free(ownTable[i].name);
    }
    free(ownTable);
    if (defTable == ownTable)
        defTable = nullptr;
    ownTable = nullptr;
    defCapacity = 0;
    defCount = 0;
}

bool inChain(const IncludeChain &chain, const struct stat &st) {
    for (int i = 0; i < chain.depth; ++i)
        if (chain.device[i] == st.st_dev && chain.inode[i] == st.st_ino)
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

int fileInsert(int *counter, const char *path, FILE *file, int storing, IncludeChain *chain);

void include(int *counter, const char *argument, int line, int storing, IncludeChain *chain) {
    char path[DEF_PATH_MAX + 1];
    int formed = includePath(argument, path);
    if (formed == 1) {
        defErrorFn(line, "invalid include file : ", argument);
        return;
    }
    if (formed == 2) {
        if (!storing)
            defErrorFn(line, "include path too long :", argument);
        return;
    }
    if (formed == 3) {
        // No configuration directory: the candidate does not open.
        if (!storing)
            defErrorFn(line, "can't access", argument);
        return;
    }
    if (logLevel >= 1)
        logPrintf("defFileInsert : fileIncludeName = %s\n", path);
    struct stat st;
    if (stat(path, &st) == 0 && inChain(*chain, st)) {
        if (!storing)
            defErrorFn(line, "include cycle, not read again :", path);
        return;
    }
    if (chain->depth >= DEF_INCLUDE_DEPTH) {
        if (!storing)
            defErrorFn(line, "includes nested too deep :", path);
        return;
    }
    FILE *included = fileOpen(path, "r");
    if (!included) {
        if (!storing)
            defErrorFn(line, "can't access", path);
        return;
    }
    // A failure inside an included file does not stop the including one.
    fileInsert(counter, path, included, storing, chain);
    fclose(included);
}

int fileInsert(int *counter, const char *path, FILE *file, int storing, IncludeChain *chain) {
    struct stat st;
    if (stat(path, &st) != 0) {
        if (storing) {
            char message[DEF_PATH_MAX + 32];
            snprintf(message, sizeof message, "can't acces  : %s", path);
            defErrorFn(1, message, "");
        }
        return -1;
    }
    chain->device[chain->depth] = st.st_dev;
    chain->inode[chain->depth] = st.st_ino;
    ++chain->depth;

    int status = 0;
    int count = 0;
    CfgLineReader reader;
    cfgReaderInit(&reader, file);
    char line[CFG_LINE_MAX + 1];
    while (cfgReadLine(&reader, line) >= 0) {
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
        if (storing && defCount < defCapacity) {
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
    if (!defTable || defTable != ownTable || index < 0 || index >= defCapacity || !value || !name)
        return -1;
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

void defErrorFn(int line, const char *message, const char *argument) {
    if (logLevel >= 1)
        logPrintf("defErrorFn : (line %d) %s %s\n", line, message, argument);
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
    if (logLevel >= 1) {
        if (fileString)
            logPrintf("fileString:%s, openFileName:%s\n", fileString, openFileName);
        else
            logPrintf("openFileName:%s\n", openFileName);
    }
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
                if (s->form == CFG_FORM_DIR && logLevel >= 1)
                    logPrintf("openABFile: %s, openFileName: %s\n", s->directory, s->path);
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
    if (logLevel >= 1)
        logPrintf("defReadFile ()\n");
    freeTable();
    defCount = 0;
    char openFileName[DEF_PATH_MAX + 1] = "";
    const char *file = defGetDefinitionFile();
    int count = openABFile(file, openFileName, DEF_PATH_MAX);
    bool failed = count < 0;
    if (failed) {
        if (logLevel >= 1)
            logPrintf("defReadFile : no valid definition, size = 0\n");
        count = 0;
    } else if (logLevel >= 1) {
        logPrintf("defReadFile : file size = %d\n", count);
    }
    ownTable = static_cast<DefEntry *>(calloc(static_cast<size_t>(count) + 1, sizeof(DefEntry)));
    defTable = ownTable;
    if (!defTable) {
        defErrorFn(0, "no space memory available", "");
        return -2;
    }
    defCapacity = count;
    if (failed) {
        defErrorFn(0, "can't read definition file", "");
        defTable[0] = DefEntry{};
        return -1;
    }
    if (logLevel >= 1)
        logPrintf("from %s : \n", openFileName);
    openABFile(file, openFileName, DEF_PATH_MAX);
    defTable[defCount] = DefEntry{};
    if (defCount == 0) {
        defErrorFn(0, "declared definition number = ", "0");
        return -2;
    }
    return 0;
}

void defSetDefinitionFile(const char *path) {
    definitionFileSet = path != nullptr;
    definitionFile = path ? path : "";
}

const char *defGetDefinitionFile() {
    return definitionFileSet ? definitionFile.c_str() : nullptr;
}

void defSetDefinitionIncludeDir(const char *dir) {
    definitionIncludeDirSet = dir != nullptr;
    definitionIncludeDir = dir ? dir : "";
}

const char *defGetDefinitionIncludeDir() {
    return definitionIncludeDirSet ? definitionIncludeDir.c_str() : nullptr;
}
