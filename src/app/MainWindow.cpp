// The main window: building its widgets and captions, and its state at start-up.
#include "app/MainWindow.h"

#include "comm/Conditions.h"
#include "comm/SettingsStore.h"
#include "model/AppPaths.h"
#include "report/CsvExport.h"
#include "text/StringTable.h"
#include "ui/Accessibility.h"
#include "ui/FittingScrollArea.h"
#include "ui/FocusMarks.h"
#include "ui/MonitorWindow.h"
#include "ui/TextWrap.h"

#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QVBoxLayout>

#include <utility>

namespace pmx {

namespace {

// The dispatcher's idle redraw period. Posted tasks start at once anyway (postTask), so
// the idle redraw only needs to be quicker than the eye, and the program stays near zero
// CPU while idle.
constexpr int kIdleTickMs = 40;

// How long an item failure or a reconnection stays in the model label.
constexpr int kFailureDisplayMs = 5000;

// A lost device is looked for once a second: quick enough for a re-plugged adapter,
// and nothing runs while the line is in order.
constexpr int kLostWatchMs = 1000;

} // namespace

MainWindow::MainWindow(std::unique_ptr<CommObject> com, UserPrompts prompts, QWidget* parent)
    : QMainWindow(parent), m_com(std::move(com)), m_store(std::make_unique<QSettingsStore>()),
      m_prompts(std::move(prompts)) {
    setObjectName(QStringLiteral("MainDisp"));
    a11y::install(); // the menus' commands read without their access letters
    // The record's section keeps its eight keys only: options stored there by earlier
    // versions move to their own section before anything reads them.
    cond::moveOptionsOutOfTheRecord(*m_store);
    buildUi();
    buildMenus();
    setUpKeyboard();
    m_dispatcherTimer.setInterval(kIdleTickMs);
    connect(&m_dispatcherTimer, &QTimer::timeout, this, &MainWindow::onDispatcherTick);
    m_failureTimer.setInterval(kFailureDisplayMs);
    m_failureTimer.setSingleShot(false);
    connect(&m_failureTimer, &QTimer::timeout, this, &MainWindow::endFailureDisplay);
    m_lostDeviceTimer.setInterval(kLostWatchMs);
    connect(&m_lostDeviceTimer, &QTimer::timeout, this, &MainWindow::checkLostDevice);
    if (m_com) {
        m_com->setLostHandler([this] { enterLost(m_com->lostDevice()); });
        m_com->addExchangeObserver(&m_exchangeLog);
    }
    m_exchangeLog.onChanged = [this] {
        if (m_monitor)
            m_monitor->logChanged();
    };
    loadInitialState();
    fitToScreen();
}

MainWindow::~MainWindow() {
    m_dispatcherTimer.stop();
    m_lostDeviceTimer.stop();
    if (m_com) {
        m_com->setLostHandler({}); // closing the port below must not call back into us
        m_com->removeExchangeObserver(&m_exchangeLog);
        m_com->closePort();
    }
    m_exchangeLog.onChanged = {};
    closeHelpViewers();
}

void MainWindow::buildUi() {
    auto* central = new QWidget(this);
    auto* outer = new QVBoxLayout(central);

    m_modelLabel = new QLabel(central);
    m_modelLabel->setObjectName(QStringLiteral("Label_Modelname"));
    QFont big = m_modelLabel->font();
    big.setPointSizeF(big.pointSizeF() * 1.3);
    big.setBold(true);
    m_modelLabel->setFont(big);
    m_modelLabel->setMinimumHeight(28);
    outer->addWidget(m_modelLabel);

    // The pages and the side scroll where the screen is too small for them (a laptop at
    // 150 %); the model label and the progress row stay in sight.
    auto* bodyWidget = new QWidget;
    auto* body = new QHBoxLayout(bodyWidget);
    body->setContentsMargins(0, 0, 0, 0);
    buildPage(bodyWidget, body);
    buildSide(bodyWidget, body);
    m_bodyScroll = new FittingScrollArea(central);
    m_bodyScroll->setObjectName(QStringLiteral("Scroll_body"));
    m_bodyScroll->setFrameShape(QFrame::NoFrame);
    m_bodyScroll->setWidgetResizable(true);
    m_bodyScroll->setWidget(bodyWidget);
    outer->addWidget(m_bodyScroll, 1);

    // The progress bar and the Stop button during a transfer, its summary after it; the
    // row keeps its height so that the window does not jump.
    auto* progressRow = new QHBoxLayout;
    m_progressBar = new QProgressBar(central);
    m_progressBar->setObjectName(QStringLiteral("ProgressBar1"));
    m_progressBar->setRange(0, kItemCount);
    m_progressBar->setVisible(false);
    m_summaryLabel = new WrappedLabel(central);
    m_summaryLabel->setObjectName(QStringLiteral("Label_summary"));
    m_summaryLabel->setMinimumHeight(m_progressBar->sizeHint().height());
    m_stopButton = new QPushButton(central);
    m_stopButton->setObjectName(QStringLiteral("Command_Stop"));
    QSizePolicy keepRoom = m_stopButton->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    m_stopButton->setSizePolicy(keepRoom);
    m_stopButton->setVisible(false);
    connect(m_stopButton, &QPushButton::clicked, this, &MainWindow::stopTransfer);
    progressRow->addWidget(m_progressBar, 1);
    progressRow->addWidget(m_summaryLabel, 1);
    progressRow->addWidget(m_stopButton);
    outer->addLayout(progressRow);

    setCentralWidget(central);
}

// The tab strip over 32 rows shared by the four pages.
void MainWindow::buildPage(QWidget* central, QBoxLayout* into) {
    auto* pageBox = new QVBoxLayout;
    m_pageTabs = new QTabBar(central);
    m_pageTabs->setObjectName(QStringLiteral("TabStrip1"));
    for (int page = 0; page < kItemCount / kRowsPerPage; ++page) {
        const int first = page * kRowsPerPage;
        m_pageTabs->addTab(QStringLiteral("%1-%2h").arg(itemAddressText(first),
                                                        itemAddressText(first + kRowsPerPage - 1)));
    }
    pageBox->addWidget(m_pageTabs);

    // How to begin, while no model has named the items.
    m_startHint = new WrappedLabel(central);
    m_startHint->setObjectName(QStringLiteral("Label_start"));
    m_startHint->setVisible(false);
    pageBox->addWidget(m_startHint);

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
        m_selectBoxes[r] = new FocusCheckBox(central);
        m_selectBoxes[r]->setObjectName(QStringLiteral("Check_Command_%1").arg(r));
        rows->addWidget(m_selectBoxes[r], line, col + 1);
        m_nameCells[r] = new a11y::TextField(central);
        m_nameCells[r]->setObjectName(QStringLiteral("Text1_%1").arg(r));
        m_nameCells[r]->setReadOnly(true);
        // Widths in characters: they follow the font size (a screen at 144 DPI).
        m_nameCells[r]->setMinimumWidth(
            m_nameCells[r]->fontMetrics().horizontalAdvance(QString(20, u'x')));
        rows->addWidget(m_nameCells[r], line, col + 2);
        QLineEdit* value = new FocusLineEdit(QStringLiteral("----"), central);
        m_valueCells[r] = value;
        value->setObjectName(QStringLiteral("Data0_%1").arg(r));
        value->setReadOnly(true);
        value->setAlignment(Qt::AlignRight);
        value->setFixedWidth(value->fontMetrics().horizontalAdvance(QStringLiteral("-32768")) + 24);
        value->setCursor(Qt::PointingHandCursor);
        rows->addWidget(value, line, col + 3);
        connect(m_selectBoxes[r], &QCheckBox::stateChanged, this,
                [this, r](int) { applySelectBox(r); });
    }
    rows->setColumnStretch(2, 1);
    rows->setColumnStretch(6, 1);
    pageBox->addLayout(rows);
    pageBox->addStretch();
    into->addLayout(pageBox, 1);
    connect(m_pageTabs, &QTabBar::currentChanged, this, [this](int) {
        for (int r = 0; r < kRowsPerPage; ++r)
            m_rowAddress[r]->setText(itemAddressText(firstItemOnPage() + r));
        drawPage();
    });
}

