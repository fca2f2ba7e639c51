#include "ui/strings/StringTable.h"
#include <QLocale>

// Placeholder so the tree builds; the full table is filled in separately.
namespace pmx::strings {
namespace { Lang g_lang = Lang::English; }
Lang languageFromLocale() {
    return QLocale::system().language() == QLocale::Japanese ? Lang::Japanese : Lang::English;
}
void setLanguage(Lang lang) { g_lang = lang; }
Lang language() { return g_lang; }
QString text(int id) { return text(id, g_lang); }
QString text(int, Lang) { return {}; }
} // namespace pmx::strings
