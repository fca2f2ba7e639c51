#pragma once
#include "text/StringTable.h"

#include <QString>

namespace pmx {

// The reason the system or the toolkit gave for a failed file, device or network
// operation, as the operator reads it: the common ones in our own words in the run's
// language, anything else as it was given.
QString systemReason(const QString& systemText);
QString systemReason(const QString& systemText, strings::Lang lang);

// The reason for an error number (errno), in our words where we have them.
QString errnoReason(int error, strings::Lang lang);

} // namespace pmx
