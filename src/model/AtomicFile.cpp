#include "model/AtomicFile.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include "text/SystemReason.h"

#include <cerrno>
#ifdef Q_OS_WIN
#include <filesystem>
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace pmx {

namespace {

const QLatin1String kMarker(".pmx-saving-");

QString randomSix() {
    static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString six;
    for (int k = 0; k < 6; ++k)
        six += QLatin1Char(kChars[QRandomGenerator::global()->bounded(int(sizeof kChars) - 1)]);
    return six;
}

// The file a write to `path` lands in: a symbolic link (or a chain of them) is followed,
// so that replacing the file keeps the link.
QString finalPath(const QString& path) {
    QString at = path;
    for (int hops = 0; hops < 40; ++hops) {
        const QFileInfo info(at);
        if (!info.isSymLink())
            break;
        at = info.symLinkTarget();
    }
    return at;
}

// The reason for errno `e` in our words, or the system's.
QString errnoText(int e) {
    return e != 0 ? errnoReason(e, strings::language()) : strings::text(TextId::ReasonIo);
}

// Writes what the system still holds of the file to the disk, so that a failing disk
// or a network folder reports here rather than after the rename. False with *error.
bool syncToDisk(QFile& file, int* error) {
#ifdef Q_OS_WIN
    const int fd = file.handle();
    if (fd < 0 || ::_commit(fd) == 0)
        return true;
    *error = errno;
    return false;
#else
    if (::fsync(file.handle()) == 0)
        return true;
    // A file system that cannot sync (a pseudo-file, some network folders) has the bytes
    // all the same.
    if (errno == EINVAL || errno == ENOTSUP)
        return true;
    *error = errno;
    return false;
#endif
}

// Renames over an existing file in one step. False with the reason.
bool renameOver(const QString& from, const QString& to, QString* reason) {
#ifdef Q_OS_WIN
    std::error_code ec;
    std::filesystem::rename(from.toStdWString(), to.toStdWString(), ec);
    if (!ec)
        return true;
    *reason = systemReason(QString::fromStdString(ec.message()));
    return false;
#else
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    *reason = errnoText(errno);
    return false;
#endif
}

// Makes the rename itself last through a power cut. The file is already in place, so a
// folder that cannot be synced changes nothing for it.
void syncFolder(const QString& path) {
#ifndef Q_OS_WIN
    const int fd = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(path);
#endif
}

} // namespace

QString temporaryName(const QString& fileName, const QString& sixLettersOrDigits) {
    return QLatin1Char('.') + fileName + kMarker + sixLettersOrDigits;
}

bool isTemporaryOf(const QString& fileName, const QString& candidate) {
    static const QString tail =
        QRegularExpression::escape(kMarker) + QStringLiteral("[A-Za-z0-9]{6}$");
    const QRegularExpression own(QStringLiteral("^\\.") + QRegularExpression::escape(fileName) +
                                 tail);
    return own.match(candidate).hasMatch();
}

int removeStaleTemporaries(const QString& path) {
    const QFileInfo target(path);
    QDir dir = target.absoluteDir();
    int removed = 0;
    const QStringList entries =
        dir.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks, QDir::NoSort);
    for (const QString& name : entries) {
        if (isTemporaryOf(target.fileName(), name) && dir.remove(name))
            ++removed;
    }
    return removed;
}

FileWriter::FileWriter(const QString& path, Mode mode)
    : m_path(finalPath(path)), m_target(path), m_mode(mode) {}

FileWriter::~FileWriter() {
    cancel();
}

bool FileWriter::fail(TextId step, const QString& reason) {
    if (m_error.isEmpty()) {
        m_error = strings::text(step).arg(reason);
        m_reason = reason;
    }
    return false;
}

bool FileWriter::failFromFile(TextId step, int savedErrno) {
    // QFile reports a write that stopped short as written, without an error: the next
    // write meets the cause. Where the file has no reason, errno has it.
    QString reason;
    if (m_file && m_file->error() != QFileDevice::NoError) {
        const QString given = m_file->errorString();
        if (!given.isEmpty() && given != QLatin1String("Unknown error"))
            reason = systemReason(given);
    }
    return fail(step, reason.isEmpty() ? errnoText(savedErrno) : reason);
}

