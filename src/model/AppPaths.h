#pragma once
#include <QString>
#include <QStringList>

namespace pmx {

// Name of the state file; looked up case-sensitively.
inline constexpr char kStateFileName[] = "PMX31570A.ini";
// Folder of the CSV export inside the application directory.
inline constexpr char kCsvFolderName[] = "csvdata";

// The directory that holds the state file and "csvdata": $PMX31570A_HOME when set (tests,
// demos, portable installs), else the executable's directory when it is writable and not a
// system program folder, else the
// per-user application data directory (created when missing). Never empty.
QString applicationDirectory();

// Whether `dir` belongs to the system's own program folders (/usr/..., /opt/...), where a
// program installed by the package manager lives. Its files must not land there even when
// root could write them.
bool isSystemProgramDirectory(const QString& dir);
// applicationDirectory() + "/PMX31570A.ini".
QString stateFilePath();

// applicationDirectory() + "/csvdata".
QString csvFolderPath();

// The folder of the model definition files installed with the program
// (<prefix>/share/pmx31570a/models, beside <prefix>/bin or in a system data folder);
// empty when there is none.
QString installedModelsFolder();
QString installedModelsFolder(const QString& exeDir, const QStringList& dataDirs);
// Whether `dir` holds a model definition file (*.txt).
bool holdsModelFiles(const QString& dir);

// Creates "csvdata" in the application directory if it is missing. Returns whether the
// folder exists afterwards; callers go on either way.
bool ensureCsvFolder();

} // namespace pmx
