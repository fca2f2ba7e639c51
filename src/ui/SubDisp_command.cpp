#include "ui/SubDisp_command.h"
#include "ui/strings/StringTable.h"
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <QWindow>

namespace pmx {

namespace {
constexpr int kColumns = 8;
} // namespace

SubDisp_command::SubDisp_command(ItemTable& table, QWidget* parent)
    : QDialog(parent), m_table(table) {
    setObjectName(QStringLiteral("SubDisp_command"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);

    auto* top = new QVBoxLayout(this);
    auto* pages = new QGridLayout;
    // One frame per 32-item page, captioned like the main window's tabs, so the boxes
    // sit where the operator already knows the items from.
    for (int page = 0; page < kItemCount / kRowsPerPage; ++page) {
        const int first = page * kRowsPerPage;
        auto* frame = new QGroupBox(
            QStringLiteral("%1-%2h").arg(itemAddressText(first), itemAddressText(first + 31)));
        frame->setObjectName(QStringLiteral("Frame_page_%1").arg(page));
        auto* grid = new QGridLayout(frame);
        grid->setHorizontalSpacing(10);
        grid->setVerticalSpacing(2);
        for (int r = 0; r < kRowsPerPage; ++r) {
            const int i = first + r;
            auto* box = new QCheckBox(itemAddressText(i), frame);
            box->setObjectName(QStringLiteral("Check1_%1").arg(i));
            grid->addWidget(box, r / kColumns, r % kColumns);
            m_check[i] = box;
        }
        pages->addWidget(frame, page, 0);
    }
    top->addLayout(pages);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("Command1"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("Command2"));
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    top->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, &SubDisp_command::Command1_Click);
    connect(cancel, &QPushButton::clicked, this, &SubDisp_command::Command2_Click);

    m_lastFocus = QGuiApplication::focusWindow();
    connect(qApp, &QGuiApplication::focusWindowChanged, this,
            &SubDisp_command::onFocusWindowChanged);

    Form_Load();
}

void SubDisp_command::Form_Load() {
    setWindowTitle(strings::text(40));
    for (int i = 0; i < kItemCount; ++i) {
        if (!m_table.isUndefined(i))
            m_check[i]->setChecked(m_table.ItemSel[i] == 1);
        else
            m_check[i]->setEnabled(false);
        m_check[i]->setToolTip(m_table.ItemName[i]);
    }
}

void SubDisp_command::Form_Activate() {
    for (int i = 0; i < kItemCount; ++i) {
        m_check[i]->setChecked(m_table.ItemSel[i] == 1);
        m_check[i]->setToolTip(m_table.ItemName[i]);
    }
}

void SubDisp_command::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    // Showing by the program counts as an activation; a spontaneous show (restored
    // from the task bar) is judged by where the focus came from instead.
    if (!e->spontaneous())
        Form_Activate();
}

void SubDisp_command::onFocusWindowChanged(QWindow* w) {
    QWindow* const previous = m_lastFocus;
    m_lastFocus = w;
    QWindow* const mine = windowHandle();
    if (!w || w != mine || !isVisible())
        return;
    // Focus that was nowhere in this program came from another application.
    if (previous && previous != mine && QGuiApplication::allWindows().contains(previous))
        Form_Activate();
}

void SubDisp_command::setBox(int i, qint16 state) {
    if (i >= 0 && i < kItemCount)
        m_check[i]->setChecked(state == 1);
}

bool SubDisp_command::boxTicked(int i) const {
    return i >= 0 && i < kItemCount && m_check[i]->isChecked();
}

void SubDisp_command::setItemToolTip(int i, const QString& text) {
    if (i >= 0 && i < kItemCount)
        m_check[i]->setToolTip(text);
}

void SubDisp_command::Command1_Click() {
    // Disabled boxes included: a state loaded from a file passes on unchanged.
    for (int i = 0; i < kItemCount; ++i)
        m_table.ItemSel[i] = m_check[i]->isChecked() ? 1 : 0;
    accept();
    close();
}

void SubDisp_command::Command2_Click() {
    reject();
}

void SubDisp_command::reject() {
    // Escape and the window's close button end the dialog like Cancel: a dialog left
    // hidden would keep stale boxes that the write of all items consults.
    QDialog::reject();
    close();
}

} // namespace pmx
