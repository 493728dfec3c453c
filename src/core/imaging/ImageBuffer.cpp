#include "imaging/ImageBuffer.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/mman.h>
#include <vector>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool ownMappings = false; // the sanitizer checks bounds only of what it allocates
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool ownMappings = false;
#else
constexpr bool ownMappings = true;
#endif
#else
constexpr bool ownMappings = true;
#endif

constexpr std::uintptr_t hugePage = std::uintptr_t(2) << 20;

struct Mapping
{
    void *start;
    size_t length;
};

// Faults in every page now, on the decoder's thread. A decode that is
// cancelled part way (the user steps on) would otherwise leave the rest
// unfaulted, and the mapping, kept for the next picture, would charge those
// faults (and any compaction for huge pages) to a decode the user waits for.
// Only for memory the pool may keep: a larger picture gains nothing from it,
// and a hostile file that claims a huge size and then fails must not make
// all of it resident.
void populate(void *start, size_t length)
{
#ifdef MADV_POPULATE_WRITE
    if (madvise(start, length, MADV_POPULATE_WRITE) == 0)
        return;
#endif
    // Older kernels: a write to each page (the pages are zero already).
    auto *bytes = static_cast<volatile unsigned char *>(start);
    for (size_t offset = 0; offset < length; offset += 4096)
        bytes[offset] = 0;
}

// `length` bytes starting on a huge-page boundary, so that the kernel can
// back every whole 2 MiB of it with one page.
void *mapAligned(size_t length)
{
    const size_t padded = length + hugePage;
    void *raw = mmap(nullptr, padded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    const auto begin = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (begin + hugePage - 1) & ~(hugePage - 1);
    if (aligned > begin)
        munmap(raw, aligned - begin);
    const std::uintptr_t end = begin + padded;
    if (end > aligned + length)
        munmap(reinterpret_cast<void *>(aligned + length), end - (aligned + length));
    void *start = reinterpret_cast<void *>(aligned);
    // Advice only: without huge pages the memory works the same, with more faults.
    madvise(start, length, MADV_HUGEPAGE);
    return start;
}

void release(const Mapping &mapping)
{
    munmap(mapping.start, mapping.length);
}

// Mappings of pictures that have gone, kept for the next pictures of about
// their size. A fresh mapping costs its page faults and the zeroing of every
// page, and where the kernel has to compact memory to find huge pages, much
// more (a 24-megapixel picture took from 45 ms to over 600 ms on the same
// machine); a kept one is resident and costs nothing. Pictures come and go on
// any thread, so the pool takes a lock, held only to pick or file an entry;
// the unmapping is done outside it.
class MappingPool
{
public:
    static MappingPool &instance()
    {
        // Never destroyed: pictures may still go while the program exits.
        static auto *pool = new MappingPool;
        return *pool;
    }

    // A kept mapping of at least `length` bytes and not much more (a
    // stand-in's size never takes a full picture's mapping), if any.
    std::optional<Mapping> take(size_t length)
    {
        const std::lock_guard lock(m_mutex);
        auto best = m_kept.end();
        for (auto it = m_kept.begin(); it != m_kept.end(); ++it) {
            if (it->length >= length && it->length - length <= length / 4 &&
                (best == m_kept.end() || it->length < best->length))
                best = it;
        }
        if (best == m_kept.end())
            return std::nullopt;
        const Mapping found = *best;
        m_kept.erase(best);
        m_bytes -= found.length;
        return found;
    }

    // Keeps `mapping` for reuse, the oldest kept leaving when the pool would
    // grow past its bounds.
    void give(const Mapping &mapping)
    {
        // Kept pages the system may take back when memory runs short (they
        // come back zeroed, at the cost of their faults); until then they are
        // reused as they are. Advised before the mapping can be taken again.
        if (mapping.length <= size_t(ImageBuffer::poolBytes))
            madvise(mapping.start, mapping.length, MADV_FREE);
        std::vector<Mapping> leaving;
        {
            const std::lock_guard lock(m_mutex);
            if (mapping.length > size_t(ImageBuffer::poolBytes)) {
                leaving.push_back(mapping);
            } else {
                m_kept.push_back(mapping);
                m_bytes += mapping.length;
                while (m_kept.size() > size_t(ImageBuffer::poolEntries) ||
                       m_bytes > size_t(ImageBuffer::poolBytes)) {
                    leaving.push_back(m_kept.front());
                    m_bytes -= m_kept.front().length;
                    m_kept.erase(m_kept.begin());
                }
            }
        }
        std::ranges::for_each(leaving, release);
    }

    qsizetype bytes()
    {
        const std::lock_guard lock(m_mutex);
        return qsizetype(m_bytes);
    }

private:
    std::mutex m_mutex;
    std::vector<Mapping> m_kept; // oldest first
    size_t m_bytes = 0;
};

void giveBack(void *info)
{
    const std::unique_ptr<Mapping> mapping(static_cast<Mapping *>(info));
    MappingPool::instance().give(*mapping);
}

// A kept mapping when one fits, else a fresh one.
std::optional<Mapping> mappingFor(size_t length)
{
    if (const std::optional<Mapping> kept = MappingPool::instance().take(length))
        return kept;
    void *start = mapAligned(length);
    if (!start)
        return std::nullopt;
    if (length <= size_t(ImageBuffer::poolBytes))
        populate(start, length);
    return Mapping{start, length};
}

} // namespace

QImage ImageBuffer::allocate(QSize size, QImage::Format format)
{
    if (size.isEmpty())
        return {};
    const int depth = QImage::toPixelFormat(format).bitsPerPixel();
    const qint64 bytesPerLine = ((qint64(size.width()) * depth + 31) / 32) * 4;
    const qint64 bytes = bytesPerLine * size.height();
    if (!ownMappings || bytes < largeBytes || bytesPerLine > std::numeric_limits<int>::max() ||
        depth < 8)
        return QImage(size, format);
    const size_t length = (size_t(bytes) + hugePage - 1) & ~size_t(hugePage - 1);
    const std::optional<Mapping> found = mappingFor(length);
    if (!found)
        return QImage(size, format);
    auto *mapping = new Mapping(*found); // owned by the image: handed back in giveBack()
    QImage image(static_cast<uchar *>(mapping->start), size.width(), size.height(),
                 qsizetype(bytesPerLine), format, giveBack, mapping);
    if (image.isNull())
        giveBack(mapping);
    return image;
}

qsizetype ImageBuffer::pooledBytes()
{
    return MappingPool::instance().bytes();
}

bool ImageBuffer::keepsMemory()
{
    return ownMappings;
}
