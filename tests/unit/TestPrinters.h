#pragma once
// Test output a person can read: bytes as hex text, Qt strings as text with control
// characters escaped, and the three protocols by name in parameterised tests.
#include "comm/Conditions.h"

#include <QByteArray>
#include <QString>
#include <gtest/gtest.h>
#include <ostream>
#include <string>

inline std::string hexText(const QByteArray& bytes) {
    return bytes.toHex(' ').toUpper().toStdString();
}

// gtest finds these through argument-dependent lookup: the Qt types are global.
inline void PrintTo(const QByteArray& bytes, std::ostream* os) {
    *os << '[' << hexText(bytes) << ']';
}
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"';
    for (const QChar c : text)
        if (c.unicode() < 0x20)
            *os << "\\x" << QByteArray::number(c.unicode(), 16).rightJustified(2, '0').constData();
        else
            *os << QString(c).toStdString();
    *os << '"';
}
inline void PrintTo(QLatin1String text, std::ostream* os) {
    PrintTo(QString(text), os);
}

namespace pmx::test {

struct ProtocolCase {
    qint16 no;
    const char* name; // as the virtual instrument's --protocol spells it
};
inline void PrintTo(const ProtocolCase& p, std::ostream* os) {
    *os << p.name;
}
inline constexpr ProtocolCase kProtocolCases[] = {
    {kProtocolKorvan, "korvan"}, {kProtocolModbusAscii, "ascii"}, {kProtocolModbusRtu, "rtu"}};
inline auto allProtocols() {
    return ::testing::ValuesIn(kProtocolCases);
}

} // namespace pmx::test
