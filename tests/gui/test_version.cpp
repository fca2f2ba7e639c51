// One version everywhere: the window's --version, the version box, and the application's
// names, icon and desktop entry (the installed programs' --version is the install check's).
#include "Widgets.h"
#include "app/Startup.h"
#include "ui/AboutDialog.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <gtest/gtest.h>

using namespace pmx;

TEST(Version, WindowOptionsAreAnsweredOnlyWhenAsked) {
    const QString program = QStringLiteral("pmx31570a");
    const QString version = QStringLiteral("pmx31570a " PMX_PROJECT_VERSION "\n");
    // --version and --help alone: install.programs and install.reference.
    EXPECT_EQ(infoOptionText({program, "-platform", "offscreen", "--version"}), version);
    const QString help = infoOptionText({program, "-h"});
    EXPECT_TRUE(help.startsWith("Usage: pmx31570a ") && help.contains("--version"));
    for (const QStringList& args :
         {QStringList{program}, {program, "-style", "fusion"}, {"--version"}})
        EXPECT_TRUE(infoOptionText(args).isEmpty()) << args.join(' ').toStdString();
}

TEST(Version, VersionBoxShowsTheProjectVersionAndTheMark) {
    AboutDialog box;
    EXPECT_EQ(test::child<QLabel>(&box, "Label4")->text(), QStringLiteral(PMX_PROJECT_VERSION));
    // The mark is drawn from the program's own resources: a blank square means it is missing.
    const QImage mark = test::child<QLabel>(&box, "Image1")->pixmap().toImage();
    ASSERT_FALSE(mark.isNull());
    EXPECT_GT(qAlpha(mark.pixel(mark.width() / 2, mark.height() / 2)), 0);
}

TEST(Version, WindowsBelongToTheInstalledDesktopEntry) {
    setUpApplication();
    const QString entry = QGuiApplication::desktopFileName();
    EXPECT_EQ(entry, QStringLiteral("pmx31570a"));
    EXPECT_TRUE(QFileInfo::exists(QStringLiteral(PMX_SOURCE_DIR "/packaging/") + entry +
                                  QStringLiteral(".desktop")));
    const QIcon icon = QApplication::windowIcon();
    for (int size : {48, 256}) {
        EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size))) << size;
        EXPECT_FALSE(icon.pixmap(size).isNull()) << size;
    }
    EXPECT_EQ(QApplication::applicationVersion(), QStringLiteral(PMX_PROJECT_VERSION));
}
