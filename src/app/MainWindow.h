#pragma once
#include "app/UserPrompts.h"
#include "comm/CommObject.h"
#include "comm/ExchangeRecord.h"
#include "comm/PortMap.h"
#include "model/HelpSource.h"
#include "model/InstrumentProfile.h"
#include "model/ItemTable.h"
#include "report/CsvExport.h"
#include "transfer/Dispatcher.h"
#include "transfer/FinderPlan.h"
#include "transfer/Sequences.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <array>
#include <memory>
#include <optional>
#include <set>

class QAction;
class QBoxLayout;
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
class QTcpSocket;

namespace pmx {

class AboutDialog;
class CompareDialog;
class ConditionsDialog;
class FinderDialog;
struct FinderSetup;
class HelpWindow;
class FittingScrollArea;
class ItemSelectionDialog;
class LiveTrend;
class MonitorWindow;
class SettingsStore;
class ValuePadDialog;

// The main window: item pages, transfer and file buttons, condition status, menus.
// It owns the item table, the communication object and the dispatcher for the run.
// Its widgets carry stable object names (docs/architecture.md) for tests and
// accessibility tools; everything else goes through the commands and queries below.
class MainWindow : public QMainWindow, public DispatcherHost, public TransferView {
    Q_OBJECT
  public:
    MainWindow(std::unique_ptr<CommObject> com, UserPrompts prompts, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Starts the run: activates the communication object, posts the apply task, shows the
    // window and starts the dispatcher.
    void startCommunication();
    // The task starts at the next pass of the event loop, not at the next idle tick.
    void postTask(Task task);
    // Runs the pending task; the dispatcher timer calls it.
    void onDispatcherTick();
    // Ends the run when the system or the terminal asks (SIGTERM, SIGINT, SIGHUP): a
    // transfer stops before its next exchange, the port closes, and nothing is saved,
    // the state file included, since no operator confirmed the end.
    void endOnRequest();

    // ---- queries
    const ItemTable& items() const { return m_table; }
    Task pendingTask() const { return m_dispatcher.task(); }
    bool transferRunning() const { return m_dispatcher.busy(); }
    int currentPage() const; // 0..3
    // A value as the pages show it in the DEC/HEX mode chosen.
    QString formatValue(qint16 value) const;
    // The help file opened by Help (it may not exist).
    QString helpPath() const { return m_helpPath; }
    // An item failure or a reconnection is on show in the model label.
    bool failureOnShow() const { return m_failureTimer.isActive(); }
    bool deviceLost() const { return m_lost; }
    QString lostDevice() const { return m_lostDevice; }
    QList<QProcess*> helpViewers() const { return m_helpViewers; }
    // The built-in guide's window, or null.
    HelpWindow* helpWindow() const;
    // What Help looks for (the machine's files and programs unless a test says otherwise).
    void setHelpFinder(const help::HelpFinder& finder) { m_helpFinder = finder; }
    // Every exchange of the run (the last 10 000), as the monitor shows them.
    const ExchangeLog& exchangeLog() const { return m_exchangeLog; }
    // Items that failed in the last Read or Write (marked on the pages).
    const std::set<int>& failedItems() const { return m_failedItems; }

    // Replaces names, values and selections (as a data file load does) and redraws the
    // page.
    void setItems(const ItemTable& items);

    // ---- commands of the buttons and menus
    void requestRead();  // asks, then posts the read of all items
    void requestWrite(); // asks, then posts the write of all items
    void loadDataFile();
    void saveDataFile();
    void chooseModel(); // loads item names from a model definition file
    void openItemSelection();
    void openConditions();
    void showAbout();
    // Help on the menu bar: the guide from its start.
    void showHelp();
    // F1: the guide at what it tells of the window with this object name.
    void showHelpAt(const QString& windowName);
    void showAllData();
    void exportCsv();
    // The encoding chosen for the CSV exports (File > CSV encoding, remembered).
    CsvEncoding csvEncoding() const;
    // Posts the comparison with the instrument; its end shows the comparison dialog.
    void requestCompare();
    // Appends the comparison shown to a CSV file the operator names.
    void exportComparison();
    // The comparison dialog, or null before the first comparison.
    CompareDialog* compareDialog() const;
    // File > Change history (MainWindowHistory.cpp).
    void openHistory();
    void openMonitor();
    // The instrument search (MainWindowFinder.cpp): its dialog, created when needed.
    void openFinder();
    FinderDialog* finderDialog() const;
    // The serial devices the search and its dialog offer (tests replace the system's).
    void setPortDiscovery(PortMap::Discovery discover) { m_discover = std::move(discover); }
    // Ends the running Read or Write after its current exchange.
    void stopTransfer();
    // The value cell of a row was clicked: the value dialog edits its item.
    void editValue(int row);

    // Ends the display of an item failure; the failure display timer calls it.
    void endFailureDisplay();
    // How long an item failure stays on show (5 s unless a test shortens it).
    void setFailureDisplayTime(int ms) { m_failureTimer.setInterval(ms); }
    // While the device is lost: posts the apply step once it is back; the lost device
    // timer calls it every second. A network address cannot be watched like a file: a
    // connection is tried in the background every kNetworkRetryMs, and its success posts
    // the apply step, so the window never waits on an unreachable device server.
    void checkLostDevice();
    static constexpr int kNetworkRetryMs = 3000;
    void setNetworkRetryTime(int ms) { m_networkRetryMs = ms; }
    // A try to reach a lost network device is under way.
    bool networkProbeRunning() const;
    // Where the stable names of serial devices live (tests point it elsewhere).
    void setDeviceAliasDir(const QString& dir) { m_aliasDir = dir; }

    // The selection dialog, created hidden when it does not exist.
    ItemSelectionDialog* selectionDialog();
    // The conditions dialog, created hidden when it does not exist.
    ConditionsDialog* conditionsDialog();
    // The open value and version dialogs, or null.
    ValuePadDialog* valueDialog() const;
    AboutDialog* aboutDialog() const;
    MonitorWindow* monitorWindow() const;

    // The kinds of file the operator chooses; each remembers the folder it was last
    // chosen in.
    enum class FileKind { Model, Data, Csv };
    // Where a file dialog of the kind starts: the last folder chosen, else its own one.
    QString startFolder(FileKind kind) const;

    // Sizes the window for a screen whose available area is `available`; the pages scroll
    // in what is left of it. fitToScreen does so for the window's screen.
    void fitTo(const QSize& available);

    // ---- the instrument profile and watching live items (MainWindowProfile.cpp)
    // The profile in use, or null: none found, or the one found was refused.
    const InstrumentProfile* profile() const { return m_profile ? &*m_profile : nullptr; }
    // Looks for the profile of the model (beside `modelPath` when given, else by the
    // model's name) and uses it, or none; a refused one is named on the summary line.
    void findProfile(const QString& modelPath);
    // Uses the profile at `path`; false (and no profile) when it is refused.
    bool useProfile(const QString& path);
    // "Watch live items": while idle, the selected live items are read every interval.
    void setWatchLive(bool on);
    bool watchingLive() const;
    void setWatchInterval(int ms);
    int watchInterval() const;
    // The trend of the watched items, or null before watching first began.
    LiveTrend* liveTrend() const { return m_trend; }
    // The watch timer's step: posts a round when the line is idle (tests call it).
    void watchTick();

  protected:
    void closeEvent(QCloseEvent* event) override;

    // DispatcherHost
    bool applyStep() override;
    void setTransferEnabled(bool on) override;
    void refreshValues() override;
    bool sendOnChangeTicked() override;
    void writeChangedItem() override;
    void writeAllItems() override;
    void readAllItems() override;
    void compareItems() override;
    void writeDifferences() override;
    bool findInstruments() override;
    void watchLiveItems() override;

    // TransferView
    void progressStart() override;
    void progressStep() override;
    void progressEnd() override;
    void progressItem(int n, int m, int item) override;
    void showError(int messageId, int item) override;
    void processEvents() override;
    bool selectionBoxTicked(int item) override;
    bool stopRequested() override { return m_ending || m_stopPressed; }
    void connectionLost(const QString& device) override;
    void notice(const QString& text) override;
    void readBackDiffers(int item, qint16 wrote, qint16 holds) override;

  private:
    void probeNetworkDevice();
    // ---- the instrument search (MainWindowFinder.cpp)
    void startFinder();
    void useFoundSettings();
    // What the search dialog offers: the conditions and the device in effect, the devices.
    FinderSetup finderSetup() const;
    // ---- building (MainWindow.cpp)
    void buildUi();
    void buildPage(QWidget* central, QBoxLayout* into);
    void buildSide(QWidget* central, QBoxLayout* into);
    void buildMenus();
    // A frame holding two buttons named buttonName_0 and _1.
    QGroupBox* buttonFrame(QWidget* parent, const QString& frameName, const QString& buttonName,
                           QPushButton*& first, QPushButton*& second);
    void setCaptions();
    void loadInitialState();
    // The table as it was last read, loaded or saved; the title marks a table that differs.
    void keepAsUnchanged();
    void markChanges();

    void rememberFolder(FileKind kind, const QString& chosenFile);

    // ---- keyboard (MainWindowKeys.cpp)
    // The value cells' keys, the tab order of the rows, Ctrl+O, Ctrl+S and Ctrl+Q.
    void setUpKeyboard();
    void fitToScreen();

    // ---- the item pages (MainWindowPage.cpp)
    // Names and selection boxes of the current page.
    void drawNamesAndBoxes();
    // Names, boxes and values of the current page, whatever the communication state.
    void drawPage();
    int firstItemOnPage() const { return currentPage() * kRowsPerPage; }
    // A selection box was changed by the operator or by drawing.
    void applySelectBox(int row);
    // The model label: a message (red for an error) or, with an empty text, the model name.
    void showModelLabel(const QString& text, bool error);
    // A status frame line, wrapped wherever it must be, the whole text as its tool tip.
    static void setStatusText(QLabel* label, const QString& text);
    void setPortLine(const QString& text, bool alarm);

    // ---- the line (MainWindowLine.cpp)
    void enterLost(const QString& device);
    void leaveLost();
    QString lostMessage() const;
    void tellNotices();
    void transferEnded();
    TransferContext context();
    // Around a Read or Write: the Stop button, the summary and the marks of failed items.
    void beginTransfer();
    void endTransfer(const TransferResult& result, bool write, int planned);
    // A write the change log could not take: on the model label (ChangeLog.h).
    void tellChangeLogFailure(const TransferResult& result);
    // The line under the pages: a transfer's summary, a notice, where an export went.
    void showOnSummaryLine(const QString& text, bool failure);
    // A page's value cell shows whether its item failed in the last transfer.
    void markFailedRows();
    QString describeExchange(const ExchangeRecord& record) const;
    // Tool tips of the page's value cells from the profile, and the look of live items.
    void markProfileRows();
    void buildWatch(QWidget* central, QBoxLayout* side);

    // ---- state file, help and shutdown (MainWindowState.cpp)
    void loadState();
    bool saveState(QString* error);
    void startHelpViewer(const QString& viewer, const QString& file);
    void closeHelpViewers();
    void stopEverything();

    std::unique_ptr<CommObject> m_com;
    std::unique_ptr<SettingsStore> m_store;
    UserPrompts m_prompts;
    ItemTable m_table;
    ItemTable m_unchanged; // as last read, loaded or saved
    Dispatcher m_dispatcher{*this};
    QString m_appDir;
    QString m_helpPath;
    bool m_ending = false;
    bool m_keepStateCopy = false; // the state file was not loaded: keep it before replacing it
    bool m_stopPressed = false;
    bool m_lost = false;
    QString m_lostDevice;
    QStringList m_watchPaths;  // the lost device and its stable names
    QString m_openDevice;      // the device the last apply opened
    QStringList m_openAliases; // its stable names at that moment
    QString m_aliasDir = QStringLiteral("/dev/serial/by-id");
    QStringList m_notices; // shown once the running transfer has ended
    // The summary line holds what the transfer just ended came to (notices are added to
    // it), and whether that is a failure.
    bool m_summaryFresh = false;
    bool m_summaryFailure = false;
    ExchangeLog m_exchangeLog;
    std::set<int> m_failedItems;
    QTcpSocket* m_probe = nullptr; // tries a lost network address
    QElapsedTimer m_probeStarted;
    int m_networkRetryMs = kNetworkRetryMs;

    std::optional<InstrumentProfile> m_profile;
    QCheckBox* m_watchBox = nullptr; // Check_watch
    QTimer m_watchTimer;
    LiveTrend* m_trend = nullptr;
    bool m_includeLive = false; // the comparison dialog's "include live items"

    QTimer m_dispatcherTimer;
    QTimer m_failureTimer;    // ends the display of an item failure
    QTimer m_lostDeviceTimer; // runs only while the device is lost

    QLabel* m_modelLabel = nullptr;
    QLabel* m_startHint = nullptr;             // how to begin, while no model is loaded
    FittingScrollArea* m_bodyScroll = nullptr; // the pages and the side
    QTabBar* m_pageTabs = nullptr;
    std::array<QLabel*, kRowsPerPage> m_rowAddress{};
    std::array<QCheckBox*, kRowsPerPage> m_selectBoxes{};
    std::array<QLineEdit*, kRowsPerPage> m_nameCells{};
    std::array<QLineEdit*, kRowsPerPage> m_valueCells{};
    QRadioButton* m_decButton = nullptr;
    QRadioButton* m_hexButton = nullptr;
    QGroupBox* m_transferFrame = nullptr;
    QPushButton* m_readButton = nullptr;
    QPushButton* m_writeButton = nullptr;
    QGroupBox* m_fileFrame = nullptr;
    QPushButton* m_loadButton = nullptr;
    QPushButton* m_saveButton = nullptr;
    QCheckBox* m_sendOnChangeBox = nullptr;
    QCheckBox* m_verifyBox = nullptr;
    QGroupBox* m_conditionsFrame = nullptr;
    std::array<QLabel*, 8> m_conditionCaptions{};
    std::array<QLabel*, 8> m_conditionValues{};
    QLabel* m_blockCaption = nullptr; // Label_comm_block
    QLabel* m_blockValue = nullptr;   // Label_commdat_block: block reads in effect
    QLabel* m_portLine = nullptr;     // the device the port name resolved to, or why not
    QString m_portLineText;           // ... as last set, without the line's echo
    bool m_portLineAlarm = false;
    bool m_echoShown = false; // the port line names an echoing line
    QProgressBar* m_progressBar = nullptr;
    QLabel* m_summaryLabel = nullptr;
    QPushButton* m_stopButton = nullptr;

    QMenu* m_fileMenu = nullptr;
    QAction* m_allDataAction = nullptr;
    QAction* m_exportAction = nullptr;
    QMenu* m_csvEncodingMenu = nullptr; // the export's encoding, one checked
    QAction* m_compareAction = nullptr;
    QAction* m_endAction = nullptr;
    QMenu* m_settingMenu = nullptr;
    QAction* m_itemSelectionAction = nullptr;
    QAction* m_unitSelectionAction = nullptr;
    QAction* m_conditionsAction = nullptr;
    QAction* m_monitorAction = nullptr;
    QAction* m_findAction = nullptr;
    QAction* m_versionAction = nullptr;
    QAction* m_helpAction = nullptr;

    QPointer<ItemSelectionDialog> m_selectionDialog;
    QPointer<ValuePadDialog> m_valueDialog;
    QPointer<ConditionsDialog> m_conditionsDialog;
    QPointer<AboutDialog> m_aboutDialog;
    QPointer<CompareDialog> m_compareDialog;
    QAction* m_historyAction = nullptr;
    QPointer<QDialog> m_historyWindow;
    QPointer<MonitorWindow> m_monitor;
    QPointer<FinderDialog> m_finderDialog;
    FinderOptions m_finderOptions; // of the search posted
    PortMap::Discovery m_discover; // empty: the system's devices
    QList<QProcess*> m_helpViewers;
    QPointer<HelpWindow> m_helpWindow;
    std::optional<help::HelpFinder> m_helpFinder; // none: the machine's, at each Help
};

} // namespace pmx
