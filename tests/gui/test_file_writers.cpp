// Every file the program writes, on a hostile file system: a file-size limit (any user),
// a full disk and a read-only folder (a small tmpfs where the suite runs as root; a
// folder without write permission otherwise). Whatever happens, a write takes effect
// whole or not at all: the old file stays byte for byte, the reason is the system's,
// and the files beside the target (the user's own, however they are named) survive.
// A failing seed is printed; PMX_TEST_SEED=N replays it.
#include "TestPrinters.h"
#include "comm/ExchangeRecord.h"
#include "model/AtomicFile.h"
#include "model/StateFile.h"
#include "model/TableFile.h"
#include "report/CsvExport.h"
#include "report/ListData.h"
#include "report/ReportModel.h"
#include "report/render/ReportRenderer.h"
#include "text/StringTable.h"
#include "ui/MonitorWindow.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <sys/mount.h>
#endif

using namespace pmx;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

ItemTable sampleTable(quint32 seed) {
    QRandomGenerator random(seed);
    ItemTable t;
    t.modelName = QStringLiteral("PMX-31570A");
    for (int i = 0; i < kItemCount; ++i) {
        t.names[i] = QStringLiteral("項目 %1").arg(i);
        t.selections[i] = random.bounded(2) ? Selection::Selected : Selection::Cleared;
        t.values[i] = qint16(random.bounded(-32768, 32768));
    }
    return t;
}

// One of the program's writers: where it writes in a folder, and how.
struct Writer {
    const char* name;
    QString target; // the file's name in the folder
    bool appends;   // CSV exports add to the file; everything else replaces it
    std::function<bool(const QString& folder, QString* error)> write;
};

// The files a user may keep beside a target: backups, numbered copies, an editor's copy,
// and a name like the temporary files of other programs.
QStringList besideNames(const QString& target) {
    return {target + ".backup", target + ".orig01", target + ".bak",
            target + "~",       target + ".AbC123", target + ".2024v1"};
}

class Writers {
  public:
    explicit Writers(quint32 seed) : m_table(sampleTable(seed)), m_log(100) {
        fillListArrays(m_table, seed % 2 != 0, m_lists);
        for (int k = 0; k < 20; ++k) {
            ExchangeRecord r;
            r.request = QByteArrayLiteral("\x05"
                                          "01R0001");
            r.answer = QByteArrayLiteral("\x02"
                                         "01R00010063\x03");
            r.outcome = ExchangeOutcome::Good;
            m_log.exchanged(r);
        }
        m_monitor = std::make_unique<MonitorWindow>(
            m_log, [](const ExchangeRecord&) { return QStringLiteral("read 0001h"); },
            [] { return QString(); }, [](const QString&) {});
        m_monitor->refresh();
        const ReportModel report = ReportModel::build(m_lists, strings::Lang::Japanese);
        const auto table = m_table;
        const auto lists = m_lists;
        // Data files (Save, --out) are written as the state file is, and the comparison's
        // CSV is appended as the export is: one writer stands for each pair.
        m_all = {
            {"state file", QStringLiteral("PMX31570A.ini"), false,
             [table](const QString& folder, QString* e) {
                 return saveStateFile(folder, table, e);
             }},
            {"copy of a state file not loaded", QString::fromLatin1(kStateBackupName), false,
             [](const QString& folder, QString* e) { return keepStateFileCopy(folder, e); }},
            {"CSV export", QStringLiteral("list.csv"), true,
             [lists](const QString& folder, QString* e) {
                 return appendCsv(folder + "/list.csv", lists, strings::Lang::English, e);
             }},
            {"PDF", QStringLiteral("out.pdf"), false,
             [report](const QString& folder, QString* e) {
                 return ReportRenderer::renderPdf(report, folder + "/out.pdf", e);
             }},
            {"monitor text", QStringLiteral("monitor.txt"), false,
             [this](const QString& folder, QString* e) {
                 return m_monitor->saveText(folder + "/monitor.txt", e);
             }},
        };
    }
    const QList<Writer>& all() const { return m_all; }

    // What a writer's file holds when its write succeeds in `folder` (already laid out by
    // prepare()); the PDF's date changes no length.
    static QByteArray written(const Writer& w, const QString& folder) {
        return readAll(folder + "/" + w.target);
    }

