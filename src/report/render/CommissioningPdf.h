#pragma once
#include "transfer/Commissioning.h"

#include <QByteArray>
#include <QString>

namespace pmx {

// The commissioning record as a PDF: title, header, the rows in a table that goes on
// over as many pages as it needs, "Page n of m" on each. The bytes, or written to `path`
// whole or not at all. False with `error` when it could not be made.
bool commissioningPdf(const CommissioningSheet& sheet, QByteArray* pdf, QString* error = nullptr);
bool commissioningPdf(const CommissioningSheet& sheet, const QString& path,
                      QString* error = nullptr);

} // namespace pmx
