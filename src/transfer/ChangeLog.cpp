#include "transfer/ChangeLog.h"

#include "comm/CommObject.h"
#include "comm/Conditions.h"
#include "model/AppPaths.h"
#include "model/AtomicFile.h"
#include "pmx_version.h"
#include "text/StringTable.h"
#include "text/SystemReason.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QStorageInfo>
#include <QSysInfo>
#include <QTimeZone>

#include <cerrno>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pmx {

namespace {

constexpr char kCurrentName[] = "changes.jsonl";
// A record is a few hundred bytes; this much is reserved per record before a write.
constexpr qint64 kBytesPerRecord = 2048;

struct OutcomeName {
    ChangeOutcome outcome;
    const char* name;
};
constexpr OutcomeName kOutcomeNames[] = {
    {ChangeOutcome::Confirmed, "confirmed"},
    {ChangeOutcome::Verified, "verified"},
    {ChangeOutcome::NotKept, "not kept"},
    {ChangeOutcome::Refused, "refused"},
    {ChangeOutcome::Unconfirmed, "broadcast not confirmed"},
    {ChangeOutcome::NoAnswer, "no answer"},
    {ChangeOutcome::Damaged, "answer damaged"},
    {ChangeOutcome::Lost, "lost"},
};

QString userName() {
    for (const char* name : {"USER", "LOGNAME", "USERNAME"})
        if (const QString user = qEnvironmentVariable(name); !user.isEmpty())
            return user;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_name)
        return QString::fromLocal8Bit(entry->pw_name);
    return QString::number(::getuid());
}

