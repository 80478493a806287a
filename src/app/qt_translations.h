#pragma once
// Qt's own texts (standard buttons, file panels, context menus) in Korean, like the rest of the
// program.

class QCoreApplication;
class QTranslator;

namespace brindlewick {

// Installs Qt's Korean translation on `app` from Qt's translations folder. Returns the installed
// translator (owned by `app`), or null when the translation is not there: Qt then speaks English.
QTranslator* installQtTranslations(QCoreApplication& app);

} // namespace brindlewick
