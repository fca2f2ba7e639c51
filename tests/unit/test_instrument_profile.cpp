// Instrument profiles: the strict reader (all or nothing, the line and the reason), where a
// profile is found, and what it changes in writes and comparisons. Without a profile the
// transfers must be exactly the plain ones.
#include "FakeComm.h"
#include "RecordingView.h"
#include "TestPrinters.h"
#include "model/InstrumentProfile.h"
#include "transfer/ProfileTransfers.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace pmx;

namespace {

QString shippedProfilePath() {
    return QStringLiteral(PMX_SOURCE_DIR "/resources/models/model-pmx31570a.profile");
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

TEST(InstrumentProfile, ShippedProfileReadsAndNamesTheLiveAndStatusItems) {
    const ProfileLoadResult r = loadProfile(shippedProfilePath());
    ASSERT_TRUE(r.ok()) << r.errorText(strings::Lang::English).toStdString();
    const InstrumentProfile& p = *r.profile;
    EXPECT_TRUE(p.isReadonly(0));
    for (int i = 1; i <= 5; ++i)
        EXPECT_TRUE(p.isLive(i)) << i;
    EXPECT_EQ(p.count(ItemKind::Live), 5);
    EXPECT_EQ(p.count(ItemKind::Readonly), 1);
    // The five leading items are settings: a write must still send them first.
    for (int i : kLeadingItems)
        EXPECT_FALSE(p.leftOutOfWrites(i)) << i;
    EXPECT_EQ(p.unit(0x38), QStringLiteral("ms"));
    EXPECT_FALSE(p.inItemRange(0x50, 9));
    EXPECT_TRUE(p.inItemRange(0x50, 8));
    EXPECT_TRUE(p.inItemRange(0x10, -32768)); // no range given: every value
    EXPECT_EQ(p.rangeText(0x50, strings::Lang::English), QStringLiteral("0 to 8"));
    EXPECT_EQ(p.rangeText(0x38, strings::Lang::English), QStringLiteral("from 0 ms"));
    EXPECT_FALSE(p.note(1, strings::Lang::Japanese).isEmpty());
}

TEST(InstrumentProfile, BrokenFilesAreRefusedWholeWithTheirLineAndReason) {
    struct Row {
        const char* text;
        ProfileProblem problem;
        int line;
    };
    const Row rows[] = {
        {"[0010]\nunit=V\nmin=1\nmax=0\n", ProfileProblem::MinAboveMax, 4},
        {"[0010]\nmax=0\n\nmin=1\n[0011]\n", ProfileProblem::MinAboveMax, 4},
        {"unit=V\n[0010]\n", ProfileProblem::KeyOutsideSection, 1},
        {"[0010]\n[0080]\n", ProfileProblem::BadSection, 2},
        {"[10]\n", ProfileProblem::BadSection, 1},
        {"[0010\n", ProfileProblem::BadSection, 1},
        {"[0010]\n[0010]\n", ProfileProblem::SectionTwice, 2},
        {"[0010]\nunits=V\n", ProfileProblem::UnknownKey, 2},
        {"[0010]\nUnit=V\n", ProfileProblem::UnknownKey, 2},
        {"[0010]\nunit=V\nunit=A\n", ProfileProblem::KeyTwice, 3},
        {"[0010]\nmin=32768\n", ProfileProblem::BadNumber, 2},
        {"[0010]\nmin=+5\n", ProfileProblem::BadNumber, 2},
        {"[0010]\nmax=0x10\n", ProfileProblem::BadNumber, 2},
        {"[0010]\nmax=\n", ProfileProblem::BadNumber, 2},
        {"[0010]\nmin=1.5\n", ProfileProblem::BadNumber, 2},
        {"[0010]\nkind=Live\n", ProfileProblem::BadKind, 2},
        {"[0010]\njust words\n", ProfileProblem::NotKeyValue, 2},
        {"[0010]\n=5\n", ProfileProblem::NotKeyValue, 2},
        {"[0010]\nunit=a very long unit text\n", ProfileProblem::TextTooLong, 2},
        {"[0010]\nnote=tab\there\n", ProfileProblem::TextTooLong, 2},
        {"[0010]\r\nunit=\xB0\x43\r\n", ProfileProblem::NotUtf8, 2},
    };
    for (const Row& row : rows) {
        const ProfileLoadResult r = parseProfile(QByteArray(row.text));
        EXPECT_FALSE(r.ok()) << row.text;
        EXPECT_EQ(r.problem, row.problem) << row.text;
        EXPECT_EQ(r.line, row.line) << row.text;
        for (auto lang : {strings::Lang::English, strings::Lang::Japanese}) {
            const QString text = r.errorText(lang);
            EXPECT_TRUE(text.contains(QString::number(row.line))) << text.toStdString();
        }
    }
    EXPECT_EQ(parseProfile(QByteArray(kProfileMaxBytes + 1, ';')).problem,
              ProfileProblem::TooLarge);
}

TEST(InstrumentProfile, GoodFilesReadAsWritten) {
    const ProfileLoadResult r =
        parseProfile("\xEF\xBB\xBF; comment\r\n# another\r\n[007f]\r\n  unit = \xC2\xB0"
                     "C  \r\n"
                     "min=-32768\r\nmax=32767\r\nkind=readonly\r\nnote=a=b\r\n\r\n[0000]\nnote.ja="
                     "\xE7\x8A\xB6\n");
    ASSERT_TRUE(r.ok()) << r.errorText(strings::Lang::English).toStdString();
    const ItemProfile& p = r.profile->items[0x7F];
    EXPECT_EQ(p.unit, QStringLiteral("°C"));
    EXPECT_EQ(p.min, qint16(-32768));
    EXPECT_EQ(p.max, qint16(32767));
    EXPECT_EQ(p.note, QStringLiteral("a=b"));
    EXPECT_EQ(r.profile->items[0].noteJa, QStringLiteral("状"));
    EXPECT_EQ(r.profile->items[0].kind, ItemKind::Setting);
    EXPECT_TRUE(parseProfile(QByteArray()).ok()); // an empty profile changes nothing
}

// Never applied in part: a bad line anywhere in a good profile refuses all of it, at that
// line.
TEST(InstrumentProfile, ABadLineAnywhereRefusesTheWholeProfileAtThatLine) {
    const QList<QByteArray> lines = readAll(shippedProfilePath()).split('\n');
    ASSERT_GT(lines.size(), 20);
    const QList<QByteArray> bad = {"[0080]",         "colour=red", "min=ten", "kind=sometimes",
                                   "no equals sign", "[0001",      "\xFF\xFE"};
    QRandomGenerator rng(26);
    for (int round = 0; round < 200; ++round) {
        QList<QByteArray> mutated = lines;
        // After the first section, so a key line is inside one.
        const int at = 7 + int(rng.bounded(int(lines.size()) - 7));
        mutated.insert(at, bad[rng.bounded(int(bad.size()))]);
        const ProfileLoadResult r = parseProfile(mutated.join('\n'));
        ASSERT_FALSE(r.ok()) << at;
        EXPECT_EQ(r.line, at + 1) << mutated[at].toStdString();
    }
}

TEST(InstrumentProfile, FoundBesideTheDefinitionThenByModelName) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QDir d(dir.path());
    ASSERT_TRUE(d.mkpath(QStringLiteral("profiles")) && d.mkpath(QStringLiteral("models")));
    const QStringList folders = {d.filePath(QStringLiteral("profiles")),
                                 d.filePath(QStringLiteral("models"))};
    EXPECT_EQ(profileCandidates(d.filePath(QStringLiteral("m/unit-a.txt")), QStringLiteral("X-1"),
                                folders),
              QStringList({d.filePath(QStringLiteral("m/unit-a.profile")),
                           d.filePath(QStringLiteral("profiles/X-1.profile")),
                           d.filePath(QStringLiteral("models/X-1.profile"))}));
    // A model name that would leave the folder is looked up beside the definition only.
    for (const char* name : {"../X", "a/b", ".hidden", "C:x", ""})
        EXPECT_EQ(
            profileCandidates(QStringLiteral("/m/u.txt"), QString::fromUtf8(name), folders).size(),
            1)
            << name;

    // By model name through a definition file of that name in the installed folder.
    qputenv("PMX31570A_HOME", dir.path().toUtf8());
    const QString models = QStringLiteral(PMX_SOURCE_DIR "/resources/models");
    ASSERT_TRUE(writeFile(d.filePath(QStringLiteral("profiles/PMX-31570A.profile")), "[0001]\n"));
    EXPECT_EQ(findProfile(QString(), QStringLiteral("PMX-31570A")),
              d.filePath(QStringLiteral("profiles/PMX-31570A.profile")));
    EXPECT_EQ(findProfile(models + QStringLiteral("/model-pmx31570a.txt"), QString()),
              shippedProfilePath());
    qunsetenv("PMX31570A_HOME");
}

// What is not a regular file is refused at once: a pipe nobody writes must not block.
TEST(InstrumentProfile, OnlyARegularFileIsRead) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QStringList paths{dir.path(), dir.filePath(QStringLiteral("missing.profile"))};
#ifdef Q_OS_UNIX
    const QString fifo = dir.filePath(QStringLiteral("pipe.profile"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    paths << fifo;
#endif
    for (const QString& path : paths) {
        const ProfileLoadResult r = loadProfile(path);
        EXPECT_EQ(r.problem, ProfileProblem::CannotOpen) << qPrintable(path);
        EXPECT_FALSE(r.errorText(strings::Lang::English).isEmpty()) << qPrintable(path);
    }
}

namespace {

struct Rig {
    Rig() {
        Conditions c;
        c.protocol = kProtocolKorvan;
        c.instrument = 1;
        com.setConditions(c);
        for (int i = 0; i < kItemCount; ++i)
            table.selections[i] = Selection::Selected;
    }
    ItemTable table;
    test::FakeComm com;
    test::RecordingView view;
    TransferContext ctx{table, com, view};
};

QList<int> addressesOf(const QStringList& log, const char* kind) {
    QList<int> out;
    for (const QString& line : log)
        if (line.startsWith(QLatin1String(kind)))
            out << line.mid(2, 4).toInt(nullptr, 16);
    return out;
}

} // namespace

TEST(ProfileTransfers, WithoutAProfileWritesAndComparesAreThePlainOnes) {
    Rig plain, withNone;
    writeAllItems(plain.ctx);
    int leftOut = -1;
    writeSettingItems(withNone.ctx, nullptr, &leftOut);
    EXPECT_EQ(withNone.com.log, plain.com.log);
    EXPECT_EQ(leftOut, 0);

    Rig a, b;
    const Comparison expected = compareWithInstrument(a.ctx);
    const Comparison got = compareSettingItems(b.ctx, nullptr, false, &leftOut);
    EXPECT_EQ(b.com.log, a.com.log);
    EXPECT_EQ(got.countsText(), expected.countsText());
    EXPECT_EQ(leftOut, 0);
}

// With a profile, a write sends the plain write's items in the plain order, less the live
// and readonly ones; a comparison reads and compares the rest too.
TEST(ProfileTransfers, LiveAndReadonlyItemsAreLeftOutInOrder) {
    InstrumentProfile profile;
    QRandomGenerator rng(2626);
    for (int round = 0; round < 20; ++round) {
        for (ItemProfile& p : profile.items)
            p.kind = ItemKind(rng.bounded(3));
        Rig plain, rig;
        for (int i = 0; i < kItemCount; ++i)
            plain.table.selections[i] = rig.table.selections[i] =
                rng.bounded(4) ? Selection::Selected : Selection::Cleared;
        writeAllItems(plain.ctx);
        int leftOut = 0;
        const TransferResult r = writeSettingItems(rig.ctx, &profile, &leftOut);
        QList<int> expected;
        for (int i : addressesOf(plain.com.log, "W"))
            if (!profile.leftOutOfWrites(i))
                expected << i;
        EXPECT_EQ(addressesOf(rig.com.log, "W"), expected);
        EXPECT_EQ(r.planned, expected);
        EXPECT_EQ(leftOut, addressesOf(plain.com.log, "W").size() - expected.size());

        Rig cmp;
        cmp.table.selections = rig.table.selections;
        for (int i = 0; i < kItemCount; ++i)
            cmp.table.values[i] = qint16(i * 10 + (profile.leftOutOfWrites(i) ? 1 : 0));
        int notCompared = 0;
        const Comparison c = compareSettingItems(cmp.ctx, &profile, false, &notCompared);
        EXPECT_EQ(c.count(ItemComparison::Outcome::Different), 0);
        for (int i : addressesOf(cmp.com.log, "R"))
            EXPECT_FALSE(profile.leftOutOfWrites(i)) << i;
        int live = 0;
        for (int i = 0; i < kItemCount; ++i)
            live += cmp.table.isSelected(i) && profile.leftOutOfWrites(i);
        EXPECT_EQ(notCompared, live);
        Rig all;
        all.table = cmp.table;
        const Comparison withLive = compareSettingItems(all.ctx, &profile, true, &notCompared);
        EXPECT_EQ(withLive.count(ItemComparison::Outcome::Different), live);
        EXPECT_EQ(notCompared, 0);
    }
}
