#pragma once
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

    void Command1_Click();
    void reject() override;

  signals:
    // The record is stored; the main window requests the apply step.
    void conditionsStored();

  private:
    void Form_Load();
    void refreshDevice();
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
};

} // namespace pmx
