#include "model/AppPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace pmx {

bool isSystemProgramDirectory(const QString& dir) {
    const QString path = QDir::cleanPath(dir);
    for (const char* prefix : {"/usr", "/opt"}) {
        const QString p = QLatin1String(prefix);
        if (path == p || path.startsWith(p + QLatin1Char('/')))
            return true;
    }
    return false;
}

QString applicationDirectory() {
    const QString home = qEnvironmentVariable("PMX31570A_HOME");
    if (!home.isEmpty()) {
        QDir().mkpath(home);
        return QDir(home).absolutePath();
    }
    const QString exeDir = QCoreApplication::applicationDirPath();
    if (!exeDir.isEmpty() && QFileInfo(exeDir).isWritable() && !isSystemProgramDirectory(exeDir))
        return exeDir;
    // Installed under a read-only prefix: keep the state file and exports per user.
    QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (data.isEmpty())
        data = QDir::homePath();
    QDir().mkpath(data);
    return data;
}

QString stateFilePath() {
    return QDir(applicationDirectory()).filePath(QLatin1String(kStateFileName));
}

QString csvFolderPath() {
    return QDir(applicationDirectory()).filePath(QLatin1String(kCsvFolderName));
}

QString installedModelsFolder(const QString& exeDir, const QStringList& dataDirs) {
    // Beside the installed program first (<prefix>/bin and <prefix>/share), then the
    // system's data folders.
    QStringList candidates;
    if (!exeDir.isEmpty())
        candidates << QDir(exeDir).filePath(QStringLiteral("../share/pmx31570a/models"));
    for (const QString& data : dataDirs)
        candidates << QDir(data).filePath(QStringLiteral("pmx31570a/models"));
    for (const QString& candidate : std::as_const(candidates))
        if (QFileInfo(candidate).isDir())
            return QDir::cleanPath(candidate);
    return {};
}

QString installedModelsFolder() {
    return installedModelsFolder(
        QCoreApplication::applicationDirPath(),
        QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation));
}

bool holdsModelFiles(const QString& dir) {
    return !QDir(dir).entryList({QStringLiteral("*.txt")}, QDir::Files | QDir::Readable).isEmpty();
}

bool ensureCsvFolder() {
    const QString path = csvFolderPath();
    if (QFileInfo(path).isDir())
        return true;
    return QDir().mkpath(path);
}

} // namespace pmx