// Format, transfer, files, conditions.
void MainWindow::buildSide(QWidget* central, QBoxLayout* into) {
    auto* side = new QVBoxLayout;
    auto* formatBox = new QGroupBox(central);
    auto* formatLayout = new QHBoxLayout(formatBox);
    m_decButton = new QRadioButton(formatBox);
    m_hexButton = new QRadioButton(formatBox);
    m_decButton->setObjectName(QStringLiteral("Option1_0"));
    m_hexButton->setObjectName(QStringLiteral("Option1_1"));
    for (QRadioButton* button : {m_decButton, m_hexButton}) {
        formatLayout->addWidget(button);
        connect(button, &QRadioButton::toggled, this, [this](bool on) {
            if (!on)
                return;
            refreshValues();
            if (m_monitor)
                m_monitor->meaningsChanged();
        });
    }
    m_decButton->setChecked(true);
    side->addWidget(formatBox);

    m_transferFrame = buttonFrame(central, QStringLiteral("Frame_Move"),
                                  QStringLiteral("Command_Move"), m_readButton, m_writeButton);
    connect(m_readButton, &QPushButton::clicked, this, &MainWindow::requestRead);
    connect(m_writeButton, &QPushButton::clicked, this, &MainWindow::requestWrite);
    side->addWidget(m_transferFrame);
    setTransferEnabled(false);

    m_fileFrame = buttonFrame(central, QStringLiteral("Frame_File"), QStringLiteral("Command_File"),
                              m_loadButton, m_saveButton);
    connect(m_loadButton, &QPushButton::clicked, this, &MainWindow::loadDataFile);
    connect(m_saveButton, &QPushButton::clicked, this, &MainWindow::saveDataFile);
    side->addWidget(m_fileFrame);

    m_sendOnChangeBox = new QCheckBox(central);
    m_sendOnChangeBox->setObjectName(QStringLiteral("Check_write"));
    m_sendOnChangeBox->setChecked(false);
    side->addWidget(m_sendOnChangeBox);

    m_verifyBox = new QCheckBox(central);
    m_verifyBox->setObjectName(QStringLiteral("Check_verify"));
    m_verifyBox->setChecked(m_store->value(cond::kOptionsSection, cond::kVerifyAfterWrite,
                                           QStringLiteral("0")) == QLatin1String("1"));
    connect(m_verifyBox, &QCheckBox::toggled, this, [this](bool on) {
        m_store->setValue(cond::kOptionsSection, cond::kVerifyAfterWrite,
                          on ? QStringLiteral("1") : QStringLiteral("0"));
    });
    side->addWidget(m_verifyBox);
    buildWatch(central, side);

    m_conditionsFrame = new QGroupBox(central);
    m_conditionsFrame->setObjectName(QStringLiteral("Frame_Comm"));
    auto* commLayout = new QGridLayout(m_conditionsFrame);
    for (int k = 0; k < 8; ++k) {
        m_conditionCaptions[k] = new QLabel(m_conditionsFrame);
        m_conditionCaptions[k]->setObjectName(QStringLiteral("Label_comm_%1").arg(k));
        m_conditionValues[k] = new WrappedLabel(m_conditionsFrame); // a typed port can be long
        m_conditionValues[k]->setObjectName(QStringLiteral("Label_commdat_%1").arg(k));
        m_conditionValues[k]->setMinimumWidth(90);
        // A screen reader reads each value with its caption.
        m_conditionCaptions[k]->setBuddy(m_conditionValues[k]);
        commLayout->addWidget(m_conditionCaptions[k], k, 0);
        commLayout->addWidget(m_conditionValues[k], k, 1);
    }
    m_blockCaption = new QLabel(m_conditionsFrame);
    m_blockCaption->setObjectName(QStringLiteral("Label_comm_block"));
    m_blockValue = new WrappedLabel(m_conditionsFrame);
    m_blockValue->setObjectName(QStringLiteral("Label_commdat_block"));
    m_blockCaption->setBuddy(m_blockValue);
    commLayout->addWidget(m_blockCaption, 8, 0);
    commLayout->addWidget(m_blockValue, 8, 1);
    m_portLine = new WrappedLabel(m_conditionsFrame); // reasons and device paths can be long
    m_portLine->setObjectName(QStringLiteral("Label_port"));
    QFont small = m_portLine->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    m_portLine->setFont(small);
    commLayout->addWidget(m_portLine, 9, 0, 1, 2);
    side->addWidget(m_conditionsFrame);
    side->addStretch();
    into->addLayout(side);
}