// The file's lock is held for the lifetime of this object.
class FileLock {
  public:
    explicit FileLock(int fd) : m_fd(fd) {
        while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~FileLock() { ::flock(m_fd, LOCK_UN); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

  private:
    int m_fd;
};

class Fd {
  public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

  private:
    int m_fd;
};

int openLog(const QString& path) {
    return ::open(QFile::encodeName(path).constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC,
                  0644);
}

bool writeAll(int fd, const char* data, qsizetype size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

QString reasonOf(int error) {
    return errnoReason(error, strings::language());
}

QJsonValue optionalValue(const std::optional<qint16>& value) {
    return value ? QJsonValue(int(*value)) : QJsonValue(QJsonValue::Null);
}

QJsonValue optionalText(const QString& text) {
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

std::optional<qint16> valueOf(const QJsonValue& v, bool* ok) {
    if (v.isNull() || v.isUndefined())
        return std::nullopt;
    const double d = v.toDouble(1e9);
    if (!v.isDouble() || d < -32768 || d > 32767 || d != double(qint64(d))) {
        *ok = false;
        return std::nullopt;
    }
    return qint16(d);
}

} // namespace

bool readBeforeWriteStored(const SettingsStore& store) {
    return cond::optionValue(store, kReadBeforeWrite, QStringLiteral("0")) == QLatin1String("1");
}

QString knownFromName(KnownFrom from) {
    switch (from) {
    case KnownFrom::ReadBeforeWrite:
        return QStringLiteral("read before write");
    case KnownFrom::Written:
        return QStringLiteral("last written");
    case KnownFrom::Read:
        break;
    }
    return QStringLiteral("last read");
}

QString outcomeName(ChangeOutcome outcome) {
    for (const OutcomeName& o : kOutcomeNames)
        if (o.outcome == outcome)
            return QLatin1String(o.name);
    return {};
}

std::optional<ChangeOutcome> outcomeFromName(const QString& name) {
    for (const OutcomeName& o : kOutcomeNames)
        if (name == QLatin1String(o.name))
            return o.outcome;
    return std::nullopt;
}

// Keys in a fixed order, so that a line reads the same every time: QJsonObject sorts
// them, which would scatter the record's parts.
QByteArray ChangeRecord::toJson() const {
    const QDateTime utc = time.toUTC();
    const QDateTime here = utc.toLocalTime();
    const QString local =
        !localTime.isEmpty()
            ? localTime
            : here.toOffsetFromUtc(here.offsetFromUtc()).toString(Qt::ISODateWithMs);
    const std::pair<const char*, QJsonValue> fields[] = {
        {"time", utc.toString(Qt::ISODateWithMs)},
        {"local_time", local},
        {"user", user},
        {"host", host},
        {"program", program},
        {"transfer", transfer},
        {"kind", kind},
        {"table_file", optionalText(tableFile)},
        {"port", port},
        {"device", optionalText(device)},
        {"protocol", protocol},
        {"instrument", instrument},
        {"item", QStringLiteral("%1").arg(item, 4, 16, QLatin1Char('0')).toUpper()},
        {"name", name},
        {"before", optionalValue(before)},
        {"before_from", optionalText(beforeFrom)},
        {"written", int(written)},
        {"outcome", outcomeName(outcome)},
        {"code", optionalText(code)},
        {"holds", optionalValue(holds)},
    };
    QByteArray line = "{";
    bool first = true;
    for (const auto& [key, value] : fields) {
        if (!first)
            line += ',';
        first = false;
        // One value as its own document gives its JSON text with every escape.
        QJsonObject one{{QLatin1String(key), value}};
        QByteArray text = QJsonDocument(one).toJson(QJsonDocument::Compact);
        line += text.mid(1, text.size() - 2);
    }
    line += '}';
    return line;
}

std::optional<ChangeRecord> ChangeRecord::fromJson(const QByteArray& line) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    ChangeRecord r;
    r.time = QDateTime::fromString(o.value(QLatin1String("time")).toString(), Qt::ISODateWithMs);
    if (!r.time.isValid())
        return std::nullopt;
    r.time = r.time.toUTC();
    r.localTime = o.value(QLatin1String("local_time")).toString();
    r.user = o.value(QLatin1String("user")).toString();
    r.host = o.value(QLatin1String("host")).toString();
    r.program = o.value(QLatin1String("program")).toString();
    r.transfer = o.value(QLatin1String("transfer")).toString();
    r.kind = o.value(QLatin1String("kind")).toString();
    r.tableFile = o.value(QLatin1String("table_file")).toString();
    r.port = o.value(QLatin1String("port")).toString();
    r.device = o.value(QLatin1String("device")).toString();
    r.protocol = o.value(QLatin1String("protocol")).toString();
    r.instrument = o.value(QLatin1String("instrument")).toInt(-1);
    bool ok = false;
    r.item = o.value(QLatin1String("item")).toString().toInt(&ok, 16);
    if (!ok || r.item < 0 || r.item > 0xFFFF || r.instrument < 0)
        return std::nullopt;
    r.name = o.value(QLatin1String("name")).toString();
    ok = true;
    r.before = valueOf(o.value(QLatin1String("before")), &ok);
    r.beforeFrom = o.value(QLatin1String("before_from")).toString();
    const std::optional<qint16> written = valueOf(o.value(QLatin1String("written")), &ok);
    r.holds = valueOf(o.value(QLatin1String("holds")), &ok);
    const std::optional<ChangeOutcome> outcome =
        outcomeFromName(o.value(QLatin1String("outcome")).toString());
    if (!ok || !written || !outcome)
        return std::nullopt;
    r.written = *written;
    r.outcome = *outcome;
    r.code = o.value(QLatin1String("code")).toString();
    return r;
}

ChangeLog::ChangeLog(const QString& folder) : m_folder(folder) {}

ChangeLog& ChangeLog::standard() {
    static ChangeLog log(applicationDirectory());
    // The data folder as it is now ($PMX31570A_HOME may change between a test's windows).
    log.m_folder = applicationDirectory();
    return log;
}

QString ChangeLog::path() const {
    return QDir(m_folder).filePath(QLatin1String(kCurrentName));
}

QString ChangeLog::recover() {
    const QString current = path();
    Fd fd(::open(QFile::encodeName(current).constData(), O_RDWR | O_CLOEXEC));
    if (fd.get() < 0)
        return {}; // nothing written yet, or nothing we could set aside: prepare() tells
    FileLock lock(fd.get());
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || st.st_size == 0)
        return {};
    // Back from the end to the last line end: everything after it is a torn line.
    qint64 end = st.st_size;
    qint64 keep = 0;
    char buffer[4096];
    for (qint64 at = end; at > 0;) {
        const qint64 chunk = std::min<qint64>(at, sizeof buffer);
        at -= chunk;
        if (::pread(fd.get(), buffer, size_t(chunk), at) != chunk)
            return {};
        qint64 k = chunk;
        while (k > 0 && buffer[k - 1] != '\n')
            --k;
        if (k > 0) {
            keep = at + k;
            break;
        }
    }
    if (keep == end)
        return {};
    QByteArray torn(end - keep, '\0');
    if (::pread(fd.get(), torn.data(), size_t(torn.size()), keep) != torn.size())
        return {};
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    QString aside = QDir(m_folder).filePath(QStringLiteral("changes.torn-%1.jsonl").arg(stamp));
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside =
            QDir(m_folder).filePath(QStringLiteral("changes.torn-%1-%2.jsonl").arg(stamp).arg(n));
    // Kept before the log is cut: a failure here leaves the log as it was.
    if (!writeFileAtomically(aside, torn + '\n'))
        return {};
    if (::ftruncate(fd.get(), off_t(keep)) != 0 || ::fsync(fd.get()) != 0)
        return {};
    return strings::text(TextId::ChangeLogTornSetAside).arg(QDir::toNativeSeparators(aside));
}

bool ChangeLog::retireIfFull(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size < m_rotateBytes)
        return true;
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmsszzz'Z'"));
    // A number after the time keeps the names in their order within one millisecond.
    QString retired;
    for (int n = 1; retired.isEmpty() || QFileInfo::exists(retired); ++n)
        retired = QDir(m_folder).filePath(
            QStringLiteral("changes-%1-%2.jsonl").arg(stamp).arg(n, 4, 10, QLatin1Char('0')));
    // The old file keeps every line under its new name; the next append creates the new.
    if (::rename(QFile::encodeName(path()).constData(), QFile::encodeName(retired).constData()) !=
        0) {
        m_error = reasonOf(errno);
        return false;
    }
    return true;
}

