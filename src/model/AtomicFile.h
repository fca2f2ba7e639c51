#pragma once
#include <QByteArray>
#include <QString>

namespace pmx {

// Writes data to a temporary file beside path and renames it into place, so a failure at
// any point (cannot create, disk full, cannot rename) leaves the old file as it was.
// Temporary files an earlier save of the same path left behind when it was killed
// (path + "." + six letters or digits) are removed first.
// On failure returns false with the reason in the run's language in *error (without the
// path: callers name the file themselves).
bool writeFileAtomically(const QString& path, const QByteArray& data, QString* error = nullptr);

// Removes path + "." + six letters or digits beside path: the temporary files of saves of
// path that were interrupted before their rename. Returns how many were removed.
int removeStaleTemporaries(const QString& path);

} // namespace pmx
