#include "model/NoReplaceRename.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

static NoReplaceRename::Result classify(int error)
{
    if (error == EEXIST || error == ENOTEMPTY)
        return NoReplaceRename::Result::nameTaken;
    if (error == EXDEV)
        return NoReplaceRename::Result::otherFileSystem;
    return NoReplaceRename::Result::failed;
}

NoReplaceRename::Result NoReplaceRename::rename(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return Result::done;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return classify(errno);
    if (::link(from.constData(), to.constData()) != 0)
        return classify(errno);
    if (::unlink(from.constData()) != 0) {
        // The file now has two names; drop the new one so it stays only where it was.
        ::unlink(to.constData());
        return Result::failed;
    }
    return Result::done;
}
