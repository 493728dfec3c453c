#include "model/FileDescriptorWriter.h"

#include <cerrno>
#include <unistd.h>

bool FileDescriptorWriter::writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= size_t(written);
    }
    return true;
}
