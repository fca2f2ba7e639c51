#include "text/SystemReason.h"

#include <QCoreApplication>

#include <cerrno>
#include <clocale>
#include <cstring>
#ifdef Q_OS_UNIX
#include <locale.h>
#endif

namespace pmx {

namespace {

struct ErrnoReason {
    int error;
    TextId reason;
};

// The errors an operator meets with files, serial devices and the disk.
const ErrnoReason kErrnoReasons[] = {
    {ENOENT, TextId::ReasonNoSuchFile},
    {EACCES, TextId::ReasonPermission},
    {EPERM, TextId::ReasonPermission},
    {ENOSPC, TextId::ReasonNoSpace},
    {EFBIG, TextId::ReasonFileTooLarge},
#ifdef EDQUOT
    {EDQUOT, TextId::ReasonQuota},
#endif
    {EROFS, TextId::ReasonReadOnly},
    {EISDIR, TextId::ReasonFolderInTheWay},
    {ENOTDIR, TextId::ReasonNotAFolder},
    {EBUSY, TextId::ReasonBusy},
    {EIO, TextId::ReasonIo},
    {ENODEV, TextId::ReasonNoDevice},
    {ENXIO, TextId::ReasonNoDevice},
    {EMFILE, TextId::ReasonTooManyFiles},
    {ENFILE, TextId::ReasonTooManyFiles},
    {ENAMETOOLONG, TextId::ReasonNameTooLong},
    {EEXIST, TextId::ReasonExists},
};

// Texts the toolkit gives in its own words rather than the C library's.
const struct {
    const char* context;
    const char* text;
    TextId reason;
} kToolkitTexts[] = {
    {"QIODevice", "No such file or directory", TextId::ReasonNoSuchFile},
    {"QIODevice", "Permission denied", TextId::ReasonPermission},
    {"QIODevice", "No space left on device", TextId::ReasonNoSpace},
    {"QIODevice", "File too large", TextId::ReasonFileTooLarge},
    {"QIODevice", "Too many open files", TextId::ReasonTooManyFiles},
    {"QSaveFile", "Filename refers to a directory", TextId::ReasonFolderInTheWay},
    {"QSerialPort", "Permission error while locking the device", TextId::ReasonNotLocked},
    {"QSerialPort", "Permission error while creating lock file", TextId::ReasonNotLocked},
    {"QSerialPort", "Failed to create a lock file for opening the device", TextId::ReasonNotLocked},
};

// The C library's text of an error: in the locale of the run and in plain English.
QStringList libraryTexts(int error) {
    QStringList texts{QString::fromLocal8Bit(std::strerror(error))};
#ifdef Q_OS_UNIX
    if (locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(nullptr))) {
        texts << QString::fromLocal8Bit(strerror_l(error, c));
        freelocale(c);
    }
#endif
    return texts;
}

} // namespace

QString errnoReason(int error, strings::Lang lang) {
    for (const ErrnoReason& r : kErrnoReasons) {
        if (r.error == error)
            return strings::text(r.reason, lang);
    }
    return QString::fromLocal8Bit(std::strerror(error));
}

QString systemReason(const QString& systemText) {
    return systemReason(systemText, strings::language());
}

QString systemReason(const QString& systemText, strings::Lang lang) {
    const QString given = systemText.trimmed();
    if (given.isEmpty())
        return systemText;
    for (const auto& t : kToolkitTexts) {
        if (given.compare(QLatin1String(t.text), Qt::CaseInsensitive) == 0 ||
            given == QCoreApplication::translate(t.context, t.text))
            return strings::text(t.reason, lang);
    }
    // "Existing file %1 is not writable" names the file: known by its frame.
    if (given.startsWith(QLatin1String("Existing file ")) &&
        given.endsWith(QLatin1String(" is not writable")))
        return strings::text(TextId::ReasonPermission, lang);
    for (const ErrnoReason& r : kErrnoReasons) {
        if (libraryTexts(r.error).contains(given, Qt::CaseInsensitive))
            return strings::text(r.reason, lang);
    }
    return systemText;
}

} // namespace pmx
