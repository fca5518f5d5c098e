#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

FILE *fileOpen(const char *path, const char *mode) {
    if (!path || !mode)
        return nullptr;
    bool exclusive = strcmp(mode, "wx") == 0;
    bool writing = exclusive || strcmp(mode, "w") == 0;
    if (!writing && strcmp(mode, "r") != 0)
        return nullptr;
    // Non-blocking, so that a FIFO without a peer cannot hold the open up. A
    // write never follows a link: it would change the file the link names.
    // Nothing is truncated before it is known to be a regular file.
    int flags = (writing ? O_WRONLY | O_CREAT | O_NOFOLLOW : O_RDONLY) | O_NONBLOCK | O_NOCTTY |
                O_CLOEXEC | (exclusive ? O_EXCL : 0);
    int fd;
    while ((fd = open(path, flags, 0666)) < 0 && errno == EINTR) {
    }
    if (fd < 0)
        return nullptr;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        errno = EISDIR;
        return nullptr;
    }
    if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 ||
        (writing && ftruncate(fd, 0) != 0)) {
        close(fd);
        return nullptr;
    }
    FILE *file = fdopen(fd, writing ? "w" : "r");
    if (!file)
        close(fd);
    return file;
}

int fileIdentity(const char *path, char *identity, int capacity) {
    char *full = path ? realpath(path, nullptr) : nullptr;
    if (!full)
        return -1;
    size_t length = strlen(full);
    bool fits = length < static_cast<size_t>(capacity);
    if (fits)
        memcpy(identity, full, length + 1);
    free(full);
    return fits ? 0 : -1;
}

int fileExists(const char *path) {
    struct stat st;
    int result;
    while ((result = stat(path, &st)) != 0 && errno == EINTR) {
    }
    if (result == 0)
        return 1;
    return errno == ENOENT ? 0 : -1;
}

int fileProbeWritable(const char *path) {
    if (!path)
        return 0;
    int exists = fileExists(path);
    if (exists < 0)
        return 0;
    if (exists == 0) {
        int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0)
            return 0;
        close(fd);
        while (unlink(path) != 0 && errno == EINTR) {
        }
        return 1;
    }
    // As fileOpen would write it: a regular file, not through a link.
    int fd = open(path, O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    struct stat st;
    bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    close(fd);
    return regular ? 1 : 0;
}

namespace {

// Writes all of text to fd; false on a failed write.
bool writeAll(int fd, const char *text, int length) {
    while (length > 0) {
        ssize_t n = write(fd, text, static_cast<size_t>(length));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        text += n;
        length -= static_cast<int>(n);
    }
    return true;
}

// The rename itself is kept only once the directory holding it is flushed.
void syncDirectoryOf(const char *path) {
    char directory[PATH_MAX] = ".";
    if (const char *slash = strrchr(path, '/')) {
        size_t n = slash == path ? 1 : static_cast<size_t>(slash - path); // "/" keeps its slash
        if (n >= sizeof directory)
            return;
        memcpy(directory, path, n);
        directory[n] = '\0';
    }
    int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
}

} // namespace

int fileReplace(const char *path, const char *text, int length) {
    char temporary[PATH_MAX];
    if (!path || !text || length < 0 ||
        snprintf(temporary, sizeof temporary, "%s.new", path) >= static_cast<int>(sizeof temporary))
        return -1;
    // A leftover of an earlier crash is removed; a link there is removed
    // rather than followed.
    while (unlink(temporary) != 0 && errno == EINTR) {
    }
    int fd = open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    bool written = writeAll(fd, text, length) && fsync(fd) == 0;
    if (close(fd) != 0 || !written || rename(temporary, path) != 0) {
        unlink(temporary);
        return -1;
    }
    syncDirectoryOf(path);
    return 0;
}

bool fileIsTerminal(FILE *file) {
    return isatty(fileno(file)) == 1;
}

int fileOthersCanRead(FILE *file) {
    struct stat st;
    if (!file || fstat(fileno(file), &st) != 0)
        return -1;
    return (st.st_mode & S_IROTH) ? 1 : 0;
}

const char *fileStateDirectory() {
    static char first[PATH_MAX];
    const char *all = getenv("STATE_DIRECTORY");
    if (!all || !*all)
        return nullptr;
    size_t n = strcspn(all, ":");
    if (n >= sizeof first)
        return nullptr;
    memcpy(first, all, n);
    first[n] = '\0';
    return first;
}