QGroupBox* MainWindow::buttonFrame(QWidget* parent, const QString& frameName,
                                   const QString& buttonName, QPushButton*& first,
                                   QPushButton*& second) {
    auto* frame = new QGroupBox(parent);
    frame->setObjectName(frameName);
    auto* layout = new QHBoxLayout(frame);
    first = new QPushButton(frame);
    second = new QPushButton(frame);
    first->setObjectName(buttonName + QStringLiteral("_0"));
    second->setObjectName(buttonName + QStringLiteral("_1"));
    layout->addWidget(first);
    layout->addWidget(second);
    return frame;
}

void MainWindow::buildMenus() {
    const auto named = [](auto* object, const char* name) {
        object->setObjectName(QString::fromLatin1(name));
        return object;
    };
    m_fileMenu = named(menuBar()->addMenu(QString()), "menu_file");
    m_allDataAction =
        named(m_fileMenu->addAction(QString(), this, &MainWindow::showAllData), "menu_data");
    m_exportAction =
        named(m_fileMenu->addAction(QString(), this, &MainWindow::exportCsv), "menu_export");
    // The export's encoding, for spreadsheet programs that do not read UTF-8 by themselves.
    m_csvEncodingMenu = named(m_fileMenu->addMenu(QString()), "menu_csv_encoding");
    auto* encodings = new QActionGroup(this);
    const QString stored =
        m_store->value(cond::kOptionsSection, QStringLiteral("CsvEncoding"), QString());
    const CsvEncoding chosen = csvEncodingFromName(stored).value_or(CsvEncoding::Utf8);
    for (const CsvEncoding e : {CsvEncoding::Utf8, CsvEncoding::Utf8Bom, CsvEncoding::ShiftJis}) {
        QAction* a = m_csvEncodingMenu->addAction(QString());
        a->setObjectName(QStringLiteral("menu_csv_") + csvEncodingName(e).remove(u'-'));
        a->setCheckable(true);
        a->setChecked(e == chosen);
        a->setData(int(e));
        encodings->addAction(a);
        connect(a, &QAction::triggered, this, [this, e] {
            m_store->setValue(cond::kOptionsSection, QStringLiteral("CsvEncoding"),
                              csvEncodingName(e));
        });
    }
    m_compareAction =
        named(m_fileMenu->addAction(QString(), this, &MainWindow::requestCompare), "menu_compare");
    m_compareAction->setEnabled(m_readButton->isEnabled());
    m_historyAction =
        named(m_fileMenu->addAction(QString(), this, &MainWindow::openHistory), "menu_history");
    m_endAction =
        named(m_fileMenu->addAction(QString(), this, [this] { close(); }), "menu_file_end");

    m_settingMenu = named(menuBar()->addMenu(QString()), "menu_set");
    m_itemSelectionAction = named(
        m_settingMenu->addAction(QString(), this, &MainWindow::openItemSelection), "menu_set_com");
    m_unitSelectionAction = named(
        m_settingMenu->addAction(QString(), this, &MainWindow::chooseModel), "menu_set_model");
    named(m_settingMenu->addSeparator(), "numlin2");
    m_conditionsAction = named(
        m_settingMenu->addAction(QString(), this, &MainWindow::openConditions), "menu_set_comdata");
    m_findAction =
        named(m_settingMenu->addAction(QString(), this, &MainWindow::openFinder), "menu_set_find");
    m_monitorAction = named(m_settingMenu->addAction(QString(), this, &MainWindow::openMonitor),
                            "menu_set_monitor");
    m_monitorAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));

    // "Version information" and "Help" are commands on the menu bar itself.
    m_versionAction =
        named(menuBar()->addAction(QString(), this, &MainWindow::showAbout), "menu_ver");
    m_helpAction = named(menuBar()->addAction(QString(), this, &MainWindow::showHelp), "menu_help");
    // F1 opens the guide from every window of the program, at what it tells of that window.
    auto* f1 = named(new QAction(this), "shortcut_help");
    f1->setShortcut(QKeySequence::HelpContents);
    f1->setShortcutContext(Qt::ApplicationShortcut);
    connect(f1, &QAction::triggered, this, [this] {
        const QWidget* active = QApplication::activeWindow();
        showHelpAt(active ? active->objectName() : objectName());
    });
    addAction(f1);
}

