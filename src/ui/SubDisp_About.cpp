#include "ui/SubDisp_About.h"
#include "pmx_version.h"
#include "ui/strings/StringTable.h"
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

namespace pmx {

namespace {

// Same shape as resources/logo.svg (64 x 64 units).
QPixmap paintLogo(int size, qreal dpr) {
    QPixmap pm(QSize(size, size) * dpr);
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1f, 0x5f, 0x99));
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 10, 10);
    QPen wave(Qt::white, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(wave);
    p.setBrush(Qt::NoBrush);
    const QPointF pts[] = {{10, 42}, {18, 42}, {18, 22}, {28, 22}, {28, 42},
                           {36, 42}, {36, 22}, {46, 22}, {46, 42}, {54, 42}};
    p.drawPolyline(pts, int(std::size(pts)));
    p.setPen(QPen(QColor(0x9c, 0xc3, 0xe6), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10, 50), QPointF(54, 50));
    return pm;
}

QLabel* label(const QString& text, const QString& name, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    return l;
}

} // namespace

QString SubDisp_About::versionText() {
    return QStringLiteral("%1.%2.%3")
        .arg(PMX_VERSION_MAJOR)
        .arg(PMX_VERSION_MINOR)
        .arg(PMX_VERSION_PATCH);
}

QPixmap SubDisp_About::logo(int size) {
    QImageReader reader(QStringLiteral(":/logo.svg"));
    if (reader.canRead()) {
        reader.setScaledSize(QSize(size, size));
        const QImage img = reader.read();
        if (!img.isNull())
            return QPixmap::fromImage(img);
    }
    return paintLogo(size, 1.0);
}

SubDisp_About::SubDisp_About(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("SubDisp_About"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowTitle(strings::text(41));

    auto* image = new QLabel(this);
    image->setObjectName(QStringLiteral("Image1"));
    image->setPixmap(logo(64));
    image->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto* title = label(strings::text(1), QStringLiteral("Label1"), this);
    QFont bold = title->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    title->setFont(bold);
    auto* product = label(QStringLiteral("PMX-31570A"), QStringLiteral("Label6"), this);
    product->setFont(bold);
    auto* versionCaption = label(QStringLiteral("Version"), QStringLiteral("Label3"), this);
    auto* version = label(versionText(), QStringLiteral("Label4"), this);
    auto* notice = label(strings::language() == strings::Lang::Japanese
                             ? QStringLiteral("PMX-31570A シリーズ計器用の設定ソフトウェアです。")
                             : QStringLiteral("Setting software for the PMX-31570A instrument family."),
                         QStringLiteral("Label2"), this);
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
    connect(ok, &QPushButton::clicked, this, &SubDisp_About::Command1_Click);
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

void SubDisp_About::Command1_Click() {
    accept();
    close();
}

void SubDisp_About::reject() {
    QDialog::reject();
    close();
}

} // namespace pmx
