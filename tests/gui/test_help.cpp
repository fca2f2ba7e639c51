// Help: the built-in guide in the window's language, its contents, links, pictures,
// Back and search; the help file's viewer when there is one; a message when there is
// neither.
#include "MainWindowFixture.h"
#include "model/HelpSource.h"
#include "ui/ConditionsDialog.h"
#include "ui/HelpDocument.h"
#include "ui/HelpWindow.h"

#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSet>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextList>
#include <QTreeWidget>

using namespace pmx;
using namespace pmx::test;

namespace {

// A machine without a help viewer, as far as Help looks.
QString noProgram(const QString&) {
    return {};
}

} // namespace

TEST(Help, F1OpensTheGuideOfTheWindowsLanguageToBrowseAndSearch) {
    const struct {
        strings::Lang lang;
        QString section4, otherSection4;
    } cases[] = {
        {strings::Lang::English, "2. Reading and writing", "2. 読込みと書込み"},
        {strings::Lang::Japanese, "2. 読込みと書込み", "2. Reading and writing"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.section4.toStdString());
        Window win(true, c.lang); // no help file in its application directory
        MainWindow& w = *win.w;
        w.show();
        ASSERT_TRUE(activate(&w));
        QTest::keyClick(&w, Qt::Key_F1);
        HelpWindow* help = w.helpWindow();
        ASSERT_TRUE(help);
        EXPECT_TRUE(help->isVisible());
        EXPECT_TRUE(w.helpViewers().isEmpty());
        EXPECT_TRUE(win.errors.isEmpty());
        QTextDocument* doc = help->browser()->document();
        EXPECT_TRUE(doc->toPlainText().contains(c.section4));
        EXPECT_FALSE(doc->toPlainText().contains(c.otherSection4));

        // Every link inside the guide leads to one of its headings; every picture is there,
        // and none is wider than the view.
        QSet<QString> anchors;
        for (const GuideHeading& heading : help->headings())
            anchors.insert(heading.anchor);
        help->resize(700, 600);
        QCoreApplication::processEvents();
        const int room = help->browser()->viewport()->width();
        int inside = 0;
        int pictures = 0;
        int scaled = 0;
        for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QString link = it.fragment().charFormat().anchorHref();
                if (link.startsWith('#')) {
                    ++inside;
                    EXPECT_TRUE(anchors.contains(link.mid(1))) << link.toStdString();
                }
                const QTextImageFormat image = it.fragment().charFormat().toImageFormat();
                if (!image.isValid())
                    continue;
                ++pictures;
                const QVariant bytes =
                    help->browser()->loadResource(QTextDocument::ImageResource, QUrl(image.name()));
                EXPECT_FALSE(QImage::fromData(bytes.toByteArray()).isNull())
                    << image.name().toStdString();
                const QSize natural = QImageReader(":/help/" + image.name()).size();
                const qreal shown = image.width() > 0 ? image.width() : natural.width();
                const int indent = block.blockFormat().indent() +
                                   (block.textList() ? block.textList()->format().indent() : 0);
                EXPECT_LE(shown + indent * doc->indentWidth(), room) << image.name().toStdString();
                scaled += shown < natural.width();
            }
        }
        EXPECT_GT(inside, 18);
        EXPECT_GE(pictures, 17);
        EXPECT_GT(scaled, 0);

        // F1 on the main window opened the guide at its section (the contents list is
        // above it); a section from the contents list, and Back to where it was.
        auto* contents = child<QTreeWidget>(help, "Tree_contents");
        QScrollBar* scroll = help->browser()->verticalScrollBar();
        auto* back = child<QPushButton>(help, "Command_back");
        EXPECT_FALSE(back->isEnabled());
        const int opened = scroll->value();
        EXPECT_GT(opened, 0);
        EXPECT_EQ(contents->currentItem(), contents->topLevelItem(0)) << "1. The main window";
        emit contents->itemClicked(contents->topLevelItem(3), 0);
        EXPECT_GT(scroll->value(), opened);
        EXPECT_EQ(contents->currentItem(), contents->topLevelItem(3));
        ASSERT_TRUE(back->isEnabled());
        back->click();
        EXPECT_EQ(scroll->value(), opened);
        // The link to the guide in the other language, and back.
        const QString page = help->page();
        help->followLink(
            QUrl(c.lang == strings::Lang::English ? "user-guide.ja.md" : "user-guide.md"));
        EXPECT_TRUE(doc->toPlainText().contains(c.otherSection4));
        back->click();
        EXPECT_EQ(help->page(), page);
        EXPECT_TRUE(doc->toPlainText().contains(c.section4));

        // Search finds the next place, and says when the words are nowhere.
        EXPECT_TRUE(help->findText("dialout"));
        const int first = help->browser()->textCursor().position();
        EXPECT_TRUE(help->findText("dialout"));
        EXPECT_GT(help->browser()->textCursor().position(), first);
        EXPECT_FALSE(help->findText("no such words anywhere"));
        EXPECT_EQ(child<QLabel>(help, "Label_find")->text(),
                  strings::text(TextId::HelpFindMissing).arg("no such words anywhere"));

        // Help again brings the same window forward; F1 in the communication conditions
        // goes to their section, and Back returns from it.
        win.action("menu_help")->trigger();
        EXPECT_EQ(w.helpWindow(), help);
        const int before = scroll->value();
        w.openConditions();
        ASSERT_TRUE(activate(w.conditionsDialog()));
        QTest::keyClick(w.conditionsDialog(), Qt::Key_F1);
        EXPECT_TRUE(contents->currentItem()->text(0).startsWith("5. "))
            << contents->currentItem()->text(0).toStdString();
        back->click();
        EXPECT_EQ(scroll->value(), before);
        w.conditionsDialog()->reject();
    }
}

