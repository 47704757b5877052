#include "ui/Translations.h"

#include "core/Log.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>

namespace Translations {

bool install(const QLocale& locale)
{
    static std::unique_ptr<QTranslator> own;
    static std::unique_ptr<QTranslator> qt;
    for (auto* installed : {&own, &qt}) {
        if (*installed)
            QCoreApplication::removeTranslator(installed->get());
        installed->reset();
    }
    auto ownCatalogue = std::make_unique<QTranslator>();
    const bool found = ownCatalogue->load(locale, QStringLiteral("tavlo"), QStringLiteral("_"), QStringLiteral(":/i18n"));
    if (!found) {
        log(QStringLiteral("Texts in English: no catalogue for %1").arg(locale.name()));
        return false;
    }
    QCoreApplication::installTranslator(ownCatalogue.get());
    own = std::move(ownCatalogue);
    // Qt's own texts (dialog buttons, key names) come with Qt's translations
    // package, which may be missing; the agent's texts do not depend on it.
    auto qtCatalogue = std::make_unique<QTranslator>();
    if (qtCatalogue->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qtCatalogue.get());
        qt = std::move(qtCatalogue);
    }
    log(QStringLiteral("Texts in %1 (%2)%3")
            .arg(QLocale::languageToString(locale.language()), own->filePath(),
                 qt ? QString() : QStringLiteral("; Qt's own texts stay English")));
    return true;
}

} // namespace Translations
