#pragma once
#include <QString>

namespace pmx {

// An item value as the operator reads it, on the pages, in the report, the CSV export and
// the command line: signed decimal, or in HEX mode the 16-bit two's complement in
// upper-case hex without leading zeros and with "h" (500 -> "1F4h", -1 -> "FFFFh",
// 0 -> "0h", -32768 -> "8000h"). Never depends on the user's locale.
QString formatValue(qint16 value, bool hex);

} // namespace pmx