QString ChangeLog::prepare(int records) {
    m_error.clear();
    const QString current = path();
    const auto refuse = [&](const QString& reason) {
        m_error = reason;
        return strings::text(TextId::ChangeLogCannotWrite)
            .arg(QDir::toNativeSeparators(current), reason);
    };
    if (!QDir().mkpath(m_folder))
        return refuse(reasonOf(QFileInfo(m_folder).exists() ? ENOTDIR : EACCES));
    {
        Fd fd(openLog(current));
        if (fd.get() < 0)
            return refuse(reasonOf(errno));
        FileLock lock(fd.get());
        if (!retireIfFull(fd.get()))
            return refuse(m_error);
    }
    Fd fd(openLog(current));
    if (fd.get() < 0)
        return refuse(reasonOf(errno));
    // Writable at all: the kernel checks the permission at open, a read-only file system
    // at the first write, so one empty write asks.
    if (::write(fd.get(), "", 0) < 0)
        return refuse(reasonOf(errno));
    const qint64 needed = qint64(std::max(records, 1)) * kBytesPerRecord;
    if (m_spaceProbe) {
        const qint64 free = m_spaceProbe(m_folder);
        if (free >= 0 && free < needed)
            return refuse(reasonOf(ENOSPC));
    }
    struct stat st {};
    ::fstat(fd.get(), &st);
#ifdef FALLOC_FL_KEEP_SIZE
    // Space for the records, kept past the end of the file: the appends cannot then find
    // the disk full.
    if (::fallocate(fd.get(), FALLOC_FL_KEEP_SIZE, st.st_size, needed) == 0)
        return {};
    if (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)
        return refuse(reasonOf(errno));
#endif
    const QStorageInfo storage(m_folder);
    if (storage.isValid() && storage.isReadOnly())
        return refuse(reasonOf(EROFS));
    if (storage.isValid() && storage.bytesAvailable() >= 0 && storage.bytesAvailable() < needed)
        return refuse(reasonOf(ENOSPC));
    return {};
}

bool ChangeLog::append(const ChangeRecord& record) {
    m_error.clear();
    const QByteArray line = record.toJson() + '\n';
    Fd fd(openLog(path()));
    if (fd.get() < 0) {
        m_error = reasonOf(errno);
        return false;
    }
    FileLock lock(fd.get());
    struct stat st {};
    const bool sized = ::fstat(fd.get(), &st) == 0;
    if (!writeAll(fd.get(), line.constData(), line.size())) {
        m_error = reasonOf(errno);
        if (sized)
            (void)!::ftruncate(fd.get(), st.st_size); // no part of a line stays behind
        return false;
    }
    return true;
}

