#include "ui/AboutDialog.h"
#include "pmx_version.h"
#include "text/StringTable.h"
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSvgRenderer>
#include <QVBoxLayout>

namespace pmx {

namespace {

QLabel* label(const QString& text, const QString& name, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    return l;
}

} // namespace

QString AboutDialog::versionText() {
    return QStringLiteral("%1.%2.%3")
        .arg(PMX_VERSION_MAJOR)
        .arg(PMX_VERSION_MINOR)
        .arg(PMX_VERSION_PATCH);
}

QPixmap AboutDialog::logo(int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter painter(&pm);
    QSvgRenderer(QStringLiteral(":/logo.svg")).render(&painter);
    return pm;
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("SubDisp_About"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowTitle(strings::text(TextId::VersionTitle));

    auto* image = new QLabel(this);
    image->setObjectName(QStringLiteral("Image1"));
    image->setPixmap(logo(64));
    image->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto* title = label(strings::text(TextId::ProgramKind), QStringLiteral("Label1"), this);
    QFont bold = title->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    title->setFont(bold);
    auto* product = label(QStringLiteral("PMX-31570A"), QStringLiteral("Label6"), this);
    product->setFont(bold);
    auto* versionCaption = label(QStringLiteral("Version"), QStringLiteral("Label3"), this);
    auto* version = label(versionText(), QStringLiteral("Label4"), this);
    auto* notice = label(strings::text(TextId::AboutNotice), QStringLiteral("Label2"), this);
    notice->setWordWrap(true);

    auto* text = new QGridLayout;
    text->setHorizontalSpacing(8);
    text->addWidget(title, 0, 0, 1, 2);
    text->addWidget(product, 1, 0, 1, 2);
    text->addWidget(versionCaption, 2, 0);
    text->addWidget(version, 2, 1);
    text->setColumnStretch(1, 1);
    text->addWidget(notice, 3, 0, 1, 2);

    auto* body = new QHBoxLayout;
    body->setSpacing(16);
    body->addWidget(image, 0, Qt::AlignTop);
    body->addLayout(text, 1);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("Command1"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &AboutDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);

    auto* top = new QVBoxLayout(this);
    top->addLayout(body);
    top->addSpacing(8);
    top->addLayout(buttons);
    setMinimumWidth(360);
    ok->setFocus();
}

void AboutDialog::accept() {
    QDialog::accept();
    close();
}

void AboutDialog::reject() {
    QDialog::reject();
    close();
}

} // namespace pmx
