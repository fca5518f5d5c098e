#include "platform/file.h"

#include <windows.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

namespace {

// A handle for writing path, only when it is a regular file on a disk: never
// a directory, a device name ("NUL", "COM1") or a reparse point (a symbolic
// link or a junction), which is opened itself rather than followed and then
// refused. INVALID_HANDLE_VALUE otherwise.
HANDLE openForWriting(const char *path, DWORD access, DWORD disposition) {
    HANDLE h = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return h;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        CloseHandle(h);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

// "w" and "wx": truncated only once known to be a regular file, in text mode
// as fopen's "w" writes.
FILE *openWrite(const char *path, bool exclusive) {
    HANDLE h = openForWriting(path, GENERIC_WRITE, exclusive ? CREATE_NEW : OPEN_ALWAYS);
    if (h == INVALID_HANDLE_VALUE)
        return nullptr;
    int fd = -1;
    if (!SetEndOfFile(h) ||
        (fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_TEXT)) < 0) {
        CloseHandle(h);
        return nullptr;
    }
    FILE *file = _fdopen(fd, "wt");
    if (!file)
        _close(fd); // closes the handle too
    return file;
}

} // namespace

FILE *fileOpen(const char *path, const char *mode) {
    if (!path || !mode)
        return nullptr;
    bool exclusive = strcmp(mode, "wx") == 0;
    if (exclusive || strcmp(mode, "w") == 0)
        return openWrite(path, exclusive);
    if (strcmp(mode, "r") != 0)
        return nullptr;
    // Only a regular file counts: not a directory, nor a device name ("NUL", "COM1").
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))) {
        errno = EISDIR;
        return nullptr;
    }
    FILE *file = fopen(path, "r");
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
    if (exists) { // as fileOpen would write it: appending changes nothing
        HANDLE h = openForWriting(path, FILE_APPEND_DATA, OPEN_EXISTING);
        if (h == INVALID_HANDLE_VALUE)
            return 0;
        CloseHandle(h);
        return 1;
    }
    int fd = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL, _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return 0;
    _close(fd);
    _unlink(path);
    return 1;
}

int fileReplace(const char *path, const char *text, int length) {
    char temporary[MAX_PATH];
    if (!path || !text || length < 0 ||
        snprintf(temporary, sizeof temporary, "%s.new", path) >= static_cast<int>(sizeof temporary))
        return -1;
    DeleteFileA(temporary); // a leftover of an earlier crash
    HANDLE h = openForWriting(temporary, GENERIC_WRITE, CREATE_NEW);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    DWORD written = 0;
    bool good = WriteFile(h, text, static_cast<DWORD>(length), &written, nullptr) &&
                written == static_cast<DWORD>(length) && FlushFileBuffers(h);
    good = CloseHandle(h) && good;
    if (!good ||
        !MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(temporary);
        return -1;
    }
    return 0;
}

bool fileIsTerminal(FILE *file) {
    return _isatty(_fileno(file)) != 0;
}

int fileOthersCanRead(FILE *) {
    return 0;
}

const char *fileStateDirectory() {
    return nullptr;
}
