#pragma once

#include <QJsonValue>
#include <QMetaType>
#include <QString>
#include <QStringView>

// The quick verdict of a cull (pick or reject) beside the stars.
enum class CullingFlag : quint8 { none, pick, reject };

// A bucket of the user's own meaning, named by colour as Lightroom, Bridge
// and darktable name theirs.
enum class ColourLabel : quint8 { none, red, yellow, green, blue, purple };

// A photo's flag and colour label; none of either is no mark at all.
//
// Stored as a JSON object, {"flag": "pick"|"reject", "label": "red"|...}, a
// key absent when its part is none. Reading is tolerant: a value this
// version does not know (another type, a new name, a newer program's extra
// keys) reads as none rather than failing, so a shared file stays usable.
struct CullingMark
{
    CullingFlag flag = CullingFlag::none;
    ColourLabel label = ColourLabel::none;

    bool isEmpty() const { return flag == CullingFlag::none && label == ColourLabel::none; }
    friend bool operator==(const CullingMark &, const CullingMark &) = default;

    // Undefined for an empty mark: the store keeps no entry for it.
    QJsonValue toJson() const;
    static CullingMark fromJson(const QJsonValue &value);

    // The names of the stored form ("pick", "red"); empty for none. Reading
    // ignores case and surrounding spaces; an unknown or empty name gives none.
    static QString flagName(CullingFlag flag);
    static CullingFlag flagFromName(QStringView name);
    static QString labelName(ColourLabel label);
    static ColourLabel labelFromName(QStringView name);

    // The `xmp:Label` value ("Red" ... "Purple"); empty for none. Read as
    // the stored names are.
    static QString xmpLabel(ColourLabel label);
    static ColourLabel labelFromXmp(QStringView xmpLabel);
};

Q_DECLARE_METATYPE(CullingMark)
