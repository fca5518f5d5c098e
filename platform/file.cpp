#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

FILE *fileOpen(const char *path, const char *mode) {
    if (!path || !mode)
        return nullptr;
    bool writing = strcmp(mode, "w") == 0;
    if (!writing && strcmp(mode, "r") != 0)
        return nullptr;
    // Non-blocking, so that a FIFO without a peer cannot hold the open up.
    int flags = (writing ? O_WRONLY | O_CREAT : O_RDONLY) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
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
    FILE *file = fdopen(fd, mode);
    if (!file)
        close(fd);
    return file;
}