void MainWindow::setCaptions() {
    using strings::text;
    m_fileMenu->setTitle(text(TextId::MenuFile));
    m_allDataAction->setText(text(TextId::MenuAllData));
    m_exportAction->setText(text(TextId::MenuExport));
    m_csvEncodingMenu->setTitle(text(TextId::MenuCsvEncoding));
    for (QAction* a : m_csvEncodingMenu->actions()) {
        const auto e = CsvEncoding(a->data().toInt());
        const char* letter = e == CsvEncoding::Utf8      ? "(&U)"
                             : e == CsvEncoding::Utf8Bom ? "(&B)"
                                                         : "(&J)";
        a->setText(csvEncodingText(e) + QLatin1String(letter));
    }
    m_compareAction->setText(text(TextId::MenuCompare));
    m_historyAction->setText(text(TextId::ChangeHistoryMenu));
    m_endAction->setText(text(TextId::MenuEnd));
    m_settingMenu->setTitle(text(TextId::MenuSetting));
    m_itemSelectionAction->setText(text(TextId::MenuItemSelection));
    m_unitSelectionAction->setText(text(TextId::MenuUnitSelection));
    m_conditionsAction->setText(text(TextId::MenuConditions));
    m_findAction->setText(text(TextId::MenuFindInstrument));
    m_monitorAction->setText(text(TextId::MenuMonitor));
    m_versionAction->setText(text(TextId::MenuVersion));
    m_helpAction->setText(text(TextId::MenuHelp));
    // The captions of record stand as they are, without access letters: Tab, the menus'
    // letters and the shortcuts reach them (MainWindowKeys.cpp). The program's own
    // controls have letters that no menu on the bar (F, S, V, H) takes.
    m_decButton->setText(text(TextId::Decimal));
    m_hexButton->setText(text(TextId::Hexadecimal));
    m_transferFrame->setTitle(text(TextId::TransferFrame));
    m_readButton->setText(text(TextId::Read));
    a11y::setCaption(m_stopButton, TextId::Stop, 'T');
    m_writeButton->setText(text(TextId::Write));
    m_fileFrame->setTitle(text(TextId::FilesFrame));
    m_loadButton->setText(text(TextId::Load));
    m_saveButton->setText(text(TextId::Save));
    m_sendOnChangeBox->setText(text(TextId::SendOnChange));
    a11y::setCaption(m_verifyBox, TextId::VerifyAfterWriting, 'A');
    m_conditionsFrame->setTitle(text(TextId::ConditionsFrame));
    for (int k = 0; k < 8; ++k)
        m_conditionCaptions[k]->setText(text(cond::kCaptions[k]));
    m_blockCaption->setText(text(TextId::BlockReads));
    m_pageTabs->setToolTip(text(TextId::CommandItem));
    m_progressBar->setAccessibleName(text(TextId::TransferProgress));
    // The tab strip's own scroll buttons, shown where the window is too narrow for the tabs.
    if (auto* left = m_pageTabs->findChild<QWidget*>(QStringLiteral("ScrollLeftButton")))
        left->setAccessibleName(text(TextId::ScrollTabsLeft));
    if (auto* right = m_pageTabs->findChild<QWidget*>(QStringLiteral("ScrollRightButton")))
        right->setAccessibleName(text(TextId::ScrollTabsRight));
    // "Setting > Unit selection", as the menus say it.
    const auto menuText = [](TextId id) { return strings::withoutAccessKey(text(id)); };
    m_startHint->setText(text(TextId::HowToBegin)
                             .arg(menuText(TextId::MenuSetting) + QStringLiteral(" > ") +
                                  menuText(TextId::MenuUnitSelection)));
}

