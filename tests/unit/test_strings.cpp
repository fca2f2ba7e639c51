#include "TestPrinters.h"
#include "TextsOfRecord.h"
#include "text/StringTable.h"
#include "text/SystemReason.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

#include <algorithm>

#include <cerrno>
#include <cstring>
#include <locale.h>

using namespace pmx::strings;
using pmx::TextId;

TEST(StringTable, LanguageFromLocaleUsesFirstSetVariable) {
    const QByteArray saved[] = {qgetenv("LC_ALL"), qgetenv("LC_MESSAGES"), qgetenv("LANG")};
    const auto set = [](const char* all, const char* messages, const char* lang) {
        qputenv("LC_ALL", all);
        qputenv("LC_MESSAGES", messages);
        qputenv("LANG", lang);
        return languageFromLocale();
    };
    EXPECT_EQ(set("", "", "ja_JP.UTF-8"), Lang::Japanese);
    EXPECT_EQ(set("", "", "de_DE.UTF-8"), Lang::English);
    // LC_MESSAGES outranks LANG, LC_ALL outranks both.
    EXPECT_EQ(set("", "ja_JP.UTF-8", "de_DE.UTF-8"), Lang::Japanese);
    EXPECT_EQ(set("en_US.UTF-8", "ja_JP.UTF-8", "de_DE.UTF-8"), Lang::English);
    EXPECT_EQ(set("ja_JP.eucJP", "C", "de_DE.UTF-8"), Lang::Japanese);
    set(saved[0], saved[1], saved[2]);
}

// Every id once, in both languages; a text fills in the same values in both: a placeholder
// missing in one would drop a file name or a count from a message, or leave "%2" in it.
TEST(StringTable, EveryIdOnceInBothLanguagesWithTheSamePlaceholders) {
    const QRegularExpression placeholder(QStringLiteral("%(\\d+)"));
    const auto numbers = [&](const QString& text) {
        QList<int> found;
        for (auto it = placeholder.globalMatch(text); it.hasNext();)
            found << it.next().captured(1).toInt();
        std::sort(found.begin(), found.end());
        found.erase(std::unique(found.begin(), found.end()), found.end());
        return found;
    };
    const QList<int> ids = allIds();
    EXPECT_GT(ids.size(), 50);
    for (int id : ids) {
        const QString en = text(TextId(id), Lang::English), ja = text(TextId(id), Lang::Japanese);
        EXPECT_EQ(ids.count(id), 1) << "id " << id;
        EXPECT_FALSE(en.isEmpty() || ja.isEmpty()) << "id " << id;
        EXPECT_EQ(numbers(en), numbers(ja)) << "id " << id;
    }
}

TEST(StringTable, TextsOfRecordWordForWordInBothLanguages) {
    for (const pmx::test::TextOfRecord& t : pmx::test::kTextsOfRecord) {
        EXPECT_EQ(text(TextId(t.id), Lang::English), QString::fromUtf8(t.english)) << "id " << t.id;
        if (t.japanese) {
            EXPECT_EQ(text(TextId(t.id), Lang::Japanese), QString::fromUtf8(t.japanese))
                << "id " << t.id;
        }
    }
    EXPECT_EQ(QString::fromLatin1(kModelFileFilter).section('|', 0, 0),
              pmx::test::kModelFilterOfRecord);
    EXPECT_EQ(QString::fromLatin1(kDataFileFilter).section('|', 0, 0),
              pmx::test::kDataFilterOfRecord);
    EXPECT_EQ(QString::fromLatin1(kCsvFileFilter).section('|', 0, 0),
              pmx::test::kCsvFilterOfRecord);
    EXPECT_EQ(QString::fromLatin1(kPageFooter), pmx::test::kPageFooterOfRecord);
}

TEST(StringTable, AccessKeys) {
    const std::tuple<TextId, char, Lang, const char*> cases[] = {
        {TextId::Stop, 'T', Lang::English, "S&top"},
        {TextId::VerifyAfterWriting, 'W', Lang::English, "Verify after &writing"},
        {TextId::MonitorSave, 'e', Lang::English, "Sav&e as text..."}, // the first E, any case
        {TextId::Stop, 'Q', Lang::English, "Stop (&Q)"},               // a key the text lacks
        {TextId::Stop, 'T', Lang::Japanese, "中止(&T)"},
        {TextId::Cancel, 'c', Lang::Japanese, "キャンセル(&C)"},
    };
    for (const auto& [id, key, lang, caption] : cases)
        EXPECT_EQ(withAccessKey(id, key, lang), QString::fromUtf8(caption)) << caption;
}

// What a screen reader says of a caption: the caption without its access key, whatever the
// key and the language, and the menus' captions of record (which the loop passes over)
// without their "(&X)".
TEST(StringTable, CaptionsReadWithoutTheirAccessKeys) {
    for (const Lang lang : {Lang::English, Lang::Japanese}) {
        for (int id : allIds()) {
            const QString caption = text(TextId(id), lang);
            if (caption.contains(u'&'))
                continue; // a caption of record that carries its own key
            for (const char key : {'A', 'q', 'Z', '1'})
                EXPECT_EQ(withoutAccessKey(withAccessKey(TextId(id), key, lang)), caption)
                    << "id " << id << " key " << key;
        }
    }
    const std::pair<const char*, const char*> cases[] = {
        {"File(&F)", "File"},
        {"ファイル(&F)", "ファイル"},
        {"Compare with instrument…(&I)", "Compare with instrument…"},
        {"R&&D", "R&D"},
        {"Plain", "Plain"},
    };
    for (const auto& [caption, read] : cases)
        EXPECT_EQ(withoutAccessKey(QString::fromUtf8(caption)), QString::fromUtf8(read)) << caption;
}

TEST(SystemReason, CommonReasonsInOurWordsOthersAsGiven) {
    const auto cText = [](int error) {
        locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
        const QString s = QString::fromLocal8Bit(strerror_l(error, c));
        freelocale(c);
        return s;
    };
    const std::pair<QString, TextId> cases[] = {
        {cText(ENOENT), TextId::ReasonNoSuchFile},
        {cText(EACCES), TextId::ReasonPermission},
        {cText(ENOSPC), TextId::ReasonNoSpace},
        {cText(EISDIR), TextId::ReasonFolderInTheWay},
        {cText(EROFS), TextId::ReasonReadOnly},
        {cText(EBUSY), TextId::ReasonBusy},
        {QString::fromLocal8Bit(std::strerror(ENODEV)), TextId::ReasonNoDevice},
        {"Filename refers to a directory", TextId::ReasonFolderInTheWay},
        {"Existing file /tmp/x.ini is not writable", TextId::ReasonPermission},
        {"Permission error while locking the device", TextId::ReasonNotLocked},
    };
    for (const auto& [given, reason] : cases) {
        for (const Lang lang : {Lang::English, Lang::Japanese})
            EXPECT_EQ(pmx::systemReason(given, lang), text(reason, lang)) << given.toStdString();
    }
    // Anything else is the system's own text.
    EXPECT_EQ(pmx::systemReason("Unknown error 4711", Lang::Japanese), "Unknown error 4711");
    EXPECT_EQ(pmx::systemReason(QString(), Lang::Japanese), QString());
}
