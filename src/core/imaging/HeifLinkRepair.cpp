#include "imaging/HeifLinkRepair.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <algorithm>
#include <optional>

namespace {

struct Box
{
    qsizetype start = 0;  // where the header begins
    qsizetype header = 8; // 8, or 16 with a 64-bit size
    qsizetype size = 0;   // header included
    QByteArray type;

    qsizetype content() const { return start + header; }
    qsizetype end() const { return start + size; }
};

quint64 bigEndian(const QByteArray &data, qsizetype at, int bytes)
{
    quint64 value = 0;
    for (int i = 0; i < bytes; ++i)
        value = value << 8 | uchar(data[at + i]);
    return value;
}

void appendBigEndian(QByteArray &out, quint64 value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.append(char(value >> (8 * i) & 0xFF));
}

enum class Rest { mustFit, mayTrail };

// The boxes that fill [from, to); nullopt when one overruns it, unless bytes
// that form no box may trail (they are then left out).
std::optional<QList<Box>> boxesIn(const QByteArray &data, qsizetype from, qsizetype to,
                                  Rest rest = Rest::mustFit)
{
    QList<Box> boxes;
    const auto overrun = [&]() -> std::optional<QList<Box>> {
        if (rest == Rest::mayTrail)
            return boxes;
        return std::nullopt;
    };
    for (qsizetype at = from; at < to;) {
        if (to - at < 8)
            return overrun();
        Box box;
        box.start = at;
        box.type = data.mid(at + 4, 4);
        quint64 size = bigEndian(data, at, 4);
        if (size == 1) {
            if (to - at < 16)
                return overrun();
            box.header = 16;
            size = bigEndian(data, at + 8, 8);
        } else if (size == 0) {
            size = quint64(to - at);
        }
        if (size < quint64(box.header) || size > quint64(to - at))
            return overrun();
        box.size = qsizetype(size);
        boxes.append(box);
        at = box.end();
    }
    return boxes;
}

const Box *find(const QList<Box> &boxes, const char *type)
{
    for (const Box &box : boxes)
        if (box.type == type)
            return &box;
    return nullptr;
}

// Item id -> item type, from the 'infe' entries (versions 2 and 3) of 'iinf'.
QHash<quint32, QByteArray> itemTypes(const QByteArray &data, const Box &iinf)
{
    QHash<quint32, QByteArray> types;
    if (iinf.end() - iinf.content() < 6)
        return types;
    const int version = uchar(data[iinf.content()]);
    const qsizetype first = iinf.content() + 4 + (version == 0 ? 2 : 4);
    const auto entries = boxesIn(data, qMin(first, iinf.end()), iinf.end());
    if (!entries)
        return types;
    for (const Box &infe : *entries) {
        if (infe.type != "infe" || infe.end() - infe.content() < 4)
            continue;
        const int entryVersion = uchar(data[infe.content()]);
        const int idBytes = entryVersion == 2 ? 2 : 4;
        const qsizetype typeAt = infe.content() + 4 + idBytes + 2;
        if (entryVersion < 2 || typeAt + 4 > infe.end())
            continue;
        types.insert(quint32(bigEndian(data, infe.content() + 4, idBytes)), data.mid(typeAt, 4));
    }
    return types;
}

struct Reference
{
    QByteArray type;
    quint32 from = 0;
    QList<quint32> to;
};

std::optional<QList<Reference>> referencesIn(const QByteArray &data, const Box &iref, int idBytes)
{
    const auto boxes = boxesIn(data, iref.content() + 4, iref.end());
    if (!boxes)
        return std::nullopt;
    QList<Reference> references;
    for (const Box &box : *boxes) {
        qsizetype at = box.content();
        if (box.header != 8 || box.end() - at < idBytes + 2)
            return std::nullopt;
        Reference reference{box.type, quint32(bigEndian(data, at, idBytes)), {}};
        const int count = int(bigEndian(data, at + idBytes, 2));
        at += idBytes + 2;
        if (box.end() - at < qsizetype(count) * idBytes)
            return std::nullopt;
        for (int i = 0; i < count; ++i, at += idBytes)
            reference.to.append(quint32(bigEndian(data, at, idBytes)));
        references.append(reference);
    }
    return references;
}

QByteArray ireferenceBox(const QByteArray &fullBoxHeader, const QList<Reference> &references,
                         int idBytes)
{
    QByteArray body = fullBoxHeader;
    for (const Reference &reference : references) {
        appendBigEndian(body, quint64(8 + idBytes + 2 + reference.to.size() * idBytes), 4);
        body.append(reference.type);
        appendBigEndian(body, reference.from, idBytes);
        appendBigEndian(body, quint64(reference.to.size()), 2);
        for (quint32 id : reference.to)
            appendBigEndian(body, id, idBytes);
    }
    QByteArray box;
    appendBigEndian(box, quint64(body.size() + 8), 4);
    box.append("iref");
    return box + body;
}

// Coded pictures and the derivations libheif composes; not 'tmap'.
bool isReadablePicture(const QByteArray &itemType)
{
    static const QSet<QByteArray> types{"hvc1", "av01", "avc1", "jpeg", "grid", "iden", "iovl"};
    return types.contains(itemType);
}

bool takesOneTarget(const QByteArray &referenceType)
{
    return referenceType == "thmb" || referenceType == "auxl" || referenceType == "cdsc";
}

// True when a link had to change.
bool keepOneReadableTarget(QList<Reference> &references, const QHash<quint32, QByteArray> &types)
{
    bool changed = false;
    for (qsizetype i = references.size() - 1; i >= 0; --i) {
        Reference &reference = references[i];
        if (!takesOneTarget(reference.type))
            continue;
        const auto target = std::find_if(reference.to.cbegin(), reference.to.cend(),
                                         [&](quint32 id) { return isReadablePicture(types[id]); });
        if (target == reference.to.cend()) {
            references.removeAt(i);
            changed = true;
        } else if (reference.to.size() > 1) {
            reference.to = {*target};
            changed = true;
        }
    }
    return changed;
}

} // namespace

