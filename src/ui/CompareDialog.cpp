#include "ui/CompareDialog.h"

#include "text/StringTable.h"
#include "text/ValueText.h"
#include "ui/Accessibility.h"
#include "ui/Colours.h"
#include "ui/FittingScrollArea.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace pmx {

namespace {

using Outcome = ItemComparison::Outcome;

} // namespace

CompareDialog::CompareDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("SubDisp_compare"));
    using strings::text;
    setWindowTitle(text(TextId::CompareTitle));
    auto* layout = new QVBoxLayout(this);

    m_counts = new QLabel(this);
    m_counts->setObjectName(QStringLiteral("Label_counts"));
    layout->addWidget(m_counts);

    m_list = new QTableWidget(0, 4, this);
    m_list->setObjectName(QStringLiteral("Grid_compare"));
    m_list->setAccessibleName(text(TextId::ComparedItems));
    m_list->setHorizontalHeaderLabels({text(TextId::CompareAddress), text(TextId::CompareName),
                                       text(TextId::CompareTableValue),
                                       text(TextId::CompareInstrumentValue)});
    m_list->verticalHeader()->setVisible(false);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    m_list->setMinimumSize(560, 160);
    layout->addWidget(m_list);

    m_differencesOnly = new QCheckBox(this);
    a11y::setCaption(m_differencesOnly, TextId::CompareDifferencesOnly, 'D');
    m_differencesOnly->setObjectName(QStringLiteral("Check_diffonly"));
    connect(m_differencesOnly, &QCheckBox::toggled, this, &CompareDialog::fill);
    layout->addWidget(m_differencesOnly);

    m_includeLive = new QCheckBox(text(TextId::IncludeLive), this);
    m_includeLive->setObjectName(QStringLiteral("Check_includelive"));
    m_includeLive->setVisible(false);
    connect(m_includeLive, &QCheckBox::toggled, this, &CompareDialog::includeLiveToggled);
    layout->addWidget(m_includeLive);

    auto* buttons = new QHBoxLayout;
    const auto button = [&](TextId id, char key, const char* name) {
        auto* b = new QPushButton(this);
        a11y::setCaption(b, id, key);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        buttons->addWidget(b);
        return b;
    };
    m_writeButton = button(TextId::CompareWriteDifferences, 'W', "Command_writediff");
    m_takeButton = button(TextId::CompareTakeValues, 'T', "Command_take");
    m_exportButton = button(TextId::CompareExportCsv, 'E', "Command_export");
    buttons->addStretch();
    QPushButton* close = button(TextId::CompareClose, 'C', "Command_close");
    connect(m_writeButton, &QPushButton::clicked, this, &CompareDialog::writeDifferencesRequested);
    connect(m_takeButton, &QPushButton::clicked, this, &CompareDialog::takeValuesRequested);
    connect(m_exportButton, &QPushButton::clicked, this, &CompareDialog::exportRequested);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    layout->addLayout(buttons);
    // The list scrolls; the window fits a small screen.
    fitWindowToScreen(this, nullptr, QSize(720, 560));
}

void CompareDialog::setComparison(const Comparison& comparison, const ItemTable& table, bool hex) {
    m_comparison = comparison;
    m_names = table.names;
    m_hex = hex;
    fill();
    a11y::announce(m_counts, m_counts->text(), a11y::Urgency::Outcome);
}

QString CompareDialog::valueText(qint16 v) const {
    return formatValue(v, m_hex);
}

QString CompareDialog::instrumentText(const ItemComparison& c) const {
    return c.outcome == Outcome::Unreadable ? strings::text(TextId(c.messageId))
                                            : valueText(c.instrumentValue);
}

void CompareDialog::fill() {
    m_list->setRowCount(0);
    for (const ItemComparison& c : m_comparison.items) {
        if (m_differencesOnly->isChecked() && c.outcome == Outcome::Equal)
            continue;
        const int row = m_list->rowCount();
        m_list->insertRow(row);
        const QStringList cells = {itemAddressText(c.item) + QLatin1Char('h'), m_names[c.item],
                                   valueText(c.tableValue), instrumentText(c)};
        for (int col = 0; col < cells.size(); ++col) {
            auto* cell = new QTableWidgetItem(cells[col]);
            cell->setData(Qt::UserRole, c.item);
            if (col >= 2)
                cell->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            if (c.outcome == Outcome::Different) {
                cell->setBackground(differenceGround(m_list->palette()));
                QFont bold = cell->font();
                bold.setBold(true);
                cell->setFont(bold);
            } else if (c.outcome == Outcome::Unreadable) {
                cell->setForeground(toneColour(Tone::Failure, m_list->palette(), QPalette::Base));
            }
            m_list->setItem(row, col, cell);
        }
    }
    m_list->resizeColumnToContents(0);
    m_list->resizeColumnToContents(2);
    m_list->resizeColumnToContents(3);
    m_counts->setText(m_comparison.countsText() +
                      (m_liveLeftOut > 0
                           ? strings::text(TextId::LeftOutOfCompare).arg(m_liveLeftOut)
                           : QString()));
    m_writeButton->setEnabled(!m_comparison.differing().isEmpty());
    m_takeButton->setEnabled(!m_comparison.differing().isEmpty());
}

void CompareDialog::setLiveItems(bool profiled, bool included, int leftOut) {
    m_includeLive->setVisible(profiled);
    const QSignalBlocker quiet(m_includeLive);
    m_includeLive->setChecked(included);
    m_liveLeftOut = leftOut;
    m_counts->setText(
        m_comparison.countsText() +
        (leftOut > 0 ? strings::text(TextId::LeftOutOfCompare).arg(leftOut) : QString()));
}

QList<int> CompareDialog::chosenItems() const {
    QList<int> chosen;
    for (const QModelIndex& index : m_list->selectionModel()->selectedRows())
        chosen << index.data(Qt::UserRole).toInt();
    if (chosen.isEmpty())
        return m_comparison.differing();
    QList<int> readable;
    for (const ItemComparison& c : m_comparison.items)
        if (chosen.contains(c.item) && c.outcome != Outcome::Unreadable)
            readable << c.item;
    return readable;
}

void CompareDialog::itemNowHolds(int item, qint16 value, qint16 instrumentValue) {
    for (ItemComparison& c : m_comparison.items) {
        if (c.item != item)
            continue;
        c.tableValue = value;
        c.instrumentValue = instrumentValue;
        c.outcome = value == instrumentValue ? Outcome::Equal : Outcome::Different;
        c.messageId = 0;
    }
    fill();
}

QList<QStringList> CompareDialog::csvRows() const {
    QList<QStringList> rows;
    QStringList headings;
    for (int col = 0; col < m_list->columnCount(); ++col)
        headings << m_list->horizontalHeaderItem(col)->text();
    rows << headings;
    for (int row = 0; row < m_list->rowCount(); ++row) {
        QStringList cells;
        for (int col = 0; col < m_list->columnCount(); ++col)
            cells << m_list->item(row, col)->text();
        rows << cells;
    }
    return rows;
}

} // namespace pmx
