#pragma once

#include <QHashFunctions>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QUrl>
#include <QUuid>
#include <array>

// One image file. An immutable value: everything that changes while the program
// runs (rating, thumbnail) lives elsewhere, keyed by path. Every item gets a
// fresh id when it is created, so the same file seen by two scans gives two
// unequal items; equality and hashing look at the id alone.
class ImageItem
{
public:
    // Order of declaration is the order of the format filter.
    enum class FormatCategory { raw, jpeg, png, heic, gif, tiff, other };
    static constexpr std::array<FormatCategory, 7> allFormatCategories{
        FormatCategory::raw, FormatCategory::jpeg, FormatCategory::png,  FormatCategory::heic,
        FormatCategory::gif, FormatCategory::tiff, FormatCategory::other};

    // What an item derives from its lower-cased extension; the scanner works it
    // out once per distinct extension and shares it between items.
    struct FileType
    {
        QString extension; // lower case
        QString label;
        FormatCategory category = FormatCategory::other;
        bool isRAW = false;

        static FileType forExtension(const QString &lowerCaseExtension);
    };

    ImageItem() = default;
    // Creates an item for a local file; only the folder scanner makes them.
    explicit ImageItem(const QString &absolutePath);
    ImageItem(const QString &absolutePath, const QString &filename, const FileType &type);

    QUuid id() const { return m_id; }
    QUrl url() const { return QUrl::fromLocalFile(m_path); }
    // The decoded absolute path: the key of ratings and every file operation.
    const QString &path() const { return m_path; }
    const QString &filename() const { return m_filename; }
    const QString &fileExtension() const { return m_type.extension; }
    bool isRAW() const { return m_type.isRAW; }
    const QString &formatLabel() const { return m_type.label; }
    FormatCategory formatCategory() const { return m_type.category; }
    bool isNull() const { return m_id.isNull(); }

    static QString displayName(FormatCategory category);

    friend bool operator==(const ImageItem &a, const ImageItem &b) { return a.m_id == b.m_id; }
    friend bool operator!=(const ImageItem &a, const ImageItem &b) { return a.m_id != b.m_id; }
    friend size_t qHash(const ImageItem &item, size_t seed = 0) { return qHash(item.m_id, seed); }

private:
    static QString label(const QString &lowerCaseExtension);
    static FormatCategory category(const QString &lowerCaseExtension);

    QUuid m_id;
    QString m_path;
    QString m_filename;
    FileType m_type;
};

Q_DECLARE_METATYPE(ImageItem)
