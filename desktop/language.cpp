#include "desktop/language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QString>
#include <QTranslator>

namespace bl::desktop {

namespace {

// QTranslator falls back from "name_de_AT" to "name_de" by itself.
bool install(const QString& name, const QString& folder) {
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(name, folder)) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

}  // namespace

void installTranslations(const QLocale& locale) {
    // One language at a time, in the user's order: given all of them at once,
    // QTranslator would pick German for someone who asks for English first.
    for (const QString& language : locale.uiLanguages()) {
        const QLocale wanted(language);
        if (wanted.language() == QLocale::English) {
            return;
        }
        if (install(QStringLiteral("brightleaf_") + wanted.name(),
                    QStringLiteral(":/brightleaf/translations"))) {
            // Without Qt's own, only its dialogs stay in English.
            install(QStringLiteral("qtbase_") + wanted.name(),
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath));
            return;
        }
    }
}

}  // namespace bl::desktop