bool FileWriter::open() {
    if (m_file || m_done)
        return false;
    const QFileInfo info(m_path);
    if (info.isDir())
        return fail(TextId::FileNotCreated, strings::text(TextId::ReasonFolderInTheWay));
    if (m_mode == Mode::Append) {
        m_created = !info.exists();
        m_file = std::make_unique<QFile>(m_path);
        errno = 0;
        if (!m_file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
            m_created = false; // nothing to remove
            return failFromFile(TextId::FileNotCreated, errno);
        }
        m_oldSize = m_file->size();
        return true;
    }
    // A file made read-only is kept so, although the folder would let it be replaced.
#ifdef Q_OS_WIN
    if (info.exists() && !info.isWritable())
        return fail(TextId::FileNotCreated, strings::text(TextId::ReasonPermission));
#else
    if (info.exists() && ::access(QFile::encodeName(m_path).constData(), W_OK) != 0)
        return fail(TextId::FileNotCreated, errnoText(errno));
#endif
    removeStaleTemporaries(m_path);
    const QDir dir = info.absoluteDir();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString temporary = dir.filePath(temporaryName(info.fileName(), randomSix()));
        m_file = std::make_unique<QFile>(temporary);
        errno = 0;
        if (m_file->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            m_temporary = temporary;
            // The new file reads and writes as the old one did.
            if (info.exists())
                m_file->setPermissions(info.permissions());
            return true;
        }
        // Only a name that is taken is tried again.
        const int e = errno;
        if (!QFileInfo::exists(temporary))
            return failFromFile(TextId::FileNotCreated, e);
    }
    return fail(TextId::FileNotCreated, errnoText(EEXIST));
}

bool FileWriter::write(const QByteArray& bytes) {
    if (failed() || m_done || !m_file || !m_file->isOpen())
        return false;
    const char* at = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        errno = 0;
        const qint64 n = m_file->write(at, left);
        if (n <= 0)
            return failFromFile(TextId::FileNotWrittenToEnd, errno);
        at += n;
        left -= n;
    }
    return true;
}

bool FileWriter::commit() {
    if (m_done || !m_file || !m_file->isOpen() || failed()) {
        cancel();
        return false;
    }
    int error = 0;
    if (!syncToDisk(*m_file, &error)) {
        fail(TextId::FileNotWrittenToEnd, errnoText(error));
        cancel();
        return false;
    }
    m_file->close();
    if (m_file->error() != QFileDevice::NoError) {
        failFromFile(TextId::FileNotWrittenToEnd, 0);
        cancel();
        return false;
    }
    if (m_mode == Mode::Replace) {
        QString reason;
        if (!renameOver(m_temporary, m_path, &reason)) {
            fail(TextId::FileNotReplaced, reason);
            cancel();
            return false;
        }
        m_temporary.clear();
        syncFolder(m_path);
    }
    m_done = true;
    return true;
}

void FileWriter::cancel() {
    if (m_done)
        return;
    m_done = true;
    if (!m_file)
        return;
    if (m_mode == Mode::Replace) {
        m_file->close();
        if (!m_temporary.isEmpty())
            QFile::remove(m_temporary);
        m_temporary.clear();
        return;
    }
    if (m_created) {
        m_file->close();
        QFile::remove(m_path);
        return;
    }
    // Back to the old length: what this writer added goes, whatever it was.
    if (m_oldSize < 0)
        return;
    if (m_file->isOpen()) {
        if (m_file->size() != m_oldSize) {
            m_file->resize(m_oldSize);
            int ignored = 0;
            syncToDisk(*m_file, &ignored);
        }
        m_file->close();
    } else if (QFileInfo(m_path).size() != m_oldSize) {
        QFile::resize(m_path, m_oldSize);
    }
}

bool writeFileAtomically(const QString& path, const QByteArray& data, QString* error) {
    FileWriter writer(path);
    const bool ok = writer.open() && writer.write(data) && writer.commit();
    if (!ok && error)
        *error = writer.errorText();
    return ok;
}

bool appendToFile(const QString& path, const QByteArray& data, QString* error) {
    FileWriter writer(path, FileWriter::Mode::Append);
    const bool ok = writer.open() && writer.write(data) && writer.commit();
    if (!ok && error)
        *error = writer.errorText();
    return ok;
}

} // namespace pmx
