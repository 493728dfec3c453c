#include "model/NoReplaceRename.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

int renameNoReplace(const char *from, const char *to)
{
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

const NoReplaceRename::SystemCalls kRealCalls{&renameNoReplace, &::link};
std::atomic<const NoReplaceRename::SystemCalls *> g_calls{&kRealCalls};

NoReplaceRename::Result classify(int error)
{
    if (error == EEXIST || error == ENOTEMPTY)
        return NoReplaceRename::Result::nameTaken;
    if (error == EXDEV)
        return NoReplaceRename::Result::otherFileSystem;
    return NoReplaceRename::Result::failed;
}

// The file system does not know the flag (renameat2) or hard links (link).
bool featureMissing(int error)
{
    return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP;
}

} // namespace

void NoReplaceRename::setSystemCalls(const SystemCalls *calls)
{
    g_calls.store(calls ? calls : &kRealCalls);
}

NoReplaceRename::Result NoReplaceRename::rename(const QByteArray &from, const QByteArray &to)
{
    const SystemCalls &calls = *g_calls.load();
    if (calls.renameNoReplace(from.constData(), to.constData()) == 0)
        return Result::done;
    if (!featureMissing(errno))
        return classify(errno);
    if (calls.link(from.constData(), to.constData()) != 0) {
        // FAT-like file systems answer EPERM for a link they cannot make.
        if (featureMissing(errno) || errno == EPERM)
            return Result::unsupported;
        return classify(errno);
    }
    if (::unlink(from.constData()) != 0) {
        // The file now has two names; drop the new one so it stays only where it was.
        ::unlink(to.constData());
        return Result::failed;
    }
    return Result::done;
}