QByteArray HeifLinkRepair::repaired(const QByteArray &file)
{
    const auto top = boxesIn(file, 0, file.size(), Rest::mayTrail);
    if (!top || top->isEmpty())
        return {};
    const Box *meta = find(*top, "meta");
    if (!meta || meta->end() - meta->content() < 4)
        return {};
    const auto children = boxesIn(file, meta->content() + 4, meta->end());
    if (!children)
        return {};
    const Box *iref = find(*children, "iref");
    const Box *iinf = find(*children, "iinf");
    if (!iref || !iinf || iref->header != 8 || iref->end() - iref->content() < 4)
        return {};
    const int idBytes = file[iref->content()] == 0 ? 2 : 4;
    auto references = referencesIn(file, *iref, idBytes);
    if (!references || !keepOneReadableTarget(*references, itemTypes(file, *iinf)))
        return {};

    QByteArray metaBody = file.mid(meta->content(), 4); // version and flags
    for (const Box &child : *children)
        metaBody += child.start == iref->start
                        ? ireferenceBox(file.mid(iref->content(), 4), *references, idBytes)
                        : file.mid(child.start, child.size);
    if (metaBody.size() + 8 > qsizetype(UINT32_MAX))
        return {};

    QByteArray out = file;
    // The last box ends where the file does: bytes after it that form no box
    // (some writers leave them) become part of it, and one that ran to the
    // end of the file gets its size written, as boxes follow it now.
    const Box &last = top->last();
    const quint64 lastSize = quint64(file.size() - last.start);
    QByteArray size;
    if (last.header == 16) {
        appendBigEndian(size, lastSize, 8);
        out.replace(last.start + 8, 8, size);
    } else if (lastSize <= UINT32_MAX) {
        appendBigEndian(size, lastSize, 4);
        out.replace(last.start, 4, size);
    } else {
        return {};
    }
    out.replace(meta->start + 4, 4, "free");
    appendBigEndian(out, quint64(metaBody.size() + 8), 4);
    out.append("meta");
    out.append(metaBody);
    // Readers that stop at the end of the file may skip the box that reaches it.
    appendBigEndian(out, 8, 4);
    out.append("free");
    return out;
}
