#include "imaging/RawWorkLimit.h"

#include "imaging/DecodeLimits.h"
#include "model/DecodeFailureMemory.h"
#include "model/LocalFileName.h"

#include <atomic>
#include <libraw/libraw.h>

namespace {

// Calls per byte of file: LibRaw reads most formats a byte at a time through
// get_char(), and some of them twice; parsing adds a few thousand calls.
constexpr qint64 callsPerByte = 8;
constexpr qint64 callsForParsing = qint64(1) << 16;

// The clock and the wish are asked once in this many calls.
constexpr qint64 callsPerCheck = 4096;

std::atomic<qint64> timeLimitForTestsMs{-1}; // -1: none

std::chrono::steady_clock::duration currentTimeLimit()
{
    const qint64 shortened = timeLimitForTestsMs.load(std::memory_order_relaxed);
    if (shortened >= 0)
        return std::chrono::milliseconds(shortened);
    return RawWorkLimit::timeLimit;
}

} // namespace

void RawWorkLimit::setTimeLimitForTests(std::optional<std::chrono::milliseconds> limit)
{
    timeLimitForTestsMs.store(limit ? qMax<qint64>(0, limit->count()) : -1,
                              std::memory_order_relaxed);
}

RawWorkLimit::RawWorkLimit(const QString &path, LibRaw &raw, StillWanted stillWanted)
    : LibRaw_file_datastream(LocalFileName::encode(path).constData())
    , m_raw(raw)
    , m_stillWanted(std::move(stillWanted))
    , m_deadline(std::chrono::steady_clock::now() + currentTimeLimit())
    , m_budget(qMax<qint64>(0, DecodeLimits::fileSize(path)) * callsPerByte + callsForParsing)
{
    m_raw.clearCancelFlag();
    m_raw.set_progress_handler(&RawWorkLimit::onProgress, this);
}

RawWorkLimit::~RawWorkLimit()
{
    // LibRaw must not keep a pointer to this input, and its object serves
    // the next file.
    m_raw.recycle();
    m_raw.set_progress_handler(nullptr, nullptr);
    m_raw.clearCancelFlag();
}

int RawWorkLimit::open()
{
    if (!valid())
        return LIBRAW_IO_ERROR;
    // LibRaw catches what is thrown while it identifies the file (no
    // parallel region runs then) and returns an error code.
    m_identifying = true;
    const int result = m_raw.open_datastream(this);
    m_identifying = false;
    return m_stopped ? LIBRAW_CANCELLED_BY_CALLBACK : result;
}

bool RawWorkLimit::shouldStop()
{
    if (m_stopped)
        return true;
    if (++m_calls > m_budget) {
        stop();
    } else if (m_calls % callsPerCheck == 0) {
        if (m_stillWanted && !m_stillWanted())
            stop();
        else if (pastDeadline())
            stop();
    }
    return m_stopped;
}

bool RawWorkLimit::pastDeadline()
{
    if (std::chrono::steady_clock::now() <= m_deadline)
        return false;
    DecodeFailureMemory::noteTransientFailure();
    return true;
}

void RawWorkLimit::stop()
{
    m_stopped = true;
    // Checked by LibRaw's loaders between rows and by its development steps.
    m_raw.setCancelFlag();
}

void RawWorkLimit::tick()
{
    if (shouldStop() && m_identifying)
        throw LIBRAW_EXCEPTION_CANCELLED_BY_CALLBACK;
}

int RawWorkLimit::onProgress(void *self, enum LibRaw_progress, int, int)
{
    auto *limit = static_cast<RawWorkLimit *>(self);
    if (!limit->m_stopped && limit->m_stillWanted && !limit->m_stillWanted())
        limit->stop();
    else if (!limit->m_stopped && limit->pastDeadline())
        limit->stop();
    return limit->m_stopped ? 1 : 0;
}

// Once stopped, the input reads as ended: loaders that do not check for
// the end of the file still stop at LibRaw's cancellation.
int RawWorkLimit::read(void *data, size_t size, size_t count)
{
    tick();
    return m_stopped ? 0 : LibRaw_file_datastream::read(data, size, count);
}

int RawWorkLimit::seek(INT64 offset, int whence)
{
    tick();
    return m_stopped ? -1 : LibRaw_file_datastream::seek(offset, whence);
}

INT64 RawWorkLimit::tell()
{
    tick();
    return LibRaw_file_datastream::tell();
}

int RawWorkLimit::get_char()
{
    tick();
    return m_stopped ? -1 : LibRaw_file_datastream::get_char();
}

char *RawWorkLimit::gets(char *text, int size)
{
    tick();
    return m_stopped ? nullptr : LibRaw_file_datastream::gets(text, size);
}

int RawWorkLimit::scanf_one(const char *format, void *value)
{
    tick();
    return m_stopped ? -1 : LibRaw_file_datastream::scanf_one(format, value);
}

int RawWorkLimit::eof()
{
    tick();
    return m_stopped ? 1 : LibRaw_file_datastream::eof();
}
