#pragma once

#include <QString>
#include <chrono>
#include <functional>
#include <libraw/libraw_datastream.h>
#include <optional>

class LibRaw;

// LibRaw's input for one file, bounding the work LibRaw does on it. A
// damaged file can make LibRaw's parser or a loader loop billions of times
// over a few kilobytes (a Phase One directory of zero entries counts down
// from 2^32), so every read, seek and tell is counted against a budget
// proportional to the file's size; past it, or past the time limit, or when
// `stillWanted` says no, the work stops: while the file is identified by an
// exception LibRaw turns into an error code, later through LibRaw's own
// cancellation (checked by its loaders between rows and by the progress
// callback this installs for the development's stages).
//
// Declared after the LibRaw object it serves; its destruction ends LibRaw's
// use of the file (recycle). One thread at a time, as that LibRaw object.
class RawWorkLimit : public LibRaw_file_datastream
{
public:
    using StillWanted = std::function<bool()>;

    // Generous: a 150-megapixel development takes well under a minute on a
    // slow machine.
    static constexpr std::chrono::seconds timeLimit{90};
    // Tests shorten the limit through this seam (zero: every development is
    // out of time at once); nullopt restores timeLimit.
    static void setTimeLimitForTests(std::optional<std::chrono::milliseconds> limit);

    RawWorkLimit(const QString &path, LibRaw &raw, StillWanted stillWanted = {});
    ~RawWorkLimit() override;

    // LibRaw's open_file() through this input: a LibRaw error code.
    int open();
    // The work was stopped (over its budget or time, or no longer wanted);
    // whatever LibRaw then reports is not a picture. A stop for time is also
    // noted as a transient failure (DecodeFailureMemory): the file may
    // develop on a quieter machine.
    bool stopped() const { return m_stopped; }

    int read(void *data, size_t size, size_t count) override;
    int seek(INT64 offset, int whence) override;
    INT64 tell() override;
    int get_char() override;
    char *gets(char *text, int size) override;
    int scanf_one(const char *format, void *value) override;
    int eof() override;

private:
    static int onProgress(void *self, enum LibRaw_progress stage, int done, int total);
    void tick();
    bool shouldStop();
    void stop();
    bool pastDeadline();

    LibRaw &m_raw;
    StillWanted m_stillWanted;
    std::chrono::steady_clock::time_point m_deadline;
    qint64 m_calls = 0;
    qint64 m_budget;
    bool m_identifying = false;
    bool m_stopped = false;
};
