#pragma once

#include <QException>
#include <QString>

// The error of the full-image load and the RAW decode. Thumbnails never raise
// it: they fail silently with a null image. Derives from QException so that it
// crosses thread boundaries inside a QFuture and is rethrown to the waiter.
class ImageLoadError : public QException
{
public:
    // Declaration order is part of the contract.
    enum class Kind { unsupportedFormat, sourceCreationFailed, decodeFailed };

    static ImageLoadError unsupportedFormat(QString name);
    // The file cannot be opened as an image source (missing, unreadable, or
    // not a RAW file the RAW engine accepts).
    static ImageLoadError sourceCreationFailed();
    // The file was opened but no bitmap could be produced from it.
    static ImageLoadError decodeFailed();

    Kind kind() const { return m_kind; }
    // The text shown to the user.
    QString errorDescription() const;

    const char *what() const noexcept override;
    void raise() const override { throw *this; }
    ImageLoadError *clone() const override { return new ImageLoadError(*this); }

private:
    ImageLoadError(Kind kind, QString formatName);

    Kind m_kind;
    QString m_formatName;
    QByteArray m_what;
};
