#include "pmx_version.h"
#include "ui/SubDisp_About.h"
#include "ui/strings/StringTable.h"
#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace pmx;

namespace {
QString labelText(QWidget* w, const char* name) {
    auto* l = w->findChild<QLabel*>(QString::fromLatin1(name));
    return l ? l->text() : QStringLiteral("<missing>");
}
} // namespace

TEST(SubDispAbout, ContentsAndOk) {
    auto* dlg = new SubDisp_About;
    QPointer<SubDisp_About> guard(dlg);
    EXPECT_EQ(dlg->windowTitle(), strings::text(41));
    EXPECT_EQ(labelText(dlg, "Label1"), strings::text(1));
    EXPECT_EQ(labelText(dlg, "Label6"), QStringLiteral("PMX-31570A"));
    EXPECT_EQ(labelText(dlg, "Label3"), QStringLiteral("Version"));
    EXPECT_EQ(labelText(dlg, "Label4"), QStringLiteral(PMX_VERSION_STRING));
    EXPECT_EQ(SubDisp_About::versionText(), QStringLiteral("%1.%2.%3")
                                                .arg(PMX_VERSION_MAJOR)
                                                .arg(PMX_VERSION_MINOR)
                                                .arg(PMX_VERSION_PATCH));
    EXPECT_FALSE(labelText(dlg, "Label2").isEmpty());

    auto* image = dlg->findChild<QLabel*>(QStringLiteral("Image1"));
    ASSERT_NE(image, nullptr);
    const QImage img = image->pixmap().toImage();
    ASSERT_FALSE(img.isNull());
    // The mark is drawn: blue tile at the edge, white pulse on top, transparent corner.
    EXPECT_EQ(QColor(img.pixel(6, 32)).name(), QStringLiteral("#1f5f99"));
    EXPECT_EQ(QColor(img.pixel(23, 22)).name(), QStringLiteral("#ffffff"));
    EXPECT_EQ(qAlpha(img.pixel(0, 0)), 0);

    dlg->show();
    dlg->findChild<QPushButton*>(QStringLiteral("Command1"))->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(guard.isNull());
}

TEST(SubDispAbout, LookEnglishAndJapanese) {
    for (const auto lang : {strings::Lang::English, strings::Lang::Japanese}) {
        strings::setLanguage(lang);
        SubDisp_About dlg;
        dlg.setAttribute(Qt::WA_DeleteOnClose, false);
        dlg.show();
        QCoreApplication::processEvents();
        const QString name = QStringLiteral("/tmp/pmx-dialogs-about-%1.png")
                                 .arg(lang == strings::Lang::English ? "en" : "ja");
        EXPECT_TRUE(dlg.grab().save(name));
        auto* title = dlg.findChild<QLabel*>(QStringLiteral("Label1"));
        EXPECT_GE(title->width(), title->sizeHint().width());
    }
    strings::setLanguage(strings::Lang::English);
}
