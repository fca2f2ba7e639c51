// Which help Help opens (the help file's viewer, the built-in guide or a message) and the
// anchors of the guides' headings.
#include "TestPrinters.h"
#include "model/HelpSource.h"

#include <QSet>
#include <gtest/gtest.h>

using namespace pmx;
using namespace pmx::help;
using strings::Lang;

namespace {

// A machine with the given files and programs (found as /usr/bin/NAME).
HelpFinder machine(const QStringList& files, const QStringList& programs,
                   const QString& configured = {}) {
    HelpFinder finder;
    const QSet<QString> fileSet(files.begin(), files.end());
    finder.fileExists = [fileSet](const QString& path) { return fileSet.contains(path); };
    finder.findExecutable = [programs](const QString& name) {
        return programs.contains(name) ? QStringLiteral("/usr/bin/") + name : QString();
    };
    finder.configuredViewer = configured;
    return finder;
}

} // namespace

TEST(HelpChoice, FileAndViewerThenGuideThenReason) {
    const QString en = helpFilePath(QStringLiteral("/app"), Lang::English);
    const QString ja = helpFilePath(QStringLiteral("/app"), Lang::Japanese);
    ASSERT_EQ(en, QStringLiteral("/app/PMX-31570A_E.chm"));
    ASSERT_EQ(ja, QStringLiteral("/app/PMX-31570A_J.chm"));
    const QString enGuide = QStringLiteral(":/help/user-guide.md");
    const QString jaGuide = QStringLiteral(":/help/user-guide.ja.md");
    struct Case {
        const char* what;
        Lang lang;
        QStringList files, programs;
        QString configured;
        HelpRoute route;
        QString file, viewer;
    };
    const Case cases[] = {
        {"file and a viewer",
         Lang::English,
         {en, enGuide},
         {"okular", "xdg-open"},
         {},
         HelpRoute::Viewer,
         en,
         "/usr/bin/okular"},
        {"the named viewer first",
         Lang::Japanese,
         {ja},
         {"xchm", "myviewer"},
         "myviewer",
         HelpRoute::Viewer,
         ja,
         "/usr/bin/myviewer"},
        {"a named viewer that is missing",
         Lang::English,
         {en},
         {"xdg-open"},
         "gone",
         HelpRoute::Viewer,
         en,
         "/usr/bin/xdg-open"},
        {"no file: the guide",
         Lang::English,
         {enGuide, jaGuide},
         {"xchm"},
         {},
         HelpRoute::Guide,
         enGuide,
         {}},
        {"no viewer: the guide",
         Lang::Japanese,
         {ja, enGuide, jaGuide},
         {},
         {},
         HelpRoute::Guide,
         jaGuide,
         {}},
        {"the other language's file does not count",
         Lang::English,
         {ja, enGuide},
         {"xchm"},
         {},
         HelpRoute::Guide,
         enGuide,
         {}},
        {"nothing at all", Lang::Japanese, {enGuide}, {"xchm"}, {}, HelpRoute::None, {}, {}},
    };
    for (const Case& c : cases) {
        const QString file = c.lang == Lang::English ? en : ja;
        const HelpChoice choice =
            chooseHelp(file, c.lang, machine(c.files, c.programs, c.configured));
        EXPECT_EQ(choice.route, c.route) << c.what;
        EXPECT_EQ(choice.file, c.file) << c.what;
        EXPECT_EQ(choice.viewer, c.viewer) << c.what;
        EXPECT_EQ(choice.reason.isEmpty(), c.route != HelpRoute::None) << c.what;
    }
}

TEST(HelpChoice, ReasonSaysWhatIsMissingInTheLanguage) {
    const QString file = QStringLiteral("/app/PMX-31570A_E.chm");
    const HelpChoice noFile = chooseHelp(file, Lang::English, machine({}, {"xchm"}));
    EXPECT_EQ(noFile.reason,
              QStringLiteral("Help cannot be shown: the help file /app/PMX-31570A_E.chm does not "
                             "exist, and the user guide built into the program is missing."));
    const HelpChoice noViewer = chooseHelp(file, Lang::Japanese, machine({file}, {}, "mine"));
    EXPECT_TRUE(noViewer.reason.startsWith(QStringLiteral("ヘルプを表示できません")));
    EXPECT_TRUE(noViewer.reason.contains(file));
    EXPECT_TRUE(
        noViewer.reason.contains(QStringLiteral("mine, xchm, kchmviewer, okular, xdg-open")));
    for (int id = int(TextId::HelpTitle); id <= int(TextId::HelpNoViewer); ++id)
        EXPECT_FALSE(strings::text(TextId(id), Lang::Japanese).isEmpty()) << id;
}

TEST(HelpChoice, HeadingAnchorsAsTheGuidesLinkThem) {
    const std::pair<const char*, const char*> cases[] = {
        {"1. Installing", "1-installing"},
        {"10. The all-data report: print or PDF", "10-the-all-data-report-print-or-pdf"},
        {"Comparing with the instrument, writing only the differences, verifying",
         "comparing-with-the-instrument-writing-only-the-differences-verifying"},
        {"PMX-31570A setting software — user guide", "pmx-31570a-setting-software--user-guide"},
        {"Block reads (Modbus)", "block-reads-modbus"},
        {"5. 設定値を 1 つ変更する", "5-設定値を-1-つ変更する"},
        {"10. データ一覧 (印刷と PDF)", "10-データ一覧-印刷と-pdf"},
        {"機器との比較、相違のみの書込み、書込み後の照合",
         "機器との比較相違のみの書込み書込み後の照合"},
        {"  snake_case here ", "snake_case-here"},
    };
    for (const auto& [heading, anchor] : cases)
        EXPECT_EQ(headingAnchor(QString::fromUtf8(heading)), QString::fromUtf8(anchor)) << heading;
}

TEST(HelpChoice, JapaneseLinesOfAParagraphJoinWithoutASpace) {
    const std::pair<const char*, const char*> cases[] = {
        {"項目を\n   数え (「58", "項目を数え (「58"},
        {"一行目\n二行目\n三行目", "一行目二行目三行目"},
        {"English text\nwraps here", "English text\nwraps here"},
        {"PDF\nを保存", "PDF\nを保存"}, // a space after a Latin word stays
        {"保存します\n`pmx31570a`", "保存します\n`pmx31570a`"},
        {"段落です。\n\n次の段落", "段落です。\n\n次の段落"},
        {"一覧:\n- 項目", "一覧:\n- 項目"},
        {"    コード 日本語\n    コード", "    コード 日本語\n    コード"},
        {"```\n日本語\n日本語\n```", "```\n日本語\n日本語\n```"},
        {"表の前\n| 内容 |", "表の前\n| 内容 |"},
        {"末尾に改行\n", "末尾に改行\n"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(joinWrappedLines(QString::fromUtf8(in)), QString::fromUtf8(out)) << in;
}
