#include "ui/ItemSelectionDialog.h"
#include "text/StringTable.h"
#include "ui/Accessibility.h"
#include "ui/FittingScrollArea.h"
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

ItemSelectionDialog::ItemSelectionDialog(ItemTable& table, QWidget* parent)
    : QDialog(parent), m_table(table) {
    setObjectName(QStringLiteral("SubDisp_command"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);

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
            m_boxes[i] = box;
        }
        pages->addWidget(frame, page, 0);
    }

    // Every item of the model at once; the boxes of undefined items stay as they are.
    auto* buttons = new QHBoxLayout;
    auto* all = new QPushButton(this);
    a11y::setCaption(all, TextId::SelectAll, 'A');
    all->setObjectName(QStringLiteral("Command_all"));
    all->setAutoDefault(false);
    auto* none = new QPushButton(this);
    a11y::setCaption(none, TextId::ClearAll, 'L');
    none->setObjectName(QStringLiteral("Command_none"));
    none->setAutoDefault(false);
    connect(all, &QPushButton::clicked, this, [this] { setEveryBox(true); });
    connect(none, &QPushButton::clicked, this, [this] { setEveryBox(false); });
    buttons->addWidget(all);
    buttons->addWidget(none);
    buttons->addStretch(1);
    // "OK" and "Cancel" in every language; Enter is OK, Escape Cancel.
    auto* ok = new QPushButton(QString::fromLatin1(strings::kOk), this);
    ok->setObjectName(QStringLiteral("Command1"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QString::fromLatin1(strings::kCancel), this);
    cancel->setObjectName(QStringLiteral("Command2"));
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    // On a small screen the pages scroll; the buttons stay in sight.
    FittingScrollArea* scroll = scrollingBody(this, pages, buttons);
    connect(ok, &QPushButton::clicked, this, &ItemSelectionDialog::applySelection);
    connect(cancel, &QPushButton::clicked, this, &ItemSelectionDialog::reject);

    m_lastFocus = QGuiApplication::focusWindow();
    connect(qApp, &QGuiApplication::focusWindowChanged, this,
            &ItemSelectionDialog::onFocusWindowChanged);

    loadBoxes();
    fitWindowToScreen(this, scroll);
}

void ItemSelectionDialog::loadBoxes() {
    setWindowTitle(strings::text(TextId::SelectionTitle));
    for (int i = 0; i < kItemCount; ++i) {
        if (!m_table.isUndefined(i))
            m_boxes[i]->setChecked(m_table.isSelected(i));
        else
            m_boxes[i]->setEnabled(false);
        m_boxes[i]->setToolTip(m_table.names[i]);
    }
}

void ItemSelectionDialog::resetBoxes() {
    for (int i = 0; i < kItemCount; ++i) {
        m_boxes[i]->setChecked(m_table.isSelected(i));
        m_boxes[i]->setToolTip(m_table.names[i]);
    }
}

void ItemSelectionDialog::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    // Showing by the program counts as an activation; a spontaneous show (restored
    // from the task bar) is judged by where the focus came from instead.
    if (!e->spontaneous())
        resetBoxes();
}

void ItemSelectionDialog::onFocusWindowChanged(QWindow* w) {
    QWindow* const previous = m_lastFocus;
    m_lastFocus = w;
    QWindow* const mine = windowHandle();
    if (!w || w != mine || !isVisible())
        return;
    // Focus that was nowhere in this program came from another application.
    if (previous && previous != mine && QGuiApplication::allWindows().contains(previous))
        resetBoxes();
}

void ItemSelectionDialog::setEveryBox(bool ticked) {
    for (QCheckBox* box : m_boxes)
        if (box->isEnabled())
            box->setChecked(ticked);
}

void ItemSelectionDialog::setBox(int i, Selection state) {
    if (i >= 0 && i < kItemCount)
        m_boxes[i]->setChecked(state == Selection::Selected);
}

bool ItemSelectionDialog::boxTicked(int i) const {
    return i >= 0 && i < kItemCount && m_boxes[i]->isChecked();
}

void ItemSelectionDialog::setItemToolTip(int i, const QString& text) {
    if (i >= 0 && i < kItemCount)
        m_boxes[i]->setToolTip(text);
}

void ItemSelectionDialog::applySelection() {
    // Disabled boxes included: a state loaded from a file passes on unchanged.
    for (int i = 0; i < kItemCount; ++i)
        m_table.selections[i] = m_boxes[i]->isChecked() ? Selection::Selected : Selection::Cleared;
    accept();
    close();
}

void ItemSelectionDialog::reject() {
    // Escape and the window's close button end the dialog like Cancel: a dialog left
    // hidden would keep stale boxes that the write of all items consults.
    QDialog::reject();
    close();
}

} // namespace pmx
