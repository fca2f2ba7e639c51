#pragma once
#include "comm/CommObject.h"
#include "comm/PortMap.h"
#include "comm/SettingsStore.h"
#include <QDialog>
#include <QHash>
#include <QStringList>

class QComboBox;
class QLabel;

namespace pmx {

// Communication condition dialog: eight editable combo boxes over the stored record.
// OK stores the eight texts exactly as shown (the apply step checks them) and deletes
// the dialog; any other way of closing stores nothing. On Linux the port row also shows
// which device the chosen COMn opens and lets the operator map it to another one.
class SubDisp_comm : public QDialog {
    Q_OBJECT
  public:
    // discover: the serial devices offered for a COMn (defaults to the system's own).
    explicit SubDisp_comm(SettingsStore& store, QWidget* parent = nullptr,
                          PortMap::Discovery discover = {});

    // Texts of Combo_Prot, Combo_Dev, Combo_Rate, Combo_Dat, Combo_Stop, Combo_Party,
    // Combo_Port, Combo_Time, in that order: the main window's status display.
    QStringList statusTexts() const;
    // The same eight texts for the conditions the communication object was last given
    // (after the apply step replaced what it refused), in the dialog's wording.
    static QStringList textsInEffect(const CommObject& com, qint16 instNo);
    // True when the protocol and instrument number texts would make every command a
    // Modbus broadcast (station 0), as the apply step would read them.
    static bool isModbusBroadcast(const QString& protocol, const QString& devNo);

    void Command1_Click();
    void reject() override;

  signals:
    // The record is stored; the main window requests the apply step.
    void conditionsStored();

  private:
    void Form_Load();
    void refreshDevice();
    void refreshBroadcastHint();
    void devicePicked(int index);
    QString comOfPortBox() const;

    SettingsStore& m_store;
    PortMap m_ports;
    QList<SerialPortEntry> m_found;
    // Device choices made in this dialog, per COMn ("" = automatic); stored on OK only.
    QHash<QString, QString> m_pendingMap;
    bool m_filling = false;

    QComboBox* m_prot = nullptr;
    QComboBox* m_dev = nullptr;
    QComboBox* m_rate = nullptr;
    QComboBox* m_dat = nullptr;
    QComboBox* m_stop = nullptr;
    QComboBox* m_party = nullptr;
    QComboBox* m_port = nullptr;
    QComboBox* m_time = nullptr;
    QComboBox* m_device = nullptr;  // Combo_Device (Linux)
    QLabel* m_deviceInfo = nullptr; // Label_device (Linux)
    QLabel* m_broadcast = nullptr;  // Label_broadcast: the Modbus station 0 hint
};

} // namespace pmx
