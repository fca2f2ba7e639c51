#include "app/MainDisp.h"

#include "comm/Conditions.h"
#include "comm/SettingsStore.h"
#include "model/AppPaths.h"
#include "model/ModelDefinition.h"
#include "model/StateFile.h"
#include "model/TableFile.h"
#include "model/AtomicFile.h"
#include "report/CsvExport.h"
#include "report/ListData.h"
#include "ui/ReportWindow.h"
#include "ui/SubDisp_About.h"
#include "ui/SubDisp_comm.h"
#include "ui/SubDisp_command.h"
#include "ui/Setting_Disp.h"
#include "ui/TextWrap.h"
#include "ui/strings/StringTable.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTabBar>
#include <QVBoxLayout>

#include <utility>

namespace pmx {

namespace {

const QString kTitle = QStringLiteral("PMX-31570A");

// The dispatcher's idle redraw period. The original design ticks every millisecond;
// posted tasks start at once anyway (postTask), so the idle redraw only needs to be
// quicker than the eye, and the program stays near zero CPU while idle.
constexpr int kIdleTickMs = 40;

QString tr2(const char* en, const char* ja) {
    return strings::language() == strings::Lang::Japanese ? QString::fromUtf8(ja)
                                                          : QString::fromUtf8(en);
}

// A lost device is looked for once a second: quick enough for a re-plugged adapter,
// and nothing runs while the line is in order.
constexpr int kLostWatchMs = 1000;

const QString kRed = QStringLiteral("color: rgb(255, 0, 0);");
const QString kBlack = QStringLiteral("color: black;");
const QString kGreen = QStringLiteral("color: rgb(0, 110, 0);");

// The stable names (symbolic links in dir) that lead to the same device, so that an
// adapter coming back under another kernel name is still recognised.
QStringList stableNames(const QString& device, const QString& dir) {
    QStringList names;
    const QString target = QFileInfo(device).canonicalFilePath();
    if (target.isEmpty() || dir.isEmpty())
        return names;
    const QFileInfoList links =
        QDir(dir).entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& link : links) {
        if (link.canonicalFilePath() == target && link.absoluteFilePath() != device)
            names << link.absoluteFilePath();
    }
    return names;
}

// Turns "*.txt(text file)|*.txt" style filters into Qt's "*.txt(text file) (*.txt)".
QString qtFilter(const QString& classic) {
    const QStringList parts = classic.split(QLatin1Char('|'));
    if (parts.size() != 2)
        return classic;
    return parts[0] + QStringLiteral(" (") + parts[1] + QLatin1Char(')');
}

// Clicking a value cell opens the value change dialog for its item.
class ClickFilter : public QObject {
public:
    ClickFilter(QObject* parent, std::function<void()> onClick)
        : QObject(parent), m_onClick(std::move(onClick)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonRelease) {
            auto* me = static_cast<QMouseEvent*>(event);
            if (me->button() == Qt::LeftButton)
                m_onClick();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_onClick;
};

} // namespace

UserPrompts UserPrompts::interactive() {
    UserPrompts p;
    p.askYesNo = [](QWidget* parent, const QString& text) {
        QMessageBox box(QMessageBox::Warning, kTitle, text, QMessageBox::Yes | QMessageBox::No,
                        parent);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes;
    };
    p.openFile = [](QWidget* parent, const QString& dir, const QString& filter) {
        return QFileDialog::getOpenFileName(parent, QString(), dir, qtFilter(filter));
    };
    p.saveFile = [](QWidget* parent, const QString& dir, const QString& filter,
                    const QString& suffix, const QString& proposed) {
        QFileDialog dialog(parent, QString(), dir, qtFilter(filter));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(suffix);
        if (!proposed.isEmpty())
            dialog.selectFile(proposed);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        return dialog.selectedFiles().constFirst();
    };
    p.tellError = [](QWidget* parent, const QString& text) {
        QMessageBox::warning(parent, kTitle, text);
    };
    p.tellInfo = [](QWidget* parent, const QString& text) {
        QMessageBox::information(parent, kTitle, text);
    };
    return p;
}

MainDisp::MainDisp(std::unique_ptr<CommObject> com, UserPrompts prompts, QWidget* parent)
    : QMainWindow(parent), SetCom(std::move(com)), m_store(std::make_unique<QSettingsStore>()),
      m_prompts(std::move(prompts)) {
    setObjectName(QStringLiteral("MainDisp"));
    buildUi();
    buildMenus();
    Timer1.setInterval(kIdleTickMs);
    connect(&Timer1, &QTimer::timeout, this, &MainDisp::Timer1_Timer);
    Timer2.setInterval(5000);
    Timer2.setSingleShot(false);
    connect(&Timer2, &QTimer::timeout, this, &MainDisp::Timer2_Timer);
    Timer_lost.setInterval(kLostWatchMs);
    connect(&Timer_lost, &QTimer::timeout, this, &MainDisp::Timer_lost_Timer);
    if (SetCom)
        SetCom->setLostHandler([this] { enterLost(SetCom->lostDevice()); });
    Form_Load();
}

MainDisp::~MainDisp() {
    Timer1.stop();
    Timer_lost.stop();
    if (SetCom)
        SetCom->setLostHandler({}); // closing the port below must not call back into us
    if (SetCom)
        SetCom->ClosePort();
    closeHelpViewers();
}

void MainDisp::buildUi() {
    auto* central = new QWidget(this);
    auto* outer = new QVBoxLayout(central);

    Label_Modelname = new QLabel(central);
    Label_Modelname->setObjectName(QStringLiteral("Label_Modelname"));
    QFont big = Label_Modelname->font();
    big.setPointSizeF(big.pointSizeF() * 1.3);
    big.setBold(true);
    Label_Modelname->setFont(big);
    Label_Modelname->setMinimumHeight(28);
    outer->addWidget(Label_Modelname);

    auto* body = new QHBoxLayout;
    outer->addLayout(body, 1);

    // Left: the tab strip over 32 rows shared by the four pages.
    auto* pageBox = new QVBoxLayout;
    TabStrip1 = new QTabBar(central);
    TabStrip1->setObjectName(QStringLiteral("TabStrip1"));
    for (const char* caption : {"0000-001Fh", "0020-003Fh", "0040-005Fh", "0060-007Fh"})
        TabStrip1->addTab(QString::fromLatin1(caption));
    pageBox->addWidget(TabStrip1);

    auto* rows = new QGridLayout;
    rows->setVerticalSpacing(1);
    rows->setHorizontalSpacing(4);
    for (int r = 0; r < kRowsPerPage; ++r) {
        // Two columns of 16 rows keep the window within a laptop screen.
        const int col = (r / 16) * 4;
        const int line = r % 16;
        m_rowAddress[r] = new QLabel(itemAddressText(r), central);
        m_rowAddress[r]->setObjectName(QStringLiteral("Label_row_%1").arg(r));
        rows->addWidget(m_rowAddress[r], line, col);
        Check_Command[r] = new QCheckBox(central);
        Check_Command[r]->setObjectName(QStringLiteral("Check_Command_%1").arg(r));
        rows->addWidget(Check_Command[r], line, col + 1);
        Text1[r] = new QLineEdit(central);
        Text1[r]->setObjectName(QStringLiteral("Text1_%1").arg(r));
        Text1[r]->setReadOnly(true);
        Text1[r]->setMinimumWidth(190);
        rows->addWidget(Text1[r], line, col + 2);
        Data0[r] = new QLineEdit(QStringLiteral("----"), central);
        Data0[r]->setObjectName(QStringLiteral("Data0_%1").arg(r));
        Data0[r]->setReadOnly(true);
        Data0[r]->setAlignment(Qt::AlignRight);
        Data0[r]->setFixedWidth(80);
        Data0[r]->setCursor(Qt::PointingHandCursor);
        Data0[r]->installEventFilter(new ClickFilter(Data0[r], [this, r] { Data0_Click(r); }));
        rows->addWidget(Data0[r], line, col + 3);
        connect(Check_Command[r], &QCheckBox::stateChanged, this,
                [this, r](int) { Check_Command_Click(r); });
    }
    rows->setColumnStretch(2, 1);
    rows->setColumnStretch(6, 1);
    pageBox->addLayout(rows);
    pageBox->addStretch();
    body->addLayout(pageBox, 1);
    connect(TabStrip1, &QTabBar::currentChanged, this, [this](int) {
        for (int r = 0; r < kRowsPerPage; ++r)
            m_rowAddress[r]->setText(itemAddressText((selectedTab() - 1) * kRowsPerPage + r));
        drawPage();
    });

    // Right: format, transfer, files, conditions.
    auto* side = new QVBoxLayout;
    auto* formatBox = new QGroupBox(central);
    auto* formatLayout = new QHBoxLayout(formatBox);
    for (int k = 0; k < 2; ++k) {
        Option1[k] = new QRadioButton(formatBox);
        Option1[k]->setObjectName(QStringLiteral("Option1_%1").arg(k));
        formatLayout->addWidget(Option1[k]);
        connect(Option1[k], &QRadioButton::toggled, this, [this](bool on) {
            if (on)
                SelectDispItem();
        });
    }
    Option1[0]->setChecked(true);
    side->addWidget(formatBox);

    Frame_Move = buttonFrame(central, QStringLiteral("Frame_Move"), QStringLiteral("Command_Move"),
                             Command_Move, &MainDisp::Command_Move_Click);
    side->addWidget(Frame_Move);
    setMoveEnabled(false);

    Frame_File = buttonFrame(central, QStringLiteral("Frame_File"), QStringLiteral("Command_File"),
                             Command_File, &MainDisp::Command_File_Click);
    side->addWidget(Frame_File);

    Check_write = new QCheckBox(central);
    Check_write->setObjectName(QStringLiteral("Check_write"));
    Check_write->setChecked(false);
    side->addWidget(Check_write);

    Frame_Comm = new QGroupBox(central);
    Frame_Comm->setObjectName(QStringLiteral("Frame_Comm"));
    auto* commLayout = new QGridLayout(Frame_Comm);
    for (int k = 0; k < 8; ++k) {
        Label_comm[k] = new QLabel(Frame_Comm);
        Label_comm[k]->setObjectName(QStringLiteral("Label_comm_%1").arg(k));
        Label_commdat[k] = new WrappedLabel(Frame_Comm); // a typed port text can be long
        Label_commdat[k]->setObjectName(QStringLiteral("Label_commdat_%1").arg(k));
        Label_commdat[k]->setMinimumWidth(90);
        commLayout->addWidget(Label_comm[k], k, 0);
        commLayout->addWidget(Label_commdat[k], k, 1);
    }
    Label_port = new WrappedLabel(Frame_Comm); // reasons and device paths can be long
    Label_port->setObjectName(QStringLiteral("Label_port"));
    QFont small = Label_port->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    Label_port->setFont(small);
    commLayout->addWidget(Label_port, 8, 0, 1, 2);
    side->addWidget(Frame_Comm);
    side->addStretch();
    body->addLayout(side);

    ProgressBar1 = new QProgressBar(central);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, kItemCount);
    QSizePolicy keepRoom = ProgressBar1->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true); // the window does not jump when a transfer starts
    ProgressBar1->setSizePolicy(keepRoom);
    ProgressBar1->setVisible(false);
    outer->addWidget(ProgressBar1);

    setCentralWidget(central);
}

