#pragma once
#include <QByteArray>
#include <QFile>
#include <QString>

#include "text/StringTable.h"

#include <memory>

namespace pmx {

// A file written all or nothing. Every write goes to the disk unbuffered, so a full disk
// or a size limit shows at the write that meets it rather than at a later flush, and
// the writer keeps the first failure's reason in the run's language. Until commit()
// nothing of the old file changes in a way that cancel() (or the destructor) cannot undo:
// - Replace: the bytes go to a temporary file beside the target, named by
//   temporaryName(); commit() syncs it, closes it and renames it over the target. The
//   target keeps its permissions; a symbolic link stays a link and its file is replaced;
//   a file without write permission is not replaced.
// - Append: the bytes go to the end of the file (created when missing); cancel() cuts it
//   back to its old length, or removes it when the writer created it. commit() syncs it.
// Errors: the reason never reads "Unknown error"; it is the system's, in our words where
// we have them (systemReason), inside the sentence of the step that failed: the file
// cannot be created, could not be written to the end, or could not take the old one's
// place. The path is not in it: callers name the file themselves.
class FileWriter {
  public:
    enum class Mode { Replace, Append };

    explicit FileWriter(const QString& path, Mode mode = Mode::Replace);
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // False, with errorText(), when the file (or its temporary) cannot be opened.
    bool open();
    // False once any step failed; later writes do nothing.
    bool write(const QByteArray& bytes);
    // Makes the written bytes the file's. False, with errorText(), when that failed; the
    // old file is then as it was before open().
    bool commit();
    // Undoes everything since open(); nothing is left of the write.
    void cancel();

    bool failed() const { return !m_error.isEmpty(); }
    QString errorText() const { return m_error; }
    // The reason alone, without the sentence of the step ("no space left on the disk").
    QString reason() const { return m_reason; }

  private:
    // Keeps the first failure: the sentence of `step` around `reason`.
    bool fail(TextId step, const QString& reason);
    // The same with the reason the file (or else errno) gives.
    bool failFromFile(TextId step, int savedErrno);

    QString m_path;   // the file the bytes are for (a link's target when path is a link)
    QString m_target; // the file as named
    Mode m_mode;
    std::unique_ptr<QFile> m_file;
    QString m_temporary; // Replace: the temporary file, while it exists
    qint64 m_oldSize = -1;
    bool m_created = false; // Append: the file did not exist before open()
    bool m_done = false;
    QString m_error;
    QString m_reason;
};

// Replaces path with data through a FileWriter. On failure returns false with the
// reason in *error; the old file stays byte for byte. Temporary files that earlier saves
// of path left when they were killed are removed first.
bool writeFileAtomically(const QString& path, const QByteArray& data, QString* error = nullptr);

// Appends data to path (created when missing) through a FileWriter: on failure the file
// is cut back to its old length (or removed when this call created it), and false comes
// with the reason in *error.
bool appendToFile(const QString& path, const QByteArray& data, QString* error = nullptr);

// The name of a temporary file of a save of `fileName` (a name without folder): a dot,
// the name, ".pmx-saving-" and six letters or digits, such as ".x.dat.pmx-saving-a1B2c3".
// No user names a file so, and it is the only kind removeStaleTemporaries removes.
QString temporaryName(const QString& fileName, const QString& sixLettersOrDigits);
bool isTemporaryOf(const QString& fileName, const QString& candidate);

// Removes the temporary files that saves of path left behind when they were killed
// before their rename (only files named by temporaryName, never a folder or a link).
// Returns how many were removed.
int removeStaleTemporaries(const QString& path);

} // namespace pmx
