#include "ui/Setting_Disp.h"
#include "ui/strings/StringTable.h"
#include <QFormLayout>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace pmx {

namespace {

QPushButton* padButton(const QString& caption, const QString& name, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setMinimumSize(64, 40);
    b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    // Clicking the pad leaves the keyboard with the entry box; Enter is the entry
    // box's own OK, never a click on whichever button was pressed last.
    b->setFocusPolicy(Qt::TabFocus);
    b->setAutoDefault(false);
    return b;
}

QString outOfRangeText() {
    return strings::language() == strings::Lang::Japanese
               ? QStringLiteral("設定範囲外です (-32768 ～ 32767)")
               : QStringLiteral("Out of range (-32768 to 32767)");
}

} // namespace

Setting_Disp::Setting_Disp(ItemTable& table, QWidget* parent) : QDialog(parent), m_table(table) {
    setObjectName(QStringLiteral("Setting_Disp"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowTitle(strings::text(36));

    auto* top = new QVBoxLayout(this);

    auto* info = new QFormLayout;
    info->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    auto* itemCaption = new QLabel(strings::text(39), this);
    itemCaption->setObjectName(QStringLiteral("Label1_2"));
    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("Text1_1"));
    m_name->setMinimumWidth(220);
    info->addRow(itemCaption, m_name);
    auto* nowCaption = new QLabel(strings::text(37), this);
    nowCaption->setObjectName(QStringLiteral("Label1_0"));
    m_now = new QLabel(this);
    m_now->setObjectName(QStringLiteral("Now_data"));
    m_now->setTextInteractionFlags(Qt::TextSelectableByMouse);
    info->addRow(nowCaption, m_now);
    top->addLayout(info);

    m_display = new QLineEdit(this);
    m_display->setObjectName(QStringLiteral("Disp_setdata"));
    // Typed characters never go into the text: every key is handled by eventFilter.
    m_display->setReadOnly(true);
    m_display->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont big = m_display->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    m_display->setFont(big);
    m_display->setMinimumHeight(40);
    m_display->installEventFilter(this);
    top->addWidget(m_display);

    // The entry text itself; the box above shows a copy of it.
    m_changeData = new QLabel(this);
    m_changeData->setObjectName(QStringLiteral("change_data"));
    m_changeData->setVisible(false);
    top->addWidget(m_changeData);

    auto* pad = new QGridLayout;
    pad->setSpacing(6);
    for (int d = 0; d <= 9; ++d) {
        m_tenKey[d] = padButton(QString::number(d), QStringLiteral("Ten_key_%1").arg(d), this);
        connect(m_tenKey[d], &QPushButton::clicked, this, [this, d] { Ten_key_Click(d); });
    }
    for (int d = 1; d <= 9; ++d)
        pad->addWidget(m_tenKey[d], 2 - (d - 1) / 3, (d - 1) % 3);
    pad->addWidget(m_tenKey[0], 3, 0);
    auto* negate = padButton(QStringLiteral("+/-"), QStringLiteral("Command1"), this);
    auto* ce = padButton(QStringLiteral("CE"), QStringLiteral("Command2"), this);
    auto* ok = padButton(QStringLiteral("OK"), QStringLiteral("Command3"), this);
    auto* cancel = padButton(QStringLiteral("Cancel"), QStringLiteral("Command4"), this);
    pad->addWidget(negate, 3, 1);
    pad->addWidget(ce, 3, 2);
    pad->addWidget(ok, 2, 3);
    pad->addWidget(cancel, 3, 3);
    top->addLayout(pad);
    connect(negate, &QPushButton::clicked, this, &Setting_Disp::Command1_Click);
    connect(ce, &QPushButton::clicked, this, &Setting_Disp::Command2_Click);
    connect(ok, &QPushButton::clicked, this, &Setting_Disp::Command3_Click);
    connect(cancel, &QPushButton::clicked, this, &Setting_Disp::Command4_Click);

    // Entry box first: it receives the keyboard when the dialog opens.
    QWidget* order[] = {m_display,   m_tenKey[7], m_tenKey[8], m_tenKey[9],
                        m_tenKey[4], m_tenKey[5], m_tenKey[6], m_tenKey[1],
                        m_tenKey[2], m_tenKey[3], ok,          m_tenKey[0],
                        negate,      ce,          cancel,      m_name};
    for (size_t k = 1; k < std::size(order); ++k)
        setTabOrder(order[k - 1], order[k]);
    m_display->setFocus();

    setItem(m_table.CurItem);
    syncEntry();
}

void Setting_Disp::setItem(int curItem) {
    if (curItem < 0 || curItem >= kItemCount)
        return;
    m_item = curItem;
    m_name->setText(m_table.ItemName[curItem]);
    m_name->setCursorPosition(0);
    m_now->setText(QString::number(m_table.ItemData[curItem]));
}

void Setting_Disp::syncEntry() {
    m_changeData->setText(m_pad.entry());
    m_display->setText(m_pad.entry());
}

void Setting_Disp::markOutOfRange(bool on) {
    if (on == m_marked)
        return;
    m_marked = on;
    QPalette pal = m_display->palette();
    if (on)
        pal.setColor(QPalette::Text, Qt::red);
    else
        pal = palette();
    m_display->setPalette(pal);
    m_display->setToolTip(on ? outOfRangeText() : QString());
}

void Setting_Disp::Ten_key_Click(int digit) {
    m_pad.padDigit(digit);
    markOutOfRange(false);
    syncEntry();
}

void Setting_Disp::Command1_Click() {
    m_pad.padNegate();
    markOutOfRange(false);
    syncEntry();
}

void Setting_Disp::Command2_Click() {
    m_pad.clear();
    markOutOfRange(false);
    syncEntry();
}

void Setting_Disp::Command3_Click() {
    const std::optional<qint16> value = m_pad.storableValue();
    if (!value) {
        // A 16-bit item cannot hold it: keep the dialog and the old value, and say why.
        markOutOfRange(true);
        m_display->setFocus();
        return;
    }
    m_table.ItemData[m_item] = *value;
    m_table.CurItem = qint16(m_item);
    emit valueStored();
    accept();
    close();
}

void Setting_Disp::Command4_Click() {
    reject();
}

void Setting_Disp::reject() {
    // Escape and the close button end the dialog like Cancel.
    QDialog::reject();
    close();
}

bool Setting_Disp::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_display && event->type() == QEvent::FocusIn) {
        // The line edit selects its text on keyboard focus; a highlighted entry reads
        // as if the next key replaced it, which it never does.
        QMetaObject::invokeMethod(m_display, &QLineEdit::deselect, Qt::QueuedConnection);
        return false;
    }
    if (watched != m_display || event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    // Keyboard navigation keeps working; the entry is only re-shown.
    if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
        syncEntry();
        return false;
    }
    QChar ch;
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        ch = QChar(13);
        break;
    case Qt::Key_Backspace:
        ch = QChar(8);
        break;
    default:
        if (!key->text().isEmpty())
            ch = key->text().front();
    }
    switch (m_pad.typedKey(ch)) {
    case ValuePad::KeyAction::Ok:
        Command3_Click();
        return true;
    case ValuePad::KeyAction::Digit:
    case ValuePad::KeyAction::Negate:
    case ValuePad::KeyAction::Clear:
        markOutOfRange(false);
        break;
    case ValuePad::KeyAction::Resync:
        break;
    }
    syncEntry();
    return true;
}

} // namespace pmx
