#pragma once

class QLocale;

namespace toolkit {

// Qt's own texts (the save dialog's buttons and labels, the standard
// buttons, the context menus of the boxes) in the language of `locale`,
// from the translations installed with Qt. True when they were found; a
// system without them shows Qt's English texts.
bool installQtTranslations(const QLocale &locale);

} // namespace toolkit
