// The language of the window: our own translations, built into the program,
// and Qt's for its dialogs and standard buttons.
#pragma once

#include <QLocale>

namespace bl::desktop {

// Installs the translations for the first of the locale's languages that we
// ship, with Qt's own for the same language. An English language earlier in
// the list wins over any translation: the texts are written in English.
void installTranslations(const QLocale& locale = QLocale::system());

}  // namespace bl::desktop
