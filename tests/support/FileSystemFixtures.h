#pragma once

#include "model/NoReplaceRename.h"

#include <cerrno>

// Plays, for the lifetime of the object, a file system that can neither
// rename without replacing nor make hard links (FUSE mounts, exFAT, some
// network shares), the way such file systems answer.
class WithoutNoReplaceRenames
{
public:
    WithoutNoReplaceRenames() { NoReplaceRename::setSystemCalls(&kCalls); }
    ~WithoutNoReplaceRenames() { NoReplaceRename::setSystemCalls(nullptr); }
    WithoutNoReplaceRenames(const WithoutNoReplaceRenames &) = delete;
    WithoutNoReplaceRenames &operator=(const WithoutNoReplaceRenames &) = delete;

private:
    static int refuseFlag(const char *, const char *)
    {
        errno = EINVAL;
        return -1;
    }
    static int refuseLink(const char *, const char *)
    {
        errno = EPERM;
        return -1;
    }
    static constexpr NoReplaceRename::SystemCalls kCalls{&refuseFlag, &refuseLink};
};
