#pragma once
#include "comm/Conditions.h"
#include "comm/PortMap.h"
#include "comm/SettingsStore.h"
#include <QDialog>
#include <QHash>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QLabel;
class QSpinBox;

namespace pmx {

class FittingScrollArea;

// Communication condition dialog: eight editable combo boxes over the stored record.
// OK stores the eight texts exactly as shown (the apply step checks them) and deletes
// the dialog; any other way of closing stores nothing. On Linux the port row also shows
// which device the chosen COMn opens and lets the operator map it to another one, picked
// from the serial devices found (with the adapter's maker and product; Refresh reads them
// again) or typed: a device path or a device server's tcp://HOST:PORT, kept in the port
// map so that the stored port stays a COMn. A typed text that is no device is refused
// with the reason, and the dialog stays open for it.
class ConditionsDialog : public QDialog {
    Q_OBJECT
  public:
    // discover: the serial devices offered for a COMn (defaults to the system's own).
    explicit ConditionsDialog(SettingsStore& store, QWidget* parent = nullptr,
                              PortMap::Discovery discover = {});

    // The eight texts as shown (protocol, instrument, rate, data bits, stop bits, parity,
    // port, time-out), in that order.
    QStringList statusTexts() const;

    // The block read setting as shown.
    cond::BlockReadSetting blockSetting() const;

    // OK: stores the port choices, the eight texts and the block read setting, then closes.
    void storeConditions();
    // Shows the stored record again, forgetting the choices made here (the record was
    // stored elsewhere: the search's "Use these settings").
    void reloadStored();
    // Reads the serial devices again (Refresh): an adapter plugged in meanwhile is offered.
    void refreshDevices();
    void reject() override;

  signals:
    // The record is stored; the main window requests the apply step.
    void conditionsStored();

  private:
    // Fills the boxes from the stored record.
    void loadStored();
    void refreshDevice();
    void refreshBroadcastHint();
    void devicePicked(int index);
    // A device path or network address typed into the device box: the choice for the COMn.
    // False when the text is neither (it stays in the box, and the reason is shown).
    bool deviceTyped();
    // The line settings are the device server's when the COMn opens a network address.
    void showLineSettingsUsed(bool used);
    QString comOfPortBox() const;

    SettingsStore& m_store;
    PortMap m_ports;
    QList<SerialPortEntry> m_found;
    // Device choices made in this dialog, per COMn ("" = automatic); stored on OK only.
    QHash<QString, QString> m_pendingMap;
    bool m_filling = false;

    QComboBox* m_protocolBox = nullptr;
    QComboBox* m_instrumentBox = nullptr;
    QComboBox* m_rateBox = nullptr;
    QComboBox* m_dataBitsBox = nullptr;
    QComboBox* m_stopBitsBox = nullptr;
    QComboBox* m_parityBox = nullptr;
    QComboBox* m_portBox = nullptr;
    QComboBox* m_timeoutBox = nullptr;
    QComboBox* m_deviceBox = nullptr;      // Combo_Device (Linux)
    QLabel* m_deviceInfo = nullptr;        // Label_device (Linux)
    QLabel* m_broadcastHint = nullptr;     // Label_broadcast: the Modbus station 0 hint
    QCheckBox* m_blockReadBox = nullptr;   // Check_BlockRead
    QSpinBox* m_blockMaxBox = nullptr;     // Spin_BlockMax
    FittingScrollArea* m_scroll = nullptr; // everything but OK, scrolling on a small screen
};

} // namespace pmx