bool ChangeLog::sync() {
    Fd fd(::open(QFile::encodeName(path()).constData(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return true; // nothing was written
    if (::fsync(fd.get()) != 0) {
        m_error = reasonOf(errno);
        return false;
    }
    // The folder too, so that a new or retired file's name survives a power cut.
    Fd dir(::open(QFile::encodeName(m_folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
    return true;
}

void ChangeLog::beginTransfer(const QString& kind) {
    m_kind = kind;
    m_transfer = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'-")) +
                 QString::number(QRandomGenerator::global()->generate() & 0xFFFFFF, 16)
                     .rightJustified(6, QLatin1Char('0'));
}

QString ChangeLog::instrumentKey(const CommObject& com) const {
    const Conditions& c = com.conditions();
    const QString device = com.lastDevice().isEmpty() ? c.port : com.lastDevice();
    return device + QLatin1Char('|') + QString::number(c.protocol) + QLatin1Char('|') +
           QString::number(c.instrument);
}

void ChangeLog::remember(const CommObject& com, int item, qint16 value, KnownFrom from) {
    m_known[instrumentKey(com)][item] = Known{value, from};
}

std::pair<std::optional<qint16>, KnownFrom> ChangeLog::lastKnownWithSource(const CommObject& com,
                                                                           int item) const {
    const auto instrument = m_known.constFind(instrumentKey(com));
    if (instrument == m_known.constEnd())
        return {std::nullopt, KnownFrom::Read};
    const auto known = instrument->constFind(item);
    if (known == instrument->constEnd())
        return {std::nullopt, KnownFrom::Read};
    return {known->value, known->from};
}

std::optional<qint16> ChangeLog::lastKnown(const CommObject& com, int item) const {
    return lastKnownWithSource(com, item).first;
}

ChangeRecord ChangeLog::recordFor(const CommObject& com, int item, const QString& name,
                                  qint16 written) const {
    static const QString user = userName();
    static const QString host = QSysInfo::machineHostName();
    ChangeRecord r;
    r.time = QDateTime::currentDateTimeUtc();
    r.user = user;
    r.host = host;
    r.program = QStringLiteral(PMX_VERSION_STRING);
    r.transfer = m_transfer;
    r.kind = m_kind;
    r.tableFile = m_tableFile;
    const Conditions& c = com.conditions();
    r.port = c.port;
    r.device = com.lastDevice();
    r.protocol = cond::protocolEntries().value(c.protocol);
    r.instrument = c.instrument;
    r.item = item;
    r.name = name;
    r.written = written;
    return r;
}

QStringList changeLogFiles(const QString& folder) {
    const QDir dir(folder);
    QStringList files;
    // The retired files' names sort by their time.
    for (const QString& name :
         dir.entryList({QStringLiteral("changes-*.jsonl")}, QDir::Files, QDir::Name))
        files << dir.filePath(name);
    if (QFileInfo::exists(dir.filePath(QLatin1String(kCurrentName))))
        files << dir.filePath(QLatin1String(kCurrentName));
    return files;
}

QList<ChangeRecord> readChangeHistory(const QString& folder, int* unreadable) {
    QList<ChangeRecord> records;
    int bad = 0;
    for (const QString& path : changeLogFiles(folder)) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            ++bad;
            continue;
        }
        const QByteArray all = file.readAll();
        for (const QByteArray& line : all.split('\n')) {
            if (line.trimmed().isEmpty())
                continue;
            if (const std::optional<ChangeRecord> r = ChangeRecord::fromJson(line))
                records << *r;
            else
                ++bad;
        }
    }
    std::stable_sort(records.begin(), records.end(),
                     [](const ChangeRecord& a, const ChangeRecord& b) { return a.time < b.time; });
    if (unreadable)
        *unreadable = bad;
    return records;
}

bool ChangeFilter::matches(const ChangeRecord& r) const {
    if (instrument && r.instrument != *instrument)
        return false;
    if (item && r.item != *item)
        return false;
    if (since.isValid() && r.time < since)
        return false;
    if (until.isValid() && r.time >= until)
        return false;
    return transfer.isEmpty() || r.transfer == transfer;
}

} // namespace pmx
