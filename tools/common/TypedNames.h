#pragma once
// The names people type on a command line for what the conditions dialog offers: the
// short protocol names beside the stored entry texts, in any letter case. The command line
// and the virtual instrument both take them.
#include "comm/Conditions.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace pmx {

// "korvan", "ascii", "rtu": in the order of cond::protocolEntries().
inline const QStringList& protocolShortNames() {
    static const QStringList names{QStringLiteral("korvan"), QStringLiteral("ascii"),
                                   QStringLiteral("rtu")};
    return names;
}

// The protocol of a short name or an entry text ("Modbus RTU"), any letter case; nothing
// for any other text.
inline std::optional<ProtocolNumber> protocolFromTypedName(const QString& text) {
    const QString typed = text.trimmed();
    const QStringList entries = cond::protocolEntries();
    for (qsizetype k = 0; k < entries.size(); ++k) {
        if (typed.compare(entries[k], Qt::CaseInsensitive) == 0 ||
            typed.compare(protocolShortNames().value(k), Qt::CaseInsensitive) == 0)
            return cond::protocolFromText(entries[k]);
    }
    return std::nullopt;
}

} // namespace pmx