QGroupBox* MainDisp::buttonFrame(QWidget* parent, const QString& frameName, const QString& buttonName,
                                  std::array<QPushButton*, 2>& buttons, void (MainDisp::*click)(int)) {
    auto* frame = new QGroupBox(parent);
    frame->setObjectName(frameName);
    auto* layout = new QHBoxLayout(frame);
    for (int k = 0; k < 2; ++k) {
        buttons[k] = new QPushButton(frame);
        buttons[k]->setObjectName(QStringLiteral("%1_%2").arg(buttonName).arg(k));
        layout->addWidget(buttons[k]);
        connect(buttons[k], &QPushButton::clicked, this, [this, click, k] { (this->*click)(k); });
    }
    return frame;
}

void MainDisp::buildMenus() {
    menu_file = menuBar()->addMenu(QString());
    menu_file->setObjectName(QStringLiteral("menu_file"));
    menu_data = menu_file->addAction(QString(), this, &MainDisp::menu_data_Click);
    menu_data->setObjectName(QStringLiteral("menu_data"));
    menu_export = menu_file->addAction(QString(), this, &MainDisp::menu_export_Click);
    menu_export->setObjectName(QStringLiteral("menu_export"));
    menu_file_end = menu_file->addAction(QString(), this, [this] { close(); });
    menu_file_end->setObjectName(QStringLiteral("menu_file_end"));

    menu_set = menuBar()->addMenu(QString());
    menu_set->setObjectName(QStringLiteral("menu_set"));
    menu_set_com = menu_set->addAction(QString(), this, &MainDisp::menu_set_com_Click);
    menu_set_com->setObjectName(QStringLiteral("menu_set_com"));
    menu_set_model = menu_set->addAction(QString(), this, &MainDisp::menu_set_model_Click);
    menu_set_model->setObjectName(QStringLiteral("menu_set_model"));
    menu_set->addSeparator()->setObjectName(QStringLiteral("numlin2"));
    menu_set_comdata = menu_set->addAction(QString(), this, &MainDisp::menu_set_comdata_Click);
    menu_set_comdata->setObjectName(QStringLiteral("menu_set_comdata"));

    // "Version information" and "Help" are commands on the menu bar itself.
    menu_ver = menuBar()->addAction(QString(), this, &MainDisp::menu_ver_Click);
    menu_ver->setObjectName(QStringLiteral("menu_ver"));
    menu_help = menuBar()->addAction(QString(), this, &MainDisp::menu_help_Click);
    menu_help->setObjectName(QStringLiteral("menu_help"));
}

