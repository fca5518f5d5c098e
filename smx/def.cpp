#include "smx/def.h"

#include <string>

DefEntry *defTable = nullptr;
int defCount = 0;

namespace {

std::string definitionFile;
bool definitionFileSet = false;
std::string definitionIncludeDir;
bool definitionIncludeDirSet = false;

} // namespace

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
