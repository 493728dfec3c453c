#pragma once

#include "model/NoReplaceRename.h"

#include <QFile>
#include <QString>
#include <cerrno>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

// While it lives: a file system that can neither rename without replacing nor
// make hard links (FUSE mounts, exFAT, some network shares), answering as they do.
class WithoutNoReplaceRenames
{
public:
    WithoutNoReplaceRenames() { NoReplaceRename::setSystemCalls(&kCalls); }
    ~WithoutNoReplaceRenames() { NoReplaceRename::setSystemCalls(nullptr); }
    WithoutNoReplaceRenames(const WithoutNoReplaceRenames &) = delete;
    WithoutNoReplaceRenames &operator=(const WithoutNoReplaceRenames &) = delete;

private:
    static int refuse(int error) { return errno = error, -1; }
    static constexpr NoReplaceRename::SystemCalls kCalls{
        [](const char *, const char *) { return refuse(EINVAL); },
        [](const char *, const char *) { return refuse(EPERM); }};
};

// While it lives: permissions on this thread as a user meets them (root's overrides off).
class PermissionChecksOnThisThread
{
public:
    PermissionChecksOnThisThread()
    {
        if (::geteuid() != 0 || ::syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        m_active = ::syscall(SYS_capset, &m_header, reduced) == 0;
    }
    ~PermissionChecksOnThisThread()
    {
        if (m_active)
            ::syscall(SYS_capset, &m_header, m_saved);
    }
    bool isActive() const { return m_active || ::geteuid() != 0; }

private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2] = {};
    bool m_active = false;
};

// While it lives, the immutable attribute (chattr +i): nobody can rename, remove or
// change it (a folder: its entries). Needs root and a file system keeping it.
class ImmutableFlag
{
public:
    explicit ImmutableFlag(const QString &path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC))
    {
        m_active = m_fd >= 0 && setFlag(true);
    }
    ~ImmutableFlag()
    {
        if (m_active)
            setFlag(false);
        if (m_fd >= 0)
            ::close(m_fd);
    }
    ImmutableFlag(const ImmutableFlag &) = delete;
    ImmutableFlag &operator=(const ImmutableFlag &) = delete;
    bool isActive() const { return m_active; }

private:
    bool setFlag(bool on)
    {
        int flags = 0;
        if (::ioctl(m_fd, FS_IOC_GETFLAGS, &flags) != 0)
            return false;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        return ::ioctl(m_fd, FS_IOC_SETFLAGS, &flags) == 0;
    }

    int m_fd;
    bool m_active = false;
};
