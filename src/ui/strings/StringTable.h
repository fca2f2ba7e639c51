#pragma once
#include <QString>

namespace pmx::strings {

enum class Lang { English, Japanese };

// Japanese when the user's locale (LANG / LC_ALL / LC_MESSAGES) is Japanese,
// English for every other user. Decided once at start-up.
Lang languageFromLocale();

// The language of this run; English until set.
void setLanguage(Lang lang);
Lang language();

// Text of a string id in the run's language; empty for an unknown id.
QString text(int id);
QString text(int id, Lang lang);

} // namespace pmx::strings
