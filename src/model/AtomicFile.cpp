#include "model/AtomicFile.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include "text/StringTable.h"
#include "text/SystemReason.h"

namespace pmx {

int removeStaleTemporaries(const QString& path) {
    const QFileInfo target(path);
    // The temporary file of a save is named after its target plus ".XXXXXX".
    const QRegularExpression own(QStringLiteral("^") +
                                 QRegularExpression::escape(target.fileName()) +
                                 QStringLiteral("\\.[A-Za-z0-9]{6}$"));
    QDir dir = target.absoluteDir();
    int removed = 0;
    const QStringList entries =
        dir.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks, QDir::NoSort);
    for (const QString& name : entries) {
        if (own.match(name).hasMatch() && dir.remove(name))
            ++removed;
    }
    return removed;
}

bool writeFileAtomically(const QString& path, const QByteArray& data, QString* error) {
    removeStaleTemporaries(path);
    QSaveFile file(path);
    auto failed = [&](TextId reason) {
        if (error)
            *error = strings::text(reason).arg(systemReason(file.errorString()));
        file.cancelWriting();
        return false;
    };
    if (!file.open(QIODevice::WriteOnly))
        return failed(TextId::FileNotCreated);
    if (file.write(data) != data.size())
        return failed(TextId::FileNotWrittenToEnd);
    if (!file.commit())
        return failed(file.error() == QFileDevice::RenameError ? TextId::FileNotReplaced
                                                               : TextId::FileNotWrittenToEnd);
    return true;
}

} // namespace pmx
