#pragma once
#include "comm/PortMap.h"
#include "transfer/Finder.h"

#include <QDialog>
#include <QList>
#include <optional>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTableWidget;

namespace pmx {

class FittingScrollArea;

// What the dialog offers to search.
struct FinderSetup {
    Conditions inEffect;
    QString portInEffect; // the device the port in effect opens, by its stable name
    QList<SerialPortEntry> devices;
};

// The instrument search: what to try, the worst case before it starts, the progress of
// the tries while it runs, and every instrument found. The main window runs the search
// (see MainWindow::findInstruments) and feeds the dialog; the dialog only asks for a
// start, a cancel, or the settings of the row chosen.
class FinderDialog : public QDialog {
    Q_OBJECT
  public:
    explicit FinderDialog(const FinderSetup& setup, QWidget* parent = nullptr);

    // What is in effect now (after "Use these settings", say); the choices made stay.
    void setSetup(const FinderSetup& setup);
    // The options as chosen.
    FinderOptions options() const;

    // ---- the search, as the main window runs it
    void scanStarted(const FinderPlan& plan);
    void tryStarting(int n, int m, const ProbeTarget& target);
    void addFound(const FoundInstrument& instrument);
    void portSkipped(const QString& port, const QString& why);
    // The line on `port` sends every request back: said beside the other notes.
    void lineEchoes(const QString& port);
    void scanEnded(const FinderResult& result);
    bool running() const { return m_running; }
    bool cancelRequested() const { return m_cancel; }
    void requestCancel();
    // A message under the results (busy line, settings stored).
    void showMessage(const QString& text);

    // The instruments found, in the order found; the one of the row chosen.
    QList<FoundInstrument> found() const { return m_found; }
    std::optional<FoundInstrument> chosen() const;

  signals:
    void startRequested();
    void useRequested();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

  private:
    void refreshEstimate();
    void setOptionsEnabled(bool on);

    FinderSetup m_setup;
    QList<FoundInstrument> m_found;
    bool m_running = false;
    bool m_cancel = false;

    QRadioButton* m_portInEffect = nullptr; // Option_port_0
    QRadioButton* m_everyDevice = nullptr;  // Option_port_1
    QList<QCheckBox*> m_protocolBoxes;      // Check_prot_0..2
    QLabel* m_instrumentInEffect = nullptr; // Label_instrument
    QCheckBox* m_allInstruments = nullptr;  // Check_allinst
    QCheckBox* m_stopAtFirst = nullptr;     // Check_stopfirst
    QSpinBox* m_answerWait = nullptr;       // Spin_wait
    QLabel* m_estimate = nullptr;           // Label_estimate
    QProgressBar* m_progress = nullptr;     // ProgressBar_find
    QLabel* m_trying = nullptr;             // Label_trying
    QTableWidget* m_table = nullptr;        // Grid_found
    FittingScrollArea* m_scroll = nullptr;  // everything but the buttons, on a small screen
    QLabel* m_message = nullptr;            // Label_findstatus
    QPushButton* m_startButton = nullptr;   // Command_start (Start / Cancel)
    QPushButton* m_useButton = nullptr;     // Command_use
};

} // namespace pmx