void MainDisp::setCaptions() {
    using strings::text;
    menu_file->setTitle(text(4));
    menu_data->setText(text(110));
    menu_export->setText(text(111));
    menu_file_end->setText(text(5));
    menu_set->setTitle(text(6));
    menu_set_com->setText(text(9));
    menu_set_model->setText(text(10));
    menu_set_comdata->setText(text(11));
    menu_ver->setText(text(8));
    menu_help->setText(text(7));
    Option1[0]->setText(text(13));
    Option1[1]->setText(text(14));
    Frame_Move->setTitle(text(20));
    Command_Move[0]->setText(text(21));
    Command_Move[1]->setText(text(22));
    Frame_File->setTitle(text(23));
    Command_File[0]->setText(text(24));
    Command_File[1]->setText(text(25));
    Check_write->setText(text(42));
    Frame_Comm->setTitle(text(32));
    const int ids[8] = {26, 27, 28, 29, 30, 31, 33, 34};
    for (int k = 0; k < 8; ++k)
        Label_comm[k]->setText(text(ids[k]));
    // The tab strip's secondary text becomes its tool tip.
    TabStrip1->setToolTip(text(39));
}

void MainDisp::Form_Load() {
    // Step 3 of the original (the report connection) has no counterpart: the report is
    // built in memory when asked for.
    table.ItemSel.fill(0);
    applicationDir = applicationDirectory();
    const QString english = QStringLiteral("KORVAN DELTRIS CO., LTD.");
    table.LangEng = strings::text(2) == english;
    HelpPath = applicationDir +
               (table.LangEng ? QStringLiteral("/PMX-31570A_E.chm") : QStringLiteral("/PMX-31570A_J.chm"));
    setWindowTitle(strings::text(3) + QLatin1Char(' ') + strings::text(1));
    setCaptions();
    loadState();
    drawPage();
}

