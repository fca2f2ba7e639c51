#include "ui/ConditionsDialog.h"
#include "comm/Conditions.h"
#include "comm/TcpTransport.h"
#include "text/StringTable.h"
#include "ui/Accessibility.h"
#include "ui/FittingScrollArea.h"
#include "ui/TextWrap.h"
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace pmx {

namespace {

QComboBox* combo(const QString& name, const QStringList& entries, QWidget* parent) {
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    c->setEditable(true);
    // Typed texts are stored as they are; they never become list entries.
    c->setInsertPolicy(QComboBox::NoInsert);
    // No completion either: typing "50" must store 50, not the 500 an inline completion
    // would fill in.
    c->setCompleter(nullptr);
    c->addItems(entries);
    c->setMinimumContentsLength(12);
    c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    return c;
}

// Selects the entry, or none; with none, the stored text stays visible so that an OK
// without edits stores back what was stored (a valid 250 ms or COM12 is not lost).
void select(QComboBox* c, int index, const QString& stored) {
    c->setCurrentIndex(index);
    if (index < 0)
        c->setEditText(stored);
}

} // namespace

ConditionsDialog::ConditionsDialog(SettingsStore& store, QWidget* parent,
                                   PortMap::Discovery discover)
    : QDialog(parent), m_store(store), m_ports(store, std::move(discover)) {
    setObjectName(QStringLiteral("SubDisp_comm"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(10);
    m_protocolBox = combo(QStringLiteral("Combo_Prot"), cond::protocolEntries(), this);
    m_instrumentBox = combo(QStringLiteral("Combo_Dev"), {}, this);
    m_rateBox = combo(QStringLiteral("Combo_Rate"), cond::rateEntries(), this);
    m_dataBitsBox = combo(QStringLiteral("Combo_Dat"), cond::dataBitEntries(), this);
    m_stopBitsBox = combo(QStringLiteral("Combo_Stop"), cond::stopBitEntries(), this);
    m_parityBox = combo(QStringLiteral("Combo_Party"), cond::parityEntries(), this);
    m_portBox = combo(QStringLiteral("Combo_Port"), cond::portEntries(), this);
    m_timeoutBox = combo(QStringLiteral("Combo_Time"), cond::timeoutEntries(), this);
    QComboBox* const rows[8] = {m_protocolBox, m_instrumentBox, m_rateBox, m_dataBitsBox,
                                m_stopBitsBox, m_parityBox,     m_portBox, m_timeoutBox};
    for (int r = 0; r < 8; ++r) {
        auto* caption = new QLabel(this);
        caption->setObjectName(QStringLiteral("Label_name_%1").arg(r));
        caption->setBuddy(rows[r]);
        // The box's edit part and list are named as the box: the caption.
        a11y::nameComboBox(rows[r], strings::text(cond::kCaptions[r]));
        grid->addWidget(caption, r, 0);
        grid->addWidget(rows[r], r, 1);
    }
    auto* bps = new QLabel(QStringLiteral("bps"), this);
    bps->setObjectName(QStringLiteral("Label3"));
    grid->addWidget(bps, 2, 2);
    auto* ms = new QLabel(QStringLiteral("ms"), this);
    ms->setObjectName(QStringLiteral("Label1"));
    grid->addWidget(ms, 7, 2);
    grid->setColumnStretch(1, 1);

#ifndef Q_OS_WIN
    // Linux has no COMn: show what the chosen name opens and let the operator choose.
    auto* deviceCaption = new QLabel(this);
    deviceCaption->setObjectName(QStringLiteral("Label_device_name"));
    m_deviceBox = new QComboBox(this);
    m_deviceBox->setObjectName(QStringLiteral("Combo_Device"));
    m_deviceBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_deviceBox->setMinimumContentsLength(12);
    m_deviceBox->setEditable(true);
    m_deviceBox->setInsertPolicy(QComboBox::NoInsert);
    m_deviceBox->setCompleter(nullptr);
    deviceCaption->setBuddy(m_deviceBox);
    a11y::setCaption(deviceCaption, TextId::DeviceForPort, 'V');
    a11y::nameComboBox(m_deviceBox, strings::text(TextId::DeviceForPort));
    auto* refresh = new QPushButton(this);
    a11y::setCaption(refresh, TextId::RefreshDevices, 'F');
    refresh->setObjectName(QStringLiteral("Command_refresh"));
    refresh->setAutoDefault(false);
    connect(refresh, &QPushButton::clicked, this, &ConditionsDialog::refreshDevices);
    m_deviceInfo = new QLabel(this);
    m_deviceInfo->setObjectName(QStringLiteral("Label_device"));
    m_deviceInfo->setWordWrap(true);
    m_deviceInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_deviceInfo->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_deviceInfo->setForegroundRole(QPalette::PlaceholderText);
    grid->addWidget(deviceCaption, 8, 0);
    auto* deviceRow = new QHBoxLayout;
    deviceRow->addWidget(m_deviceBox, 1);
    deviceRow->addWidget(refresh);
    grid->addLayout(deviceRow, 8, 1, 1, 2);
    grid->addWidget(m_deviceInfo, 9, 1, 1, 2);
    grid->setRowMinimumHeight(9, m_deviceInfo->fontMetrics().height() * 2);
    connect(m_portBox, &QComboBox::currentTextChanged, this, [this] { refreshDevice(); });
    connect(m_deviceBox, &QComboBox::activated, this, &ConditionsDialog::devicePicked);
    connect(m_deviceBox->lineEdit(), &QLineEdit::editingFinished, this,
            &ConditionsDialog::deviceTyped);
#endif

    // Station 0 under Modbus is the broadcast address; say what that means before OK.
    m_broadcastHint = new WrappedLabel(strings::text(TextId::BroadcastNoReads), this);
    m_broadcastHint->setObjectName(QStringLiteral("Label_broadcast"));
    m_broadcastHint->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_broadcastHint->setVisible(false);
    connect(m_protocolBox, &QComboBox::currentTextChanged, this,
            [this] { refreshBroadcastHint(); });
    connect(m_instrumentBox, &QComboBox::currentTextChanged, this,
            [this] { refreshBroadcastHint(); });

    // Block reads: beside the record, on for Modbus only (the status frame says so).
    m_blockReadBox = new QCheckBox(this);
    a11y::setCaption(m_blockReadBox, TextId::BlockReads, 'B');
    m_blockReadBox->setObjectName(QStringLiteral("Check_BlockRead"));
    m_blockMaxBox = new QSpinBox(this);
    m_blockMaxBox->setObjectName(QStringLiteral("Spin_BlockMax"));
    m_blockMaxBox->setRange(cond::kBlockMaxSmallest, cond::kBlockMaxLargest);
    auto* maxCaption = new QLabel(this);
    maxCaption->setObjectName(QStringLiteral("Label_blockmax"));
    maxCaption->setBuddy(m_blockMaxBox);
    a11y::setCaption(maxCaption, TextId::BlockMaxCount, 'G');
    auto* blockHint = new WrappedLabel(strings::text(TextId::BlockReadsHint), this);
    blockHint->setObjectName(QStringLiteral("Label_blockhint"));
    blockHint->setForegroundRole(QPalette::PlaceholderText);
    connect(m_blockReadBox, &QCheckBox::toggled, m_blockMaxBox, &QWidget::setEnabled);
    auto* countRow = new QHBoxLayout;
    countRow->addWidget(maxCaption);
    countRow->addWidget(m_blockMaxBox);
    countRow->addStretch(1);

    auto* top = new QVBoxLayout;
    top->addLayout(grid);
    top->addWidget(m_broadcastHint);
    top->addSpacing(6);
    top->addWidget(m_blockReadBox);
    top->addLayout(countRow);
    top->addWidget(blockHint);
    top->addStretch(1);
    setMinimumWidth(440);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("Command1"));
    ok->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, &ConditionsDialog::storeConditions);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    // On a small screen the conditions scroll and OK stays in sight.
    m_scroll = scrollingBody(this, top, buttons);

    loadStored();
    fitWindowToScreen(this, m_scroll);
}

void ConditionsDialog::loadStored() {
    setWindowTitle(strings::text(TextId::ConditionsTitle));
    // The captions stand as they are; Tab goes down the boxes in their order. V, B and G
    // reach the device's and the block reads' controls.
    for (int r = 0; r < 8; ++r)
        findChild<QLabel*>(QStringLiteral("Label_name_%1").arg(r))
            ->setText(strings::text(cond::kCaptions[r]));
    m_instrumentBox->clear();
    m_instrumentBox->addItems(cond::deviceEntries());

    if (m_deviceBox)
        m_found = m_ports.discovered();

    const cond::StoredConditions s = cond::readStored(m_store);
    m_filling = true;
    select(m_protocolBox, cond::selectEqual(cond::protocolEntries(), s.protocol), s.protocol);
    select(m_instrumentBox, cond::selectDevice(s.devNo), s.devNo);
    select(m_rateBox, cond::selectEqual(cond::rateEntries(), s.speed), s.speed);
    select(m_dataBitsBox, cond::selectDataBit(s.databit), s.databit);
    select(m_stopBitsBox, cond::selectStopBit(s.stopbit), s.stopbit);
    select(m_parityBox, cond::selectEqual(cond::parityEntries(), s.parity), s.parity);
    select(m_portBox, cond::selectEqual(cond::portEntries(), s.port), s.port);
    select(m_timeoutBox, cond::selectEqual(cond::timeoutEntries(), s.timeout), s.timeout);
    const cond::BlockReadSetting block = cond::readBlockSetting(m_store);
    m_blockReadBox->setChecked(block.on);
    m_blockMaxBox->setValue(block.max);
    m_blockMaxBox->setEnabled(block.on);
    m_filling = false;
    refreshDevice();
    refreshBroadcastHint();
}

void ConditionsDialog::reloadStored() {
    m_pendingMap.clear();
    loadStored();
}

void ConditionsDialog::refreshDevices() {
    if (!m_deviceBox)
        return;
    m_found = m_ports.discovered();
    refreshDevice();
}

void ConditionsDialog::refreshBroadcastHint() {
    if (m_filling)
        return;
    const bool show =
        cond::meansModbusBroadcast(m_protocolBox->currentText(), m_instrumentBox->currentText());
    if (show == !m_broadcastHint->isHidden())
        return;
    m_broadcastHint->setVisible(show);
    // The shown dialog makes room for the wrapped hint at its width, and gives it back,
    // within the screen.
    if (isVisible())
        fitWindowToScreen(this, m_scroll, QSize(width(), sizeHint().height()));
}

QString ConditionsDialog::comOfPortBox() const {
    const QString text = m_portBox->currentText().trimmed();
    const auto n = PortMap::comNumber(text);
    return n ? QStringLiteral("COM%1").arg(*n) : QString();
}

void ConditionsDialog::refreshDevice() {
    if (!m_deviceBox || m_filling)
        return;
    const QString com = comOfPortBox();
    const QString chosen =
        m_pendingMap.contains(com) ? m_pendingMap.value(com) : m_ports.mapping(com);

    m_deviceBox->clear();
    m_deviceBox->setEnabled(!com.isEmpty());
    m_deviceBox->addItem(strings::text(TextId::AutomaticDevice), QString());
    for (const SerialPortEntry& e : m_found) {
        QString label = QFileInfo(e.systemLocation).fileName();
        if (!e.description.isEmpty())
            label += QStringLiteral(" - ") + e.description;
        m_deviceBox->addItem(label, e.device);
        m_deviceBox->setItemData(m_deviceBox->count() - 1, e.device, Qt::ToolTipRole);
    }
    int index = chosen.isEmpty() ? 0 : m_deviceBox->findData(chosen);
    if (index < 0) {
        // A stored device that is not plugged in now stays choosable. One that exists but
        // is no serial adapter the system lists (a pseudo-terminal, say) is just shown.
        const bool present = QFileInfo::exists(chosen) || TcpTransport::isNetworkAddress(chosen);
        m_deviceBox->addItem(present ? chosen : chosen + strings::text(TextId::NotConnected),
                             chosen);
        index = m_deviceBox->count() - 1;
    }
    m_deviceBox->setCurrentIndex(index);
    // A long device name is read from its start (the adapter's maker), not from its end.
    m_deviceBox->lineEdit()->setCursorPosition(0);
    m_deviceBox->setToolTip(m_deviceBox->currentText());

    showLineSettingsUsed(com.isEmpty() || !TcpTransport::isNetworkAddress(chosen));
    if (com.isEmpty()) {
        // Not a COMn: the apply step replaces it, so there is nothing to show.
        a11y::setSpokenText(m_deviceInfo, QString());
        m_deviceInfo->setToolTip(QString());
        return;
    }
    QString opens = chosen;
    if (opens.isEmpty()) {
        // Automatic choice as the port map makes it, leaving the stored choices aside.
        MemorySettingsStore none;
        const QList<SerialPortEntry> found = m_found;
        opens = PortMap(none, [found] { return found; }).resolve(com);
    }
    if (opens.isEmpty())
        a11y::setSpokenText(m_deviceInfo, strings::text(TextId::PortOpensNoDevice).arg(com));
    else if (TcpTransport::isNetworkAddress(opens))
        a11y::setSpokenText(m_deviceInfo,
                            strings::text(TextId::PortOpensDevice).arg(com, breakable(opens)) +
                                QLatin1Char('\n') + strings::text(TextId::NetworkLineUnused));
    else
        a11y::setSpokenText(m_deviceInfo,
                            strings::text(TextId::PortOpensDevice).arg(com, breakable(opens)));
    m_deviceInfo->setToolTip(opens);
}

void ConditionsDialog::showLineSettingsUsed(bool used) {
    // Shown as they are stored, so that choosing a serial device again finds them.
    const QString why = used ? QString() : strings::text(TextId::NetworkLineUnused);
    for (QComboBox* box : {m_rateBox, m_dataBitsBox, m_stopBitsBox, m_parityBox}) {
        box->setEnabled(used);
        box->setToolTip(why);
    }
}

bool ConditionsDialog::deviceTyped() {
    const QString com = comOfPortBox();
    const int index = m_deviceBox->currentIndex();
    const QString text = m_deviceBox->currentText().trimmed();
    if (com.isEmpty() || (index >= 0 && text == m_deviceBox->itemText(index)))
        return true; // nothing typed
    if (text.isEmpty()) {
        refreshDevice();
        return true;
    }
    // Only looked at, never opened here: the apply step opens it.
    const PortMap::DeviceText kind = PortMap::checkDeviceText(text);
    if (kind != PortMap::DeviceText::Device && kind != PortMap::DeviceText::Absent) {
        // Kept in the box to be corrected; nothing is chosen.
        const TextId why = kind == PortMap::DeviceText::BadNetworkAddress
                               ? TextId::NotANetworkAddress
                           : kind == PortMap::DeviceText::NotADevice ? TextId::NotADeviceFile
                                                                     : TextId::NotADevicePath;
        a11y::setSpokenText(m_deviceInfo, strings::text(why).arg(breakable(text)));
        a11y::announce(m_deviceInfo, strings::text(why).arg(text), a11y::Urgency::Failure);
        return false;
    }
    m_pendingMap.insert(com, text);
    refreshDevice();
    return true;
}

void ConditionsDialog::devicePicked(int index) {
    const QString com = comOfPortBox();
    if (com.isEmpty() || index < 0)
        return;
    m_pendingMap.insert(com, m_deviceBox->itemData(index).toString());
    refreshDevice();
}

QStringList ConditionsDialog::statusTexts() const {
    return {m_protocolBox->currentText(), m_instrumentBox->currentText(),
            m_rateBox->currentText(),     m_dataBitsBox->currentText(),
            m_stopBitsBox->currentText(), m_parityBox->currentText(),
            m_portBox->currentText(),     m_timeoutBox->currentText()};
}

cond::BlockReadSetting ConditionsDialog::blockSetting() const {
    return {m_blockReadBox->isChecked(), m_blockMaxBox->value()};
}

void ConditionsDialog::storeConditions() {
    // Typed, and OK clicked without leaving the box; a text that opens nothing is not
    // stored, and the dialog stays for it to be corrected.
    if (m_deviceBox && !deviceTyped())
        return;
    for (auto it = m_pendingMap.cbegin(); it != m_pendingMap.cend(); ++it) {
        if (it.value() != m_ports.mapping(it.key()))
            m_ports.setMapping(it.key(), it.value());
    }
    const QStringList t = statusTexts();
    cond::writeStored(m_store, {t[0], t[1], t[2], t[3], t[4], t[5], t[6], t[7]});
    // Written only when it differs, so an OK that changed nothing keeps absent keys absent.
    if (blockSetting() != cond::readBlockSetting(m_store))
        cond::writeBlockSetting(m_store, blockSetting());
    emit conditionsStored();
    accept();
    close();
}

void ConditionsDialog::reject() {
    // Escape and the close button store nothing, and end the dialog as OK does.
    QDialog::reject();
    close();
}

} // namespace pmx
