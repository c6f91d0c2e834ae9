#pragma once

#include <QLocale>

// Qt's own texts (the standard buttons of message boxes and dialogs) in the
// desktop's language, as the platform's own dialogs speak it.
namespace QtTranslations {

// Installs Qt's translations for locale in place of any installed earlier;
// false when none are installed on this system for that locale.
bool install(const QLocale &locale = QLocale::system());

} // namespace QtTranslations