void MainDisp::loadState() {
    QList<int> selectionsRead;
    QString error;
    bool found = false;
    // A damaged state file keeps what was read before the damage (as before).
    loadStateFile(applicationDir, table, &selectionsRead, &error, &found);
    if (!found)
        return;
    // The selection dialog's boxes take the flags read, as they always have.
    if (!selectionsRead.isEmpty()) {
        SubDisp_command* dlg = selectionDialog();
        for (int i : selectionsRead)
            dlg->setBox(i, table.ItemSel[i]);
    }
}

bool MainDisp::saveState(QString* error) {
    return saveStateFile(applicationDir, table, error);
}

void MainDisp::communicate() {
    m_ending = false;
    if (SetCom)
        SetCom->Activate(true);
    m_dispatcher.CommTask = kTaskApply;
    show();
    Timer1.start();
    QTimer::singleShot(0, this, &MainDisp::Timer1_Timer);
}

void MainDisp::postTask(qint16 code) {
    m_dispatcher.CommTask = code;
    // Start the task at the next pass of the event loop, not the next idle tick.
    QTimer::singleShot(0, this, &MainDisp::Timer1_Timer);
}

void MainDisp::Timer1_Timer() {
    if (m_ending)
        return;
    m_dispatcher.tick();
}

void MainDisp::Timer2_Timer() {
    Timer2.stop();
    showModelLabel(QString(), false);
    // In a transfer the next exchange may block before the label would be painted, and
    // its failure would replace the name unseen.
    if (m_dispatcher.busy())
        Label_Modelname->repaint();
}

