#include "imaging/ImageBuffer.h"

#include <cstdint>
#include <limits>
#include <sys/mman.h>

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

void unmap(void *info)
{
    const auto *mapping = static_cast<Mapping *>(info);
    munmap(mapping->start, mapping->length);
    delete mapping;
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
    void *start = mapAligned(length);
    if (!start)
        return QImage(size, format);
    auto *mapping = new Mapping{start, length}; // owned by the image: freed in unmap()
    QImage image(static_cast<uchar *>(start), size.width(), size.height(), qsizetype(bytesPerLine),
                 format, unmap, mapping);
    if (image.isNull())
        unmap(mapping);
    return image;
}