    // Lays out a writer's folder: the old file (when `withOld`), the files beside it, a
    // temporary of an earlier save that was killed (when `killedSave`: its removal frees
    // room) and the state file the copy is of.
    static void prepare(const Writer& w, const QString& folder, bool withOld,
                        bool killedSave = true) {
        ASSERT_TRUE(QDir().mkpath(folder));
        if (withOld)
            writeBytes(folder + "/" + w.target, "old contents of " + w.target.toUtf8() + "\r\n");
        for (const QString& name : besideNames(w.target))
            writeBytes(folder + "/" + name, "the user's own " + name.toUtf8());
        if (killedSave)
            writeBytes(folder + "/" + temporaryName(w.target, "zzzzzz"), "killed mid-save");
        if (w.target == QLatin1String(kStateBackupName))
            writeBytes(folder + "/PMX31570A.ini", QByteArray(3000, 'S'));
    }

  private:
    ItemTable m_table;
    ListArrays m_lists;
    ExchangeLog m_log;
    std::unique_ptr<MonitorWindow> m_monitor;
    QList<Writer> m_all;
};

quint32 seedOfRun() {
    bool ok = false;
    const quint32 seed = qEnvironmentVariable("PMX_TEST_SEED").toUInt(&ok);
    return ok ? seed : 20261207u;
}

// Runs `f` under a file-size limit of `bytes` (SIGXFSZ ignored: a write past the limit
// fails with EFBIG instead of ending the process).
bool underSizeLimit(rlim_t bytes, const std::function<bool()>& f) {
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = old;
    limited.rlim_cur = std::min(bytes, old.rlim_max);
    setrlimit(RLIMIT_FSIZE, &limited);
    const bool ok = f();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    return ok;
}

// After a write in `folder`: what must hold whether it succeeded or not. `before` is the
// old file (null when there was none), `whole` what the file holds after a good write.
void expectAllOrNothing(const Writer& w, const QString& folder, bool ok, const QString& error,
                        const QByteArray& before, bool hadOld, const QByteArray& whole,
                        const QString& reason) {
    const QString path = folder + "/" + w.target;
    if (ok) {
        EXPECT_TRUE(error.isEmpty()) << error.toStdString();
        if (w.target == QLatin1String("out.pdf"))
            EXPECT_EQ(readAll(path).size(), whole.size());
        else
            EXPECT_EQ(readAll(path), whole);
    } else {
        EXPECT_TRUE(error.contains(reason)) << error.toStdString();
        EXPECT_FALSE(error.contains(QLatin1String("Unknown error"))) << error.toStdString();
        EXPECT_EQ(QFile::exists(path), hadOld);
        EXPECT_EQ(readAll(path), before) << "the old file stays byte for byte";
    }
    for (const QString& name : besideNames(w.target))
        EXPECT_EQ(readAll(folder + "/" + name), "the user's own " + name.toUtf8())
            << name.toStdString();
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
        if (name != temporaryName(w.target, "zzzzzz"))
            EXPECT_FALSE(isTemporaryOf(w.target, name)) << name.toStdString() << " left behind";
        else if (ok && !w.appends)
            ADD_FAILURE() << "a killed save's temporary stays after a good save";
    }
}

} // namespace

// A file-size limit anywhere from nothing to just short of the new file, and one it fits
// under; with and without an old file.
TEST(FileWriters, AllOrNothingUnderAFileSizeLimit) {
    const quint32 seed = seedOfRun();
    SCOPED_TRACE(testing::Message() << "PMX_TEST_SEED=" << seed);
    QRandomGenerator random(seed);
    Writers writers(seed);
    QTemporaryDir dir;
    int run = 0;
    for (const Writer& w : writers.all()) {
        SCOPED_TRACE(w.name);
        for (bool withOld : {true, false}) {
            // The new file, written without a fault.
            const QString free = dir.filePath(QStringLiteral("free%1").arg(++run));
            Writers::prepare(w, free, withOld);
            QString error;
            ASSERT_TRUE(w.write(free, &error)) << error.toStdString();
            // The size the file reaches, the old bytes included where they stay.
            const QByteArray whole = Writers::written(w, free);
            const qint64 needed = whole.size();
            const qint64 limits[] = {0, 1, 1 + random.bounded(needed - 1), needed - 1, needed};
            for (qint64 limit : limits) {
                SCOPED_TRACE(testing::Message() << "limit " << limit << " of " << needed);
                const QString folder = dir.filePath(QStringLiteral("limit%1").arg(++run));
                Writers::prepare(w, folder, withOld);
                const QByteArray before = readAll(folder + "/" + w.target);
                error.clear();
                const bool ok =
                    underSizeLimit(rlim_t(limit), [&] { return w.write(folder, &error); });
                EXPECT_EQ(ok, limit >= needed) << error.toStdString();
                expectAllOrNothing(w, folder, ok, error, before, withOld, whole,
                                   strings::text(TextId::ReasonFileTooLarge));
            }
        }
    }
}

