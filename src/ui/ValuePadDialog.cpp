#include "ui/ValuePadDialog.h"
#include "text/StringTable.h"
#include "ui/Accessibility.h"
#include "ui/Colours.h"
#include "ui/TextWrap.h"
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

} // namespace

ValuePadDialog::ValuePadDialog(ItemTable& table, QWidget* parent)
    : QDialog(parent), m_table(table) {
    setObjectName(QStringLiteral("Setting_Disp"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowTitle(strings::text(TextId::ValueTitle));

    auto* top = new QVBoxLayout(this);

    auto* info = new QFormLayout;
    info->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    auto* itemCaption = new QLabel(strings::text(TextId::CommandItem), this);
    itemCaption->setObjectName(QStringLiteral("Label1_2"));
    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("Text1_1"));
    m_name->setMinimumWidth(220);
    itemCaption->setBuddy(m_name); // a screen reader names the field by its caption
    info->addRow(itemCaption, m_name);
    auto* nowCaption = new QLabel(strings::text(TextId::CurrentValue), this);
    nowCaption->setObjectName(QStringLiteral("Label1_0"));
    m_current = new QLabel(this);
    m_current->setObjectName(QStringLiteral("Now_data"));
    m_current->setTextInteractionFlags(Qt::TextSelectableByMouse);
    nowCaption->setBuddy(m_current);
    info->addRow(nowCaption, m_current);
    top->addLayout(info);
    // With an instrument profile: what the item takes. Hidden without one.
    m_range = new QLabel(this);
    m_range->setObjectName(QStringLiteral("Label_range"));
    m_range->setVisible(false);
    top->addWidget(m_range);

    auto* entry = new a11y::TextField(this);
    m_entryBox = entry;
    m_entryBox->setObjectName(QStringLiteral("Disp_setdata"));
    // Typed characters never go into the text: every key is handled by eventFilter. A
    // screen reader is told it is an entry all the same, which it is to the operator.
    m_entryBox->setReadOnly(true);
    entry->setTypedInto(true);
    m_entryBox->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont big = m_entryBox->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    m_entryBox->setFont(big);
    m_entryBox->setMinimumHeight(40);
    m_entryBox->installEventFilter(this);
    top->addWidget(m_entryBox);

    // Why OK refused the entry, in words; hidden otherwise, keeping its room so that the
    // pad does not move.
    m_refusal = new WrappedLabel(strings::text(TextId::ValueOutOfRange), this);
    m_refusal->setObjectName(QStringLiteral("Label_refusal"));
    setTextTone(m_refusal, Tone::Failure);
    QSizePolicy keepRoom = m_refusal->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    m_refusal->setSizePolicy(keepRoom);
    m_refusal->setVisible(false);
    top->addWidget(m_refusal);

    // The entry text itself; the box above shows a copy of it.
    m_entryCopy = new QLabel(this);
    m_entryCopy->setObjectName(QStringLiteral("change_data"));
    m_entryCopy->setVisible(false);
    top->addWidget(m_entryCopy);

    auto* pad = new QGridLayout;
    pad->setSpacing(6);
    for (int d = 0; d <= 9; ++d) {
        m_digitButtons[d] =
            padButton(QString::number(d), QStringLiteral("Ten_key_%1").arg(d), this);
        connect(m_digitButtons[d], &QPushButton::clicked, this, [this, d] { pressDigit(d); });
    }
    for (int d = 1; d <= 9; ++d)
        pad->addWidget(m_digitButtons[d], 2 - (d - 1) / 3, (d - 1) % 3);
    pad->addWidget(m_digitButtons[0], 3, 0);
    auto* negate = padButton(QStringLiteral("+/-"), QStringLiteral("Command1"), this);
    auto* ce = padButton(QStringLiteral("CE"), QStringLiteral("Command2"), this);
    auto* ok = padButton(QString::fromLatin1(strings::kOk), QStringLiteral("Command3"), this);
    // "Cancel" in every language, as the pad's other captions; Escape is Cancel too.
    auto* cancel =
        padButton(QString::fromLatin1(strings::kCancel), QStringLiteral("Command4"), this);
    pad->addWidget(negate, 3, 1);
    pad->addWidget(ce, 3, 2);
    pad->addWidget(ok, 2, 3);
    pad->addWidget(cancel, 3, 3);
    top->addLayout(pad);
    connect(negate, &QPushButton::clicked, this, &ValuePadDialog::pressSign);
    connect(ce, &QPushButton::clicked, this, &ValuePadDialog::pressClear);
    connect(ok, &QPushButton::clicked, this, &ValuePadDialog::storeValue);
    connect(cancel, &QPushButton::clicked, this, &ValuePadDialog::reject);

    // Entry box first: it receives the keyboard when the dialog opens.
    QWidget* order[] = {m_entryBox,
                        m_digitButtons[7],
                        m_digitButtons[8],
                        m_digitButtons[9],
                        m_digitButtons[4],
                        m_digitButtons[5],
                        m_digitButtons[6],
                        m_digitButtons[1],
                        m_digitButtons[2],
                        m_digitButtons[3],
                        ok,
                        m_digitButtons[0],
                        negate,
                        ce,
                        cancel,
                        m_name};
    for (size_t k = 1; k < std::size(order); ++k)
        setTabOrder(order[k - 1], order[k]);
    m_entryBox->setFocus();

    setItem(m_table.currentItem);
    syncEntry();
}

void ValuePadDialog::setItem(int curItem) {
    if (curItem < 0 || curItem >= kItemCount)
        return;
    m_item = curItem;
    m_name->setText(m_table.names[curItem]);
    m_name->setCursorPosition(0);
    const QString name = m_table.names[curItem].simplified();
    m_entryBox->setAccessibleName(
        strings::text(TextId::NewValueOf)
            .arg(itemAddressText(curItem) + (name.isEmpty() ? QString() : u' ' + name)));
    m_current->setText(QString::number(m_table.values[curItem]));
    showRange();
}

void ValuePadDialog::setProfile(const InstrumentProfile* profile) {
    m_profile = profile;
    showRange();
}

void ValuePadDialog::showRange() {
    const ItemProfile* p = m_profile ? &m_profile->items[std::size_t(m_item)] : nullptr;
    const QString range = m_profile ? m_profile->rangeText(m_item, strings::language()) : QString();
    const bool ranged = p && (p->min || p->max);
    m_range->setText(range.isEmpty() ? QString()
                     : ranged        ? strings::text(TextId::PadRange).arg(range)
                                     : strings::text(TextId::TipUnit).arg(range));
    m_range->setVisible(!range.isEmpty());
}

void ValuePadDialog::syncEntry() {
    m_entryCopy->setText(m_pad.entry());
    m_entryBox->setText(m_pad.entry());
}

void ValuePadDialog::markOutOfRange(bool on) {
    markRefused(on ? strings::text(TextId::ValueOutOfRange) : QString());
}

void ValuePadDialog::markRefused(const QString& why) {
    const bool on = !why.isEmpty();
    if (on == m_marked && (!on || m_refusal->text() == why))
        return;
    m_marked = on;
    setTextTone(m_entryBox, on ? Tone::Failure : Tone::Plain);
    m_entryBox->setToolTip(why);
    if (on)
        m_refusal->setText(why);
    m_refusal->setVisible(on);
    if (on)
        a11y::announce(m_refusal, m_refusal->text(), a11y::Urgency::Failure);
}

void ValuePadDialog::pressDigit(int digit) {
    m_pad.padDigit(digit);
    markOutOfRange(false);
    syncEntry();
}

void ValuePadDialog::pressSign() {
    m_pad.padNegate();
    markOutOfRange(false);
    syncEntry();
}

void ValuePadDialog::pressClear() {
    m_pad.clear();
    markOutOfRange(false);
    syncEntry();
}

void ValuePadDialog::storeValue() {
    const std::optional<qint16> value = m_pad.storableValue();
    if (!value) {
        // A 16-bit item cannot hold it: keep the dialog and the old value, and say why.
        markOutOfRange(true);
        m_entryBox->setFocus();
        return;
    }
    // The profile's range: the instrument would refuse or misread the value.
    if (const QString why =
            m_profile ? m_profile->refusal(m_item, *value, strings::language()) : QString();
        !why.isEmpty()) {
        markRefused(why);
        m_entryBox->setFocus();
        return;
    }
    m_table.values[m_item] = *value;
    m_table.currentItem = qint16(m_item);
    emit valueStored();
    accept();
    close();
}

void ValuePadDialog::reject() {
    // Escape and the close button end the dialog like Cancel.
    QDialog::reject();
    close();
}

bool ValuePadDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_entryBox && event->type() == QEvent::FocusIn) {
        // The line edit selects its text on keyboard focus; a highlighted entry reads
        // as if the next key replaced it, which it never does.
        QMetaObject::invokeMethod(m_entryBox, &QLineEdit::deselect, Qt::QueuedConnection);
        return false;
    }
    if (watched != m_entryBox || event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Escape) {
        reject(); // Escape is Cancel, as in every dialog
        return true;
    }
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
        storeValue();
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
