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

// What Help opens: "VIEWER FILE", "guide GUIDE" or "nothing".
QString opens(const HelpChoice& choice) {
    return choice.route == HelpRoute::Viewer  ? choice.viewer + ' ' + choice.file
           : choice.route == HelpRoute::Guide ? "guide " + choice.file
                                              : QStringLiteral("nothing");
}

} // namespace

TEST(HelpChoice, FileAndViewerThenGuideThenReason) {
    using enum strings::Lang;
    const QString en = helpFilePath(QStringLiteral("/app"), English);
    const QString ja = helpFilePath(QStringLiteral("/app"), Japanese);
    ASSERT_EQ(en, QStringLiteral("/app/PMX-31570A_E.chm"));
    ASSERT_EQ(ja, QStringLiteral("/app/PMX-31570A_J.chm"));
    const QString enGuide = QStringLiteral(":/help/user-guide.md");
    const QString jaGuide = QStringLiteral(":/help/user-guide.ja.md");
    // The files there, the programs there, the viewer configured, and what Help opens.
    const std::tuple<const char*, Lang, QStringList, QStringList, QString, QString> cases[] = {
        {"viewers", English, {en, enGuide}, {"okular", "xdg-open"}, {}, "/usr/bin/okular " + en},
        {"named viewer first", Japanese, {ja}, {"xchm", "mine"}, "mine", "/usr/bin/mine " + ja},
        {"named viewer missing", English, {en}, {"xdg-open"}, "gone", "/usr/bin/xdg-open " + en},
        {"no file", English, {enGuide, jaGuide}, {"xchm"}, {}, "guide " + enGuide},
        {"no viewer", Japanese, {ja, enGuide, jaGuide}, {}, {}, "guide " + jaGuide},
        {"other language's file", English, {ja, enGuide}, {"xchm"}, {}, "guide " + enGuide},
        {"nothing at all", Japanese, {enGuide}, {"xchm"}, {}, "nothing"},
    };
    for (const auto& [what, lang, files, programs, configured, expected] : cases) {
        SCOPED_TRACE(what);
        const HelpChoice choice =
            chooseHelp(lang == English ? en : ja, lang, machine(files, programs, configured));
        EXPECT_EQ(opens(choice), expected);
        EXPECT_EQ(choice.reason.isEmpty(), choice.route != HelpRoute::None);
    }
}

TEST(HelpChoice, ReasonNamesTheFileAndTheViewersTried) {
    // Without file and guide the reason is checked in the window, in both languages.
    const QString file = QStringLiteral("/app/PMX-31570A_J.chm");
    const HelpChoice noViewer = chooseHelp(file, Lang::Japanese, machine({file}, {}, "mine"));
    EXPECT_TRUE(noViewer.reason.startsWith(QStringLiteral("ヘルプを表示できません")));
    EXPECT_TRUE(noViewer.reason.contains(file));
    EXPECT_TRUE(
        noViewer.reason.contains(QStringLiteral("mine, xchm, kchmviewer, okular, xdg-open")));
}

TEST(HelpChoice, HeadingAnchorsAsTheGuidesLinkThem) {
    // Every link of the real guides is followed in the help window's test.
    const std::pair<const char*, const char*> cases[] = {
        {"10. The all-data report: print or PDF", "10-the-all-data-report-print-or-pdf"},
        {"PMX-31570A setting software — user guide", "pmx-31570a-setting-software--user-guide"},
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
