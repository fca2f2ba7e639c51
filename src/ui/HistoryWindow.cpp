#include "ui/HistoryWindow.h"

#include "model/AtomicFile.h"
#include "report/render/CommissioningPdf.h"
#include "text/StringTable.h"
#include "transfer/Commissioning.h"
#include "ui/Accessibility.h"
#include "ui/FittingScrollArea.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace pmx {

namespace {

// The earliest date the date boxes show as "All".
const QDate kNoDate(2000, 1, 1);

QString itemText(int item) {
    return QString::number(item, 16).rightJustified(4, QLatin1Char('0')).toUpper() +
           QLatin1Char('h');
}

} // namespace

HistoryWindow::HistoryWindow(const QString& folder, ChooseFile chooseFile, TellError tellError,
                             QWidget* parent)
    : QDialog(parent), m_folder(folder), m_chooseFile(std::move(chooseFile)),
      m_tellError(std::move(tellError)) {
    setObjectName(QStringLiteral("SubDisp_history"));
    using strings::text;
    setWindowTitle(text(TextId::ChangeHistoryTitle));
    auto* layout = new QVBoxLayout(this);

    auto* filters = new QGridLayout;
    const auto caption = [&](TextId id, QWidget* buddy, int column) {
        auto* label = new QLabel(text(id), this);
        label->setBuddy(buddy);
        if (auto* box = qobject_cast<QComboBox*>(buddy))
            a11y::nameComboBox(box, text(id)); // its drop-down list too
        else
            buddy->setAccessibleName(text(id));
        filters->addWidget(label, 0, column);
        filters->addWidget(buddy, 1, column);
    };
    m_instrument = new QComboBox(this);
    m_instrument->setObjectName(QStringLiteral("Combo_instrument"));
    m_item = new QComboBox(this);
    m_item->setObjectName(QStringLiteral("Combo_item"));
    const auto dateBox = [&](const char* name) {
        auto* box = new QDateEdit(this);
        box->setObjectName(QString::fromLatin1(name));
        box->setCalendarPopup(true);
        box->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        box->setMinimumDate(kNoDate);
        box->setSpecialValueText(text(TextId::HistoryAll));
        box->setDate(kNoDate);
        return box;
    };
    m_from = dateBox("Date_from");
    m_to = dateBox("Date_to");
    caption(TextId::HistoryInstrument, m_instrument, 0);
    caption(TextId::HistoryItem, m_item, 1);
    caption(TextId::HistoryFrom, m_from, 2);
    caption(TextId::HistoryTo, m_to, 3);
    filters->setColumnStretch(4, 1);
    layout->addLayout(filters);
    connect(m_instrument, &QComboBox::currentIndexChanged, this, &HistoryWindow::fill);
    connect(m_item, &QComboBox::currentIndexChanged, this, &HistoryWindow::fill);
    connect(m_from, &QDateEdit::dateChanged, this, &HistoryWindow::fill);
    connect(m_to, &QDateEdit::dateChanged, this, &HistoryWindow::fill);

    m_counts = new QLabel(this);
    m_counts->setObjectName(QStringLiteral("Label_counts"));
    m_counts->setWordWrap(true);
    layout->addWidget(m_counts);

    m_list = new QTableWidget(0, 10, this);
    m_list->setObjectName(QStringLiteral("Grid_history"));
    m_list->setAccessibleName(text(TextId::ChangeHistoryTitle));
    m_list->setHorizontalHeaderLabels(
        {text(TextId::HistoryTime), text(TextId::HistoryUser), text(TextId::HistoryPort),
         text(TextId::HistoryInstrument), text(TextId::HistoryItem), text(TextId::HistoryName),
         text(TextId::HistoryBefore), text(TextId::HistoryWritten), text(TextId::HistoryOutcome),
         text(TextId::HistoryTransfer)});
    m_list->verticalHeader()->setVisible(false);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_list->horizontalHeader()->setSectionResizeMode(5, QHeaderView::Stretch);
    m_list->setMinimumSize(480, 160);
    layout->addWidget(m_list, 1);

    m_transferOnly = new QCheckBox(this);
    a11y::setCaption(m_transferOnly, TextId::HistoryThisTransfer, 'S');
    m_transferOnly->setObjectName(QStringLiteral("Check_transfer"));
    layout->addWidget(m_transferOnly);

    auto* buttons = new QHBoxLayout;
    const auto button = [&](TextId id, char key, const char* name) {
        auto* b = new QPushButton(this);
        a11y::setCaption(b, id, key);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        buttons->addWidget(b);
        return b;
    };
    QPushButton* pdf = button(TextId::HistorySavePdf, 'P', "Command_pdf");
    QPushButton* csv = button(TextId::HistorySaveCsv, 'V', "Command_csv");
    QPushButton* again = button(TextId::HistoryReload, 'R', "Command_reload");
    buttons->addStretch();
    QPushButton* close = button(TextId::HistoryClose, 'C', "Command_close");
    connect(pdf, &QPushButton::clicked, this, [this] { save(true); });
    connect(csv, &QPushButton::clicked, this, [this] { save(false); });
    connect(again, &QPushButton::clicked, this, &HistoryWindow::reload);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    layout->addLayout(buttons);
    fitWindowToScreen(this, nullptr, QSize(900, 560));
    reload();
}

