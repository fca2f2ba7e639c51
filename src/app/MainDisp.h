#pragma once
#include "comm/CommObject.h"
#include "comm/Dispatcher.h"
#include "model/ItemTable.h"
#include "transfer/Sequences.h"
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProcess;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTabBar;

namespace pmx {

class SubDisp_command;
class Setting_Disp;
class SubDisp_comm;
class SubDisp_About;
class SettingsStore;

// Answers the questions and file choices the main window asks, so tests can script them.
struct UserPrompts {
    // Yes/No with Yes as default and the warning icon, title "PMX-31570A".
    std::function<bool(QWidget* parent, const QString& text)> askYesNo;
    std::function<QString(QWidget* parent, const QString& dir, const QString& filter)> openFile;
    std::function<QString(QWidget* parent, const QString& dir, const QString& filter,
                          const QString& suffix, const QString& proposed)>
        saveFile;
    // An error the operator must see (files, settings); never for line failures.
    std::function<void(QWidget* parent, const QString& text)> tellError;
    // Something the operator should know that is no error (a transfer's notice).
    std::function<void(QWidget* parent, const QString& text)> tellInfo;
    static UserPrompts interactive();
};

// The main window: item pages, transfer and file buttons, condition status, menus.
// It owns the item table, the communication object and the dispatcher for the run.
class MainDisp : public QMainWindow, public DispatcherHost, public TransferView {
    Q_OBJECT
public:
    MainDisp(std::unique_ptr<CommObject> com, UserPrompts prompts, QWidget* parent = nullptr);
    ~MainDisp() override;

    // Run loop start: activate the communication object, post the apply task, show the
    // window and start the dispatcher.
    void communicate();

    ItemTable table;
    qint16 InstNo = 0;
    QString HelpPath;
    QString applicationDir;

    Dispatcher& dispatcher() { return m_dispatcher; }
    CommObject* comm() { return SetCom.get(); }
    void postTask(qint16 code);

    // Drawing routines of the pages.
    void RefreshName();
    void SelectDispItem() override;
    QString hexordec(qint16 i) const;
    // Names, boxes and values of the current page, whatever the communication state.
    void drawPage();
    int selectedTab() const; // 1..4

    // Menu and button commands.
    void menu_set_model_Click();
    void menu_set_com_Click();
    void menu_set_comdata_Click();
    void menu_ver_Click();
    void menu_help_Click();
    void menu_data_Click();
    void menu_export_Click();
    void Command_Move_Click(int index);
    void Command_File_Click(int index);
    void Data0_Click(int row);
    // Ends the display of a communication failure.
    void Timer2_Timer();
    // While the device is lost: asks for the apply step once the device is back.
    void Timer_lost_Timer();
    bool deviceLost() const { return m_lost; }
    QString lostDevice() const { return m_lostDevice; }
    // Where the stable names of serial devices live (tests point it elsewhere).
    void setDeviceAliasDir(const QString& dir) { m_aliasDir = dir; }

    // The selection dialog, created hidden when it does not exist.
    SubDisp_command* selectionDialog();
    SubDisp_comm* conditionDialog();
    Setting_Disp* valueDialog() const;
    SubDisp_About* aboutDialog() const;

    bool transferRunning() const { return m_dispatcher.busy(); }
    QList<QProcess*> helpViewers() const { return m_helpViewers; }

protected:
    void closeEvent(QCloseEvent* event) override;

    // DispatcherHost
    bool applyStep() override;
    void setMoveEnabled(bool on) override;
    bool checkWriteTicked() override;
    void WriteItem() override;
    void WriteAllItems() override;
    void ReadAllItems() override;

    // TransferView
    void progressStart() override;
    void progressStep() override;
    void progressEnd() override;
    void showError(int messageId, int item) override;
    void processEvents() override;
    bool selectionBoxTicked(int item) override;
    bool stopRequested() override { return m_ending; }
    void connectionLost(const QString& device) override;
    void notice(const QString& text) override;

private:
    void buildUi();
    void buildMenus();
    // A frame holding two buttons named buttonName_0 and _1 that call click(index).
    QGroupBox* buttonFrame(QWidget* parent, const QString& frameName, const QString& buttonName,
                           std::array<QPushButton*, 2>& buttons, void (MainDisp::*click)(int));
    void setCaptions();
    void Form_Load();
    void Timer1_Timer();
    void Check_Command_Click(int row);
    // Label_Modelname: a message (red for an error) or, with an empty text, the model name.
    void showModelLabel(const QString& text, bool error);
    // A status frame line, wrapped wherever it must be, the whole text as its tool tip.
    static void setStatusText(QLabel* label, const QString& text);
    void setPortLine(const QString& text, bool alarm);
    void enterLost(const QString& device);
    void leaveLost();
    QString lostMessage() const;
    void tellNotices();
    void transferEnded();
    void loadState();
    bool saveState(QString* error);
    void closeHelpViewers();
    TransferContext context();

    std::unique_ptr<CommObject> SetCom;
    std::unique_ptr<SettingsStore> m_store;
    UserPrompts m_prompts;
    Dispatcher m_dispatcher{*this};
    bool m_ending = false;
    bool m_lost = false;
    QString m_lostDevice;
    QStringList m_watchPaths;  // the lost device and its stable names
    QString m_openDevice;      // the device the last apply opened
    QStringList m_openAliases; // its stable names at that moment
    QString m_aliasDir = QStringLiteral("/dev/serial/by-id");
    QStringList m_notices; // shown once the running transfer has ended

public:
    // Controls, named as in the design of the window.
    QLabel* Label_Modelname = nullptr;
    QTabBar* TabStrip1 = nullptr;
    std::array<QCheckBox*, kRowsPerPage> Check_Command{};
    std::array<QLineEdit*, kRowsPerPage> Text1{};
    std::array<QLineEdit*, kRowsPerPage> Data0{};
    std::array<QRadioButton*, 2> Option1{};
    QGroupBox* Frame_Move = nullptr;
    std::array<QPushButton*, 2> Command_Move{};
    QGroupBox* Frame_File = nullptr;
    std::array<QPushButton*, 2> Command_File{};
    QCheckBox* Check_write = nullptr;
    QGroupBox* Frame_Comm = nullptr;
    std::array<QLabel*, 8> Label_comm{};
    std::array<QLabel*, 8> Label_commdat{};
    QLabel* Label_port = nullptr; // the device the port name resolved to
    QProgressBar* ProgressBar1 = nullptr;
    QTimer Timer1;
    QTimer Timer2;
    QTimer Timer_lost; // 1 s, runs only while the device is lost

    QMenu* menu_file = nullptr;
    QAction* menu_data = nullptr;
    QAction* menu_export = nullptr;
    QAction* menu_file_end = nullptr;
    QMenu* menu_set = nullptr;
    QAction* menu_set_com = nullptr;
    QAction* menu_set_model = nullptr;
    QAction* menu_set_comdata = nullptr;
    QAction* menu_ver = nullptr;
    QAction* menu_help = nullptr;

private:
    std::array<QLabel*, kRowsPerPage> m_rowAddress{}; // the address beside each row
    QPointer<SubDisp_command> m_selection;
    QPointer<Setting_Disp> m_valueDlg;
    QPointer<SubDisp_comm> m_commDlg;
    QPointer<SubDisp_About> m_about;
    QList<QProcess*> m_helpViewers;
};

} // namespace pmx