#ifdef Q_OS_LINUX
// A tmpfs of its own, mounted for the test (root only).
class SmallDisk {
  public:
    SmallDisk() {
        if (::geteuid() == 0)
            m_mounted = ::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", 0,
                                "size=512k") == 0;
    }
    ~SmallDisk() {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }
    QString path() const { return m_dir.path(); }
    // Takes every free byte (tmpfs counts whole pages: a file's last page may still take
    // a few bytes).
    void fill() {
        QFile filler(m_dir.filePath("filler"));
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray page(4096, 'f');
        while (filler.write(page) == page.size()) {
        }
        const QByteArray byte(1, 'f');
        while (filler.write(byte) == 1) {
        }
    }
    bool makeReadOnly() {
        return ::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs",
                       MS_REMOUNT | MS_RDONLY, "size=512k") == 0;
    }

  private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
};
#endif

// A full disk and a read-only folder: every write fails whole with the system's reason,
// except an append whose bytes still fit (then it is whole).
TEST(FileWriters, AllOrNothingOnAFullDiskAndInAReadOnlyFolder) {
#ifndef Q_OS_LINUX
    GTEST_SKIP() << "Linux only";
#else
    const quint32 seed = seedOfRun();
    Writers writers(seed);
    QTemporaryDir scratch;
    QMap<QString, QByteArray> whole;
    for (const Writer& w : writers.all()) {
        const QString free = scratch.filePath(w.target);
        Writers::prepare(w, free, true);
        QString error;
        ASSERT_TRUE(w.write(free, &error)) << error.toStdString();
        whole[w.name] = Writers::written(w, free);
    }
    int faults = 0;
    for (bool full : {true, false}) {
        SCOPED_TRACE(full ? "full disk" : "read-only folder");
        SmallDisk disk;
        QTemporaryDir plain;
        const bool root = disk.mounted();
        if (!root && (full || ::geteuid() == 0))
            continue; // a full disk needs a tmpfs of its own; root writes in any folder
        ++faults;
        const QString base = root ? disk.path() : plain.path();
        for (const Writer& w : writers.all())
            Writers::prepare(w, base + "/" + w.name, true, false);
        if (full)
            disk.fill();
        else if (root)
            ASSERT_TRUE(disk.makeReadOnly());
        else
            for (const Writer& w : writers.all())
                QFile::setPermissions(base + "/" + w.name,
                                      QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        const QString reason = strings::text(full   ? TextId::ReasonNoSpace
                                             : root ? TextId::ReasonReadOnly
                                                    : TextId::ReasonPermission);
        for (const Writer& w : writers.all()) {
            SCOPED_TRACE(w.name);
            const QString folder = base + "/" + w.name;
            const QByteArray before = readAll(folder + "/" + w.target);
            QString error;
            const bool ok = w.write(folder, &error);
            if (!w.appends) {
                EXPECT_FALSE(ok) << "a new file needs room";
            }
            const QByteArray after =
                w.appends ? before + whole[w.name].mid(before.size()) : whole[w.name];
            expectAllOrNothing(w, folder, ok, error, before, true, after, reason);
        }
        if (!root)
            for (const Writer& w : writers.all())
                QFile::setPermissions(base + "/" + w.name, QFileDevice::ReadOwner |
                                                               QFileDevice::WriteOwner |
                                                               QFileDevice::ExeOwner);
    }
    if (faults == 0)
        GTEST_SKIP() << "root without a tmpfs of its own: no fault to make";
#endif
}
