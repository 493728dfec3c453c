#pragma once

#include <memory>

class QTranslator;

// Qt's own Simplified Chinese texts (file and colour dialogs, message boxes,
// standard buttons), installed for the object's lifetime: the interface is
// Chinese whatever the system's language. Needs the qt6-translations-l10n
// catalogues; without them Qt's dialogs stay English.
class QtTranslations
{
public:
    QtTranslations();
    ~QtTranslations();

    QtTranslations(const QtTranslations &) = delete;
    QtTranslations &operator=(const QtTranslations &) = delete;

    bool isInstalled() const { return m_translator != nullptr; }

private:
    std::unique_ptr<QTranslator> m_translator;
};
