// Help: the built-in guide in the window's language, its contents, links, pictures,
// search and Back; the help file's viewer when there is one; a message when there is
// neither.
#include "MainWindowFixture.h"
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

// Every link of the document.
QStringList links(QTextDocument* doc) {
    QStringList found;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (const QString href = it.fragment().charFormat().anchorHref(); !href.isEmpty())
                found << href;
    return found;
}

// A machine without the help file, the guide or a viewer, as far as Help looks.
bool noFile(const QString&) {
    return false;
}
QString noProgram(const QString&) {
    return {};
}

} // namespace

TEST(Help, F1OpensTheGuideOfTheWindowsLanguage) {
    const struct {
        strings::Lang lang;
        QString section4, otherSection4;
    } cases[] = {
        {strings::Lang::English, "4. Reading and writing", "4. 読込みと書込み"},
        {strings::Lang::Japanese, "4. 読込みと書込み", "4. Reading and writing"},
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

        // Every link inside the guide leads to one of its headings.
        QSet<QString> anchors;
        for (const GuideHeading& heading : help->headings())
            anchors.insert(heading.anchor);
        int inside = 0;
        for (const QString& link : links(doc)) {
            if (!link.startsWith('#'))
                continue;
            ++inside;
            EXPECT_TRUE(anchors.contains(link.mid(1))) << link.toStdString();
        }
        EXPECT_GT(inside, 18);

        // Every picture is there, and none is wider than the view.
        help->resize(700, 600);
        QCoreApplication::processEvents();
        const int room = help->browser()->viewport()->width();
        int pictures = 0;
        int scaled = 0;
        for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
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
        EXPECT_GE(pictures, 17);
        EXPECT_GT(scaled, 0);

        // A section from the contents list, and Back to the top.
        auto* contents = child<QTreeWidget>(help, "Tree_contents");
        QScrollBar* scroll = help->browser()->verticalScrollBar();
        auto* back = child<QPushButton>(help, "Command_back");
        EXPECT_FALSE(back->isEnabled());
        emit contents->itemClicked(contents->topLevelItem(3), 0);
        EXPECT_GT(scroll->value(), 0);
        EXPECT_EQ(contents->currentItem(), contents->topLevelItem(3));
        ASSERT_TRUE(back->isEnabled());
        back->click();
        EXPECT_EQ(scroll->value(), 0);
        // The link to the guide in the other language, and back.
        const QString page = help->page();
        help->followLink(
            QUrl(c.lang == strings::Lang::English ? "user-guide.ja.md" : "user-guide.md"));
        EXPECT_TRUE(doc->toPlainText().contains(c.otherSection4));
        back->click();
        EXPECT_EQ(help->page(), page);
        EXPECT_TRUE(doc->toPlainText().contains(c.section4));

        // Help again brings the same window forward.
        win.action("menu_help")->trigger();
        EXPECT_EQ(w.helpWindow(), help);
    }
}

TEST(Help, SearchFindsTextAndSaysWhenItIsNotThere) {
    Window win;
    win.w->showHelp();
    HelpWindow* help = win.w->helpWindow();
    ASSERT_TRUE(help);
    EXPECT_TRUE(help->findText("dialout"));
    const int first = help->browser()->textCursor().position();
    EXPECT_TRUE(help->findText("dialout"));
    EXPECT_GT(help->browser()->textCursor().position(), first);
    EXPECT_FALSE(help->findText("no such words anywhere"));
    EXPECT_EQ(child<QLabel>(help, "Label_find")->text(),
              strings::text(TextId::HelpFindMissing).arg("no such words anywhere"));
}

TEST(Help, WithoutGuideOrHelpFileTheOperatorLearnsWhy) {
    for (const auto lang : {strings::Lang::English, strings::Lang::Japanese}) {
        Window win(true, lang);
        win.w->setHelpFinder({noFile, noProgram, {}});
        win.w->showHelp();
        EXPECT_FALSE(win.w->helpWindow());
        const QString why = strings::text(TextId::HelpFileMissing, lang).arg(win.w->helpPath());
        EXPECT_EQ(win.errors, QStringList{strings::text(TextId::HelpNotShown, lang).arg(why)});
    }
}

TEST(Help, AHelpFileIsOpenedByAViewerThatShutdownCloses) {
    Window win(false);
    MainWindow& w = *win.w;
    // A stand-in viewer that records what it was asked to open.
    const QString viewer = win.file(
        "viewer.sh",
        ("#!/bin/sh\necho \"$1\" > '" + win.path("opened") + "'\nexec sleep 60\n").toUtf8());
    QFile::setPermissions(viewer, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    win.file("PMX-31570A_E.chm", "help");
    ASSERT_EQ(w.helpPath(), win.path("PMX-31570A_E.chm"));
    qputenv("PMX31570A_HELP_VIEWER", viewer.toUtf8());
    win.action("menu_help")->trigger();
    qunsetenv("PMX31570A_HELP_VIEWER");
    EXPECT_FALSE(w.helpWindow());
    ASSERT_EQ(w.helpViewers().size(), 1);
    QProcess* process = w.helpViewers().first();
    ASSERT_TRUE(process->waitForStarted(10000));
    for (int k = 0; k < 100 && !QFile::exists(win.path("opened")); ++k)
        QTest::qWait(50);
    EXPECT_EQ(win.read("opened").trimmed(), w.helpPath().toUtf8());

    // The built-in guide as well (as if the file had gone), then End closes both.
    w.setHelpFinder({[](const QString& path) { return path.startsWith(":/"); }, noProgram, {}});
    w.showHelp();
    QPointer<HelpWindow> guide = w.helpWindow();
    ASSERT_TRUE(guide);
    win.answer = true;
    win.action("menu_file_end")->trigger(); // End asks like closing the window
    EXPECT_EQ(win.asked.last(), strings::text(TextId::ConfirmClose));
    EXPECT_TRUE(w.helpViewers().isEmpty());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(guide);
    EXPECT_TRUE(QFile::exists(win.path("PMX31570A.ini")));
}