void MainWindow::loadInitialState() {
    // The report needs no preparation: it is built in memory when asked for.
    m_table.selections.fill(Selection::Cleared);
    m_appDir = applicationDirectory();
    m_table.englishNames = strings::language() == strings::Lang::English;
    m_helpPath = help::helpFilePath(m_appDir, strings::language());
    // "[*]": the title marks a table changed since it was read, loaded or saved.
    setWindowTitle(strings::programTitle(strings::language()) + QStringLiteral("[*]"));
    setCaptions();
    loadState();
    findProfile(QString()); // by the model's name; draws the page
    keepAsUnchanged();      // as loaded, with the page's rules applied
}

void MainWindow::setItems(const ItemTable& items) {
    const bool otherModel = m_table.modelName != items.modelName;
    m_table.modelName = items.modelName;
    m_table.names = items.names;
    m_table.values = items.values;
    m_table.selections = items.selections;
    m_table.currentItem = items.currentItem;
    if (otherModel)
        findProfile(QString()); // draws the page
    else
        drawPage();
}

namespace {

// What a data file keeps of the table.
bool sameContents(const ItemTable& a, const ItemTable& b) {
    return a.modelName == b.modelName && a.names == b.names && a.values == b.values &&
           a.selections == b.selections;
}

} // namespace

void MainWindow::keepAsUnchanged() {
    m_unchanged = m_table;
    setWindowModified(false);
}

void MainWindow::markChanges() {
    setWindowModified(!sameContents(m_table, m_unchanged));
}

} // namespace pmx