void MainDisp::showModelLabel(const QString& text, bool error) {
    if (text.isEmpty() && m_lost) {
        // While the device is away its loss is what the label says.
        showModelLabel(lostMessage(), true);
        return;
    }
    Label_Modelname->setStyleSheet(error ? kRed : kBlack);
    Label_Modelname->setText(text.isEmpty() ? table.ModelName : text);
}

void MainDisp::setStatusText(QLabel* label, const QString& text) {
    label->setText(breakable(text));
    label->setToolTip(text);
}

void MainDisp::setPortLine(const QString& text, bool alarm) {
    Label_port->setStyleSheet(alarm ? kRed : QString());
    setStatusText(Label_port, text);
}

int MainDisp::selectedTab() const { return TabStrip1->currentIndex() + 1; }

void MainDisp::RefreshName() {
    // A message on show stays until its own end (Timer2, or the device coming back).
    if (!Timer2.isActive() && !m_lost)
        showModelLabel(QString(), false);
    const int base = (selectedTab() - 1) * kRowsPerPage;
    for (int r = 0; r < kRowsPerPage; ++r) {
        const int i = base + r;
        Text1[r]->setText(table.ItemName[i]);
        Text1[r]->setCursorPosition(0);
        Text1[r]->setToolTip(table.ItemName[i]);
        // Setting the box runs the check box rule when its state changes (kept quirk:
        // a refresh clears the selection of an undefined item whose box turns on).
        Check_Command[r]->setChecked(table.ItemSel[i] == 1);
    }
}

void MainDisp::SelectDispItem() {
    const int base = (selectedTab() - 1) * kRowsPerPage;
    for (int r = 0; r < kRowsPerPage; ++r) {
        const int i = base + r;
        const QString text = table.isSelected(i) ? hexordec(table.ItemData[i]) : QStringLiteral("------");
        if (Data0[r]->text() != text) // idle ticks redraw nothing that did not change
            Data0[r]->setText(text);
    }
}

void MainDisp::drawPage() {
    RefreshName();
    SelectDispItem();
}

QString MainDisp::hexordec(qint16 i) const {
    if (Option1[1]->isChecked())
        return QString::number(quint16(i), 16).toUpper() + QLatin1Char('h');
    return QString::number(i);
}

void MainDisp::Check_Command_Click(int row) {
    const int i = (selectedTab() - 1) * kRowsPerPage + row;
    if (!ItemTable::isUndefinedName(table.ItemName[i])) {
        table.ItemSel[i] = Check_Command[row]->isChecked() ? 1 : 0;
    } else {
        table.ItemSel[i] = 0;
        if (Check_Command[row]->isChecked())
            Check_Command[row]->setChecked(false);
    }
    SelectDispItem(); // the cell shows the value or "------" with the box
}

// ---- dialogs -------------------------------------------------------------------

SubDisp_command* MainDisp::selectionDialog() {
    if (!m_selection) {
        m_selection = new SubDisp_command(table, this);
        connect(m_selection, &SubDisp_command::accepted, this, &MainDisp::drawPage);
    }
    return m_selection;
}

SubDisp_comm* MainDisp::conditionDialog() {
    if (!m_commDlg) {
        m_commDlg = new SubDisp_comm(*m_store, this);
        connect(m_commDlg, &SubDisp_comm::conditionsStored, this, [this] { postTask(kTaskApply); });
    }
    return m_commDlg;
}

Setting_Disp* MainDisp::valueDialog() const { return m_valueDlg; }

SubDisp_About* MainDisp::aboutDialog() const { return m_about; }

void MainDisp::menu_set_com_Click() {
    SubDisp_command* dlg = selectionDialog();
    dlg->show();
    dlg->raise();
    dlg->activateWindow();
}

