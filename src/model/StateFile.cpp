#include "model/StateFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "model/AppPaths.h"
#include "model/AtomicFile.h"
#include "model/TableFile.h"
#include "text/StringTable.h"
#include "text/SystemReason.h"

namespace pmx {

bool loadStateFile(const QString& dir, ItemTable& table, QList<int>* selectionsRead, QString* error,
                   bool* found) {
    if (selectionsRead)
        selectionsRead->clear();
    if (found)
        *found = false;
    const QString name = QLatin1String(kStateFileName);
    // A directory listing tells the stored spelling of the name; QFile::exists would
    // accept "pmx31570a.ini" on a case-insensitive file system.
    const QStringList entries =
        QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::NoSort);
    if (!entries.contains(name, Qt::CaseSensitive))
        return true;
    if (found)
        *found = true;

    const TableReadResult result =
        loadTableFile(QDir(dir).filePath(name), table, TableReadMode::Partial);
    if (selectionsRead)
        *selectionsRead = result.selectionsRead;
    if (!result.ok && error)
        *error = result.errorText(strings::language());
    return result.ok;
}

bool keepStateFileCopy(const QString& dir, QString* error) {
    const QDir folder(dir);
    const QString original = folder.filePath(QLatin1String(kStateFileName));
    const QString copy = folder.filePath(QLatin1String(kStateBackupName));
    if (!QFileInfo::exists(original))
        return true;
    // The copy replaces an older one only once it is whole: should it fail, the older copy
    // and the state file itself are both still there, and the save that would replace the
    // state file does not happen.
    auto failed = [&](const QString& reason) {
        if (error)
            *error =
                strings::text(TextId::CopyNotKept).arg(QLatin1String(kStateBackupName), reason);
        return false;
    };
    QFile source(original);
    if (!source.open(QIODevice::ReadOnly))
        return failed(systemReason(source.errorString()));
    FileWriter writer(copy);
    if (!writer.open())
        return failed(writer.reason());
    while (!source.atEnd()) {
        const QByteArray block = source.read(64 * 1024);
        if (source.error() != QFileDevice::NoError)
            return failed(systemReason(source.errorString()));
        if (!writer.write(block))
            return failed(writer.reason());
    }
    return writer.commit() || failed(writer.reason());
}

bool saveStateFile(const QString& dir, const ItemTable& table, QString* error) {
    return saveTableFile(QDir(dir).filePath(QLatin1String(kStateFileName)), table, error);
}

} // namespace pmx
