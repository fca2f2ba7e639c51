#pragma once
// The change log: one JSON line per item written to an instrument, kept in the program's
// data folder, so that what was changed, when, by whom and on which instrument can be
// shown afterwards. The write sequences are its only writer (Sequences.cpp); the window
// and the command line read it (history, commissioning record).
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace pmx {

class CommObject;
class SettingsStore;

// "1" in the program's own section: every write reads each item just before writing it.
inline const QString kReadBeforeWrite = QStringLiteral("ReadBeforeWrite");
bool readBeforeWriteStored(const SettingsStore& store);

// What came of one item's write, as the record names it.
enum class ChangeOutcome {
    Confirmed,   // the instrument acknowledged it
    Verified,    // acknowledged, and the read-back holds the value written
    NotKept,     // acknowledged, but the read-back holds another value
    Refused,     // the instrument refused it (code: its error or exception code)
    Unconfirmed, // a Modbus broadcast: sent, nobody answers
    NoAnswer,    // nothing came back within the time-out
    Damaged,     // an answer came, but damaged: whether it was carried out is unknown
    Lost,        // the device went away during the write
};
QString outcomeName(ChangeOutcome outcome); // "confirmed", "not kept"...
std::optional<ChangeOutcome> outcomeFromName(const QString& name);

// Where the value before a write came from.
enum class KnownFrom {
    Read,            // the last read of the item in this run
    ReadBeforeWrite, // read just before the write ("read before write")
    Written,         // the last write the instrument confirmed in this run
};
// "last read", "read before write", "last written"
QString knownFromName(KnownFrom from);

// One record: one item written once.
struct ChangeRecord {
    QDateTime time;    // UTC; the local time with its offset is written beside it
    QString localTime; // as written (read back from a file); empty for a new record
    QString user;
    QString host;
    QString program;   // "1.0.1"
    QString transfer;  // id shared by the records of one transfer
    QString kind;      // "write", "item", "differences"
    QString tableFile; // the table file the values came from, empty when unknown
    QString port;
    QString device;
    QString protocol;
    int instrument = 0;
    int item = 0;
    QString name;
    std::optional<qint16> before;
    QString beforeFrom; // "read before write", "last read", or empty when unknown
    qint16 written = 0;
    ChangeOutcome outcome = ChangeOutcome::NoAnswer;
    QString code;                // Refused: the instrument's code ("03"), else empty
    std::optional<qint16> holds; // NotKept: what the read-back found

    // One line of JSON, without its line end.
    QByteArray toJson() const;
    // A line as written by toJson; nullopt for anything else (a torn or foreign line).
    static std::optional<ChangeRecord> fromJson(const QByteArray& line);
};

// The log files in one folder: "changes.jsonl", and older ones the size limit retired,
// "changes-<UTC time>.jsonl", which are kept. Lines are appended one write each under
// an exclusive lock, so records of the window and the command line never interleave; a
// line cut short by a kill is set aside on the next use (recover()).
class ChangeLog {
  public:
    explicit ChangeLog(const QString& folder);
    // The log of this run, in the program's data folder (applicationDirectory()).
    static ChangeLog& standard();

    QString folder() const { return m_folder; }
    QString path() const; // the current file

    // Before a write: sets a torn last line aside, retires a full file, and makes sure
    // `records` lines can be appended (space reserved where the file system allows).
    // Returns the operator's reason when the log cannot be written; the write must then
    // not start.
    QString prepare(int records);
    // Appends one record as one line. False with lastError() when it could not be written
    // whole (the file is cut back to its old end).
    bool append(const ChangeRecord& record);
    // Makes the appended lines durable (before the transfer's summary is shown).
    bool sync();
    QString lastError() const { return m_error; }

    // Sets a torn last line aside in a file of its own beside the log and cuts the log
    // back to its last whole line. Returns the operator's notice (naming that file) once,
    // or empty when there was nothing to set aside.
    QString recover();

    // A new transfer: a new id, and where its values came from.
    void beginTransfer(const QString& kind);
    QString transferId() const { return m_transfer; }
    void setTableFile(const QString& path) { m_tableFile = path; }
    QString tableFile() const { return m_tableFile; }

    // The last value read from (or known to be held by) an instrument in this run.
    void remember(const CommObject& com, int item, qint16 value, KnownFrom from);
    std::optional<qint16> lastKnown(const CommObject& com, int item) const;
    std::pair<std::optional<qint16>, KnownFrom> lastKnownWithSource(const CommObject& com,
                                                                    int item) const;
    // Forgets everything known of every instrument (tests).
    void forgetValues() { m_known.clear(); }

    // A record of an item about to be written, with everything but the outcome.
    ChangeRecord recordFor(const CommObject& com, int item, const QString& name,
                           qint16 written) const;

    // Files larger than this are retired before the next transfer.
    void setRotateBytes(qint64 bytes) { m_rotateBytes = bytes; }
    // The free space a file system offers (tests stand in a full disk); -1: unknown.
    void setSpaceProbe(std::function<qint64(const QString&)> probe) {
        m_spaceProbe = std::move(probe);
    }

  private:
    QString instrumentKey(const CommObject& com) const;
    bool retireIfFull(int fd);

    QString m_folder;
    QString m_error;
    QString m_transfer;
    QString m_kind;
    QString m_tableFile;
    qint64 m_rotateBytes = 4 * 1024 * 1024;
    std::function<qint64(const QString&)> m_spaceProbe;
    struct Known {
        qint16 value = 0;
        KnownFrom from = KnownFrom::Read;
    };
    QHash<QString, QHash<int, Known>> m_known;
};

// The log files of a folder, oldest first (retired ones, then the current one).
QStringList changeLogFiles(const QString& folder);

// Everything in the log files of a folder, oldest first. Lines that are not records are
// counted in *unreadable and skipped.
QList<ChangeRecord> readChangeHistory(const QString& folder, int* unreadable = nullptr);

// Which records a history view or report shows.
struct ChangeFilter {
    std::optional<int> instrument;
    std::optional<int> item;
    QDateTime since; // invalid: from the start
    QDateTime until; // invalid: to the end (exclusive)
    QString transfer;
    bool matches(const ChangeRecord& record) const;
};

} // namespace pmx
