#include "platform/file.h"

#include <windows.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

FILE *fileOpen(const char *path, const char *mode) {
    if (!path || !mode)
        return nullptr;
    bool writing = strcmp(mode, "w") == 0;
    if (!writing && strcmp(mode, "r") != 0)
        return nullptr;
    // Only a regular file counts: not a directory, nor a device name ("NUL", "COM1").
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))) {
        errno = EISDIR;
        return nullptr;
    }
    FILE *file = fopen(path, writing ? "w" : "r");
    if (file &&
        GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) != FILE_TYPE_DISK) {
        fclose(file);
        return nullptr;
    }
    return file;
}

int fileIdentity(const char *path, char *identity, int capacity) {
    if (!path || GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
        return -1;
    DWORD length = GetFullPathNameA(path, static_cast<DWORD>(capacity), identity, nullptr);
    if (length == 0 || length >= static_cast<DWORD>(capacity))
        return -1;
    // Windows paths ignore case, and "/" separates as "\" does.
    for (char *p = identity; *p; ++p)
        *p = *p == '/' ? '\\' : static_cast<char>(tolower(static_cast<unsigned char>(*p)));
    return 0;
}

int fileExists(const char *path) {
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
        return 1;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : -1;
}

int fileProbeWritable(const char *path) {
    if (!path)
        return 0;
    int exists = fileExists(path);
    if (exists < 0)
        return 0;
    int fd = exists ? _open(path, _O_WRONLY | _O_APPEND)
                    : _open(path, _O_WRONLY | _O_CREAT | _O_EXCL, _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return 0;
    _close(fd);
    if (!exists)
        _unlink(path);
    return 1;
}
