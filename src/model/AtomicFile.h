#pragma once
#include <QByteArray>
#include <QString>

namespace pmx {

// Writes data to a temporary file beside path and renames it into place, so a failure at
// any point (cannot create, disk full, cannot rename) leaves the old file as it was.
// On failure returns false with a message naming the file in *error.
bool writeFileAtomically(const QString& path, const QByteArray& data, QString* error = nullptr);

} // namespace pmx