void MainDisp::menu_set_comdata_Click() {
    SubDisp_comm* dlg = conditionDialog();
    dlg->show();
    dlg->raise();
    dlg->activateWindow();
}

void MainDisp::menu_ver_Click() {
    if (m_about && !m_about->isVisible())
        m_about = nullptr;
    if (!m_about)
        m_about = new SubDisp_About(this);
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

void MainDisp::menu_set_model_Click() {
    const QString path = m_prompts.openFile(this, applicationDir, QStringLiteral("*.txt(text file)|*.txt"));
    if (path.isEmpty())
        return;
    const ModelLoadResult result = loadModelDefinition(path, table.LangEng, table);
    if (!result.ok) {
        m_prompts.tellError(this, result.errorText(strings::language()));
        return;
    }
    drawPage();
    SubDisp_command* dlg = selectionDialog();
    for (int i = 0; i < kItemCount; ++i)
        dlg->setItemToolTip(i, table.ItemName[i]);
}

void MainDisp::menu_help_Click() {
    // The help file is opened by an external viewer that we start, so that shutdown
    // can close what it opened. A missing file is the viewer's to report.
    QStringList candidates;
    const QString configured = qEnvironmentVariable("PMX31570A_HELP_VIEWER");
    if (!configured.isEmpty())
        candidates << configured;
    candidates << QStringLiteral("xchm") << QStringLiteral("kchmviewer") << QStringLiteral("okular")
               << QStringLiteral("xdg-open");
    for (const QString& viewer : candidates) {
        const QString exe = QStandardPaths::findExecutable(viewer);
        if (exe.isEmpty())
            continue;
        auto* process = new QProcess(this);
        process->setProgram(exe);
        process->setArguments({HelpPath});
        connect(process, &QProcess::finished, this, [this, process] {
            m_helpViewers.removeOne(process);
            process->deleteLater();
        });
        process->start();
        m_helpViewers.append(process);
        return;
    }
}

void MainDisp::closeHelpViewers() {
    for (QProcess* process : std::as_const(m_helpViewers)) {
        process->disconnect(this);
        process->terminate();
        if (!process->waitForFinished(1000))
            process->kill();
    }
    m_helpViewers.clear();
}

void MainDisp::menu_data_Click() {
    ShowAllData(this, table, Option1[1]->isChecked());
}

void MainDisp::menu_export_Click() {
    const QString folder = applicationDir + QStringLiteral("/csvdata");
    const QString proposed = MakeCsvName(QStringLiteral("PMX-31570A"), QDateTime::currentDateTime());
    const QString path = m_prompts.saveFile(this, folder,
                                            QStringLiteral("*.csv(Comma Separated Values)|*.csv"),
                                            QStringLiteral("csv"), proposed);
    if (path.isEmpty())
        return;
    ListArrays lists;
    SetListData(table, Option1[1]->isChecked(), lists);
    QString error;
    if (!WriteCsv(path, lists, strings::language(), &error))
        m_prompts.tellError(this, tr2("The CSV file could not be written:\n%1\n%2",
                                      "CSVファイルを書き込めませんでした:\n%1\n%2")
                                      .arg(QDir::toNativeSeparators(path), error));
}

void MainDisp::Command_File_Click(int index) {
    const QString filter = QStringLiteral("*.dat(data file)|*.dat");
    if (index == 1) {
        const QString path = m_prompts.saveFile(this, applicationDir, filter, QStringLiteral("dat"), QString());
        if (path.isEmpty())
            return;
        QString error;
        if (!saveTableFile(path, table, &error))
            m_prompts.tellError(this, tr2("The data file could not be saved:\n%1\n%2",
                                          "データファイルを保存できませんでした:\n%1\n%2")
                                          .arg(QDir::toNativeSeparators(path), error));
        return;
    }
    const QString path = m_prompts.openFile(this, applicationDir, filter);
    if (path.isEmpty())
        return;
    const TableReadResult result = loadTableFile(path, table, TableReadMode::AllOrNothing);
    if (!result.ok) {
        // Nothing was changed: a half-loaded table could later be written to a machine.
        m_prompts.tellError(this, tr2("The data file was not loaded; nothing was changed.\n%1\n%2",
                                      "データファイルを読み込めませんでした。何も変更していません。\n%1\n%2")
                                      .arg(QDir::toNativeSeparators(path),
                                           result.errorText(strings::language())));
        return;
    }
    SubDisp_command* dlg = selectionDialog();
    for (int i = 0; i < kItemCount; ++i)
        dlg->setBox(i, table.ItemSel[i]);
    drawPage();
}

void MainDisp::Data0_Click(int row) {
    table.CurItem = qint16((selectedTab() - 1) * kRowsPerPage + row);
    if (m_valueDlg && !m_valueDlg->isVisible())
        m_valueDlg = nullptr; // closed, only waiting for its deferred deletion
    if (!m_valueDlg) {
        m_valueDlg = new Setting_Disp(table, this);
        connect(m_valueDlg, &Setting_Disp::valueStored, this, [this] {
            SelectDispItem(); // the new value is shown whether or not it is sent
            postTask(kTaskWriteChanged);
        });
    }
    m_valueDlg->setItem(table.CurItem);
    m_valueDlg->show();
    m_valueDlg->raise();
    m_valueDlg->activateWindow();
}

void MainDisp::Command_Move_Click(int index) {
    const QString prompt = strings::text(index == 0 ? 52 : 53);
    if (!m_prompts.askYesNo(this, prompt))
        return;
    postTask(index == 0 ? kTaskReadAll : kTaskWriteAll);
}

// ---- dispatcher host -----------------------------------------------------------

bool MainDisp::applyStep() {
    QString why;
    const QString result = SetCom ? SetSpeed(*SetCom, *m_store, InstNo, &why) : QString();
    // An item failure shown just before must not later replace what the apply step shows:
    // the restore tick would hide the communication error while the port stays closed.
    Timer2.stop();
    if (result != QStringLiteral("ok")) {
        for (QLabel* label : Label_commdat)
            setStatusText(label, QString());
        if (m_lost) {
            // The device is not usable yet: the loss stays on show and the watch goes on.
            showModelLabel(QString(), true);
            QStringList lines{lostMessage(), why, strings::text(202).arg(m_lostDevice)};
            lines.removeAll(QString());
            setPortLine(lines.join(QLatin1Char('\n')), true);
            return false;
        }
        showModelLabel(strings::text(50), false);
        setPortLine(why, false);
        return false;
    }
    const QString device = SetCom->lastDevice();
    const bool reconnected = m_lost;
    leaveLost();
    setMoveEnabled(true);
    if (reconnected) {
        // Said for as long as a failure message would be, then the model name returns.
        Label_Modelname->setStyleSheet(kGreen);
        Label_Modelname->setText(strings::text(201).arg(device.isEmpty() ? m_lostDevice : device));
        Timer2.start();
    } else {
        showModelLabel(QString(), false);
    }
    // What is in effect, which is not always what was typed: the apply step replaces a
    // text it refuses with its default.
    const QStringList texts = SubDisp_comm::textsInEffect(*SetCom, InstNo);
    for (int k = 0; k < 8; ++k)
        setStatusText(Label_commdat[k], texts.value(k));
    // Which device the port name opened, so the operator can tell adapters apart.
    setPortLine(device.isEmpty() || device == texts.value(6)
                    ? QString()
                    : texts.value(6) + QStringLiteral(" \u2192 ") + QDir::toNativeSeparators(device),
                false);
    m_openDevice = device;
    m_openAliases = stableNames(device, m_aliasDir);
    return true;
}

void MainDisp::setMoveEnabled(bool on) {
    on = on && !m_lost; // nothing to read from or write to until the device is back
    Frame_Move->setEnabled(on);
    Command_Move[0]->setEnabled(on);
    Command_Move[1]->setEnabled(on);
}

bool MainDisp::checkWriteTicked() { return Check_write->isChecked(); }

TransferContext MainDisp::context() { return TransferContext{table, *SetCom, InstNo, *this}; }

void MainDisp::WriteItem() {
    if (!SetCom)
        return;
    TransferContext ctx = context();
    pmx::WriteItem(ctx);
    transferEnded();
}

void MainDisp::WriteAllItems() {
    if (!SetCom)
        return;
    TransferContext ctx = context();
    pmx::WriteAllItems(ctx);
    transferEnded();
}

void MainDisp::ReadAllItems() {
    if (!SetCom)
        return;
    TransferContext ctx = context();
    pmx::ReadAllItems(ctx);
    transferEnded();
}

// ---- transfer view -------------------------------------------------------------

void MainDisp::progressStart() {
    ProgressBar1->setValue(0);
    ProgressBar1->setVisible(true);
}

void MainDisp::progressStep() { ProgressBar1->setValue(ProgressBar1->value() + 1); }

void MainDisp::progressEnd() { ProgressBar1->setVisible(false); }

void MainDisp::showError(int messageId, int) {
    if (m_lost)
        return; // with the device away every item fails: the loss is the message
    showModelLabel(strings::text(messageId), true);
    // The first failure starts the 5 s; later ones only change the text, so the model
    // name comes back even while failures keep coming, and the next one starts it again.
    if (!Timer2.isActive())
        Timer2.start();
}

void MainDisp::connectionLost(const QString& device) { enterLost(device); }

QString MainDisp::lostMessage() const { return strings::text(200).arg(m_lostDevice); }

void MainDisp::enterLost(const QString& device) {
    if (m_ending)
        return;
    const QString lost = device.isEmpty() && SetCom ? SetCom->lastDevice() : device;
    if (m_lost && lost == m_lostDevice)
        return; // told once
    m_lost = true;
    m_lostDevice = lost;
    m_watchPaths = {lost};
    if (lost == m_openDevice)
        m_watchPaths += m_openAliases;
    setMoveEnabled(false);
    Timer2.stop();
    showModelLabel(QString(), true);
    setPortLine(lostMessage() + QLatin1Char('\n') + strings::text(202).arg(lost), true);
    Timer_lost.start();
}

void MainDisp::leaveLost() {
    m_lost = false;
    m_watchPaths.clear();
    Timer_lost.stop();
}

void MainDisp::Timer_lost_Timer() {
    if (!m_lost) {
        Timer_lost.stop();
        return;
    }
    // An apply already asked for, or a task running: look again at the next tick.
    if (m_dispatcher.busy() || m_dispatcher.CommTask == kTaskApply)
        return;
    for (const QString& path : std::as_const(m_watchPaths)) {
        if (QFileInfo::exists(path)) {
            // The same step as the condition dialog's OK, with the conditions in effect.
            postTask(kTaskApply);
            return;
        }
    }
}

void MainDisp::notice(const QString& text) {
    if (!m_notices.contains(text))
        m_notices << text;
    if (!m_dispatcher.busy())
        QTimer::singleShot(0, this, &MainDisp::tellNotices);
}

void MainDisp::tellNotices() {
    // Never a message box in the middle of a transfer: its end asks again.
    if (m_dispatcher.busy())
        return;
    const QStringList notices = std::exchange(m_notices, {});
    if (m_ending || !m_prompts.tellInfo)
        return;
    for (const QString& text : notices)
        m_prompts.tellInfo(this, text);
}

void MainDisp::transferEnded() {
    // After the dispatcher's tick, when the transfer is over.
    if (!m_notices.isEmpty())
        QTimer::singleShot(0, this, &MainDisp::tellNotices);
}

void MainDisp::processEvents() { QCoreApplication::processEvents(); }

bool MainDisp::selectionBoxTicked(int item) { return selectionDialog()->boxTicked(item); }

// ---- shutdown ------------------------------------------------------------------

void MainDisp::closeEvent(QCloseEvent* event) {
    if (m_ending) {
        event->accept();
        return;
    }
    if (!m_prompts.askYesNo(this, strings::text(51))) {
        event->ignore();
        return;
    }
    QString error;
    if (!saveState(&error)) {
        // Never a silent loss: the operator decides whether to close without saving.
        const QString question =
            tr2("The settings could not be saved to\n%1\n%2\n\nClose the software anyway?",
                "設定を保存できませんでした:\n%1\n%2\n\nこのまま終了しますか?")
                .arg(QDir::toNativeSeparators(stateFilePath()), error);
        if (!m_prompts.askYesNo(this, question)) {
            event->ignore();
            return;
        }
    }
    m_ending = true; // a running transfer stops at its next item
    Timer1.stop();
    Timer2.stop();
    Timer_lost.stop();
    if (SetCom)
        SetCom->ClosePort();
    closeHelpViewers();
    event->accept();
    QCoreApplication::quit();
}

} // namespace pmx