TEST(Help, EveryWindowHasItsPlaceInBothGuides) {
    // F1's places by window, found in each guide by the section's number (and subsection).
    const char* windows[] = {"MainDisp",      "SubDisp_compare", "Setting_Disp", "SubDisp_command",
                             "SubDisp_comm",  "SubDisp_find",    "rptver",       "SubDisp_monitor",
                             "SubDisp_About", "SubDisp_help"};
    for (const auto lang : {strings::Lang::English, strings::Lang::Japanese}) {
        HelpWindow help(help::guideResource(lang));
        QStringList titles;
        for (const char* name : windows) {
            const QString anchor = anchorOf(help.headings(), guidePlaceOf(name));
            EXPECT_FALSE(anchor.isEmpty()) << name;
            for (const GuideHeading& h : help.headings())
                if (h.anchor == anchor)
                    titles << h.text;
        }
        // The operator's part comes first: the windows' sections, before the set-up ones.
        ASSERT_FALSE(titles.isEmpty());
        EXPECT_EQ(titles.first(),
                  lang == strings::Lang::English ? "1. The main window" : "1. メイン画面");
        EXPECT_TRUE(titles.contains(lang == strings::Lang::English ? "5. Communication conditions"
                                                                   : "5. 通信条件"));
        EXPECT_TRUE(help.headings().last().text.startsWith("19. "));
    }
}

TEST(Help, WithoutGuideOrHelpFileTheOperatorLearnsWhy) {
    for (const auto lang : {strings::Lang::English, strings::Lang::Japanese}) {
        Window win(true, lang);
        win.w->setHelpFinder({[](const QString&) { return false; }, noProgram, {}});
        win.w->showHelp();
        EXPECT_FALSE(win.w->helpWindow());
        const QString why = strings::text(TextId::HelpFileMissing, lang).arg(win.w->helpPath());
        EXPECT_EQ(win.errors, QStringList{strings::text(TextId::HelpNotShown, lang).arg(why)});
    }
}

TEST(Help, AHelpFileIsOpenedByAViewerThatShutdownCloses) {
    Window win(false);
    MainWindow& w = *win.w;
    // A stand-in viewer that records what it was asked to open; the record appears whole
    // (renamed into place), so the test never reads it half written.
    const QString viewer = win.file(
        "viewer.sh", ("#!/bin/sh\necho \"$1\" > '" + win.path("opening") + "' && mv '" +
                      win.path("opening") + "' '" + win.path("opened") + "'\nexec sleep 60\n")
                         .toUtf8());
    QFile::setPermissions(viewer, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    win.file("PMX-31570A_E.chm", "help");
    qputenv("PMX31570A_HELP_VIEWER", viewer.toUtf8());
    win.action("menu_help")->trigger();
    qunsetenv("PMX31570A_HELP_VIEWER");
    EXPECT_FALSE(w.helpWindow());
    ASSERT_EQ(w.helpViewers().size(), 1);
    QProcess* process = w.helpViewers().first();
    ASSERT_TRUE(process->waitForStarted(10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(win.path("opened")); }, 10000));
    EXPECT_EQ(win.read("opened").trimmed(), w.helpPath().toUtf8());

    // The built-in guide as well (as if the file had gone), then End closes both.
    w.setHelpFinder({[](const QString& path) { return path.startsWith(":/"); }, noProgram, {}});
    w.showHelp();
    QPointer<HelpWindow> guide = w.helpWindow();
    ASSERT_TRUE(guide);
    win.action("menu_file_end")->trigger(); // answered Yes
    EXPECT_TRUE(w.helpViewers().isEmpty());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(guide);
}
