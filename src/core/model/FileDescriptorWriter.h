#pragma once

#include <cstddef>

// Writes to a POSIX file descriptor until every byte is written, resuming
// after short writes and signals. For the archive's copies and the export
// writer, which both need to know that a file is complete before publishing it.
class FileDescriptorWriter
{
public:
    FileDescriptorWriter() = delete;

    // False on the first write error; the file is then incomplete.
    static bool writeAll(int fd, const char *data, size_t size);
};