void HistoryWindow::reload() {
    ChangeLog log(m_folder);
    const QString torn = log.recover();
    m_all = readChangeHistory(m_folder, &m_unreadable);
    std::reverse(m_all.begin(), m_all.end()); // newest first
    fillChoices();
    fill();
    if (!torn.isEmpty())
        m_counts->setText(torn + QLatin1Char('\n') + m_counts->text());
}

void HistoryWindow::fillChoices() {
    const QVariant instrument = m_instrument->currentData();
    const QVariant item = m_item->currentData();
    QList<int> instruments, items;
    for (const ChangeRecord& r : m_all) {
        if (!instruments.contains(r.instrument))
            instruments << r.instrument;
        if (!items.contains(r.item))
            items << r.item;
    }
    std::sort(instruments.begin(), instruments.end());
    std::sort(items.begin(), items.end());
    const QSignalBlocker b1(m_instrument), b2(m_item);
    m_instrument->clear();
    m_item->clear();
    m_instrument->addItem(strings::text(TextId::HistoryAll));
    m_item->addItem(strings::text(TextId::HistoryAll));
    for (int n : instruments)
        m_instrument->addItem(QString::number(n), n);
    for (int i : items)
        m_item->addItem(itemText(i), i);
    m_instrument->setCurrentIndex(std::max(0, m_instrument->findData(instrument)));
    m_item->setCurrentIndex(std::max(0, m_item->findData(item)));
}

void HistoryWindow::fill() {
    ChangeFilter filter;
    if (m_instrument->currentIndex() > 0)
        filter.instrument = m_instrument->currentData().toInt();
    if (m_item->currentIndex() > 0)
        filter.item = m_item->currentData().toInt();
    if (m_from->date() > kNoDate)
        filter.since = m_from->date().startOfDay().toUTC();
    if (m_to->date() > kNoDate)
        filter.until = m_to->date().addDays(1).startOfDay().toUTC();
    m_shown.clear();
    for (const ChangeRecord& r : m_all)
        if (filter.matches(r))
            m_shown << r;
    m_list->setRowCount(int(m_shown.size()));
    const strings::Lang lang = strings::language();
    for (int row = 0; row < m_shown.size(); ++row) {
        const ChangeRecord& r = m_shown[row];
        const QStringList cells = {
            r.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
            r.user,
            r.port,
            QString::number(r.instrument),
            itemText(r.item),
            r.name,
            r.before ? QString::number(*r.before) : QString(),
            QString::number(r.written),
            outcomeText(r, lang),
            r.transfer};
        for (int c = 0; c < cells.size(); ++c) {
            auto* cell = new QTableWidgetItem(cells[c]);
            if (c == 3 || c == 6 || c == 7)
                cell->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_list->setItem(row, c, cell);
        }
    }
    QString counts =
        m_all.isEmpty()
            ? strings::text(TextId::HistoryEmpty)
            : strings::text(TextId::HistoryCounts).arg(m_shown.size()).arg(m_all.size());
    if (m_unreadable > 0)
        counts += QLatin1Char(' ') + strings::text(TextId::HistoryUnreadable).arg(m_unreadable);
    m_counts->setText(counts);
}

QList<ChangeRecord> HistoryWindow::recordForReport() const {
    QList<ChangeRecord> out;
    const int row = m_list->currentRow();
    if (m_transferOnly->isChecked() && row >= 0 && row < m_shown.size()) {
        for (const ChangeRecord& r : m_all)
            if (r.transfer == m_shown[row].transfer)
                out << r;
    } else {
        out = m_shown;
    }
    std::reverse(out.begin(), out.end()); // oldest first, as written
    return out;
}

void HistoryWindow::save(bool pdf) {
    const QString path = m_chooseFile ? m_chooseFile(this, pdf) : QString();
    if (path.isEmpty())
        return;
    const CommissioningSheet sheet = commissioningSheet(recordForReport(), strings::language());
    QString error;
    const bool ok = pdf ? commissioningPdf(sheet, path, &error)
                        : writeFileAtomically(path, commissioningCsv(sheet), &error);
    if (!ok && m_tellError)
        m_tellError(this, strings::text(TextId::CliCannotWrite).arg(path, error));
}

} // namespace pmx
