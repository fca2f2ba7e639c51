// The main window's item pages: names, selection boxes and values of the page shown, and
// the model label and status lines beside them.
#include "app/MainWindow.h"

#include "comm/LineNotes.h"
#include "text/ValueText.h"
#include "ui/Accessibility.h"
#include "ui/Colours.h"
#include "ui/TextWrap.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTabBar>

#include <algorithm>

namespace pmx {

int MainWindow::currentPage() const {
    return m_pageTabs->currentIndex();
}

QString MainWindow::formatValue(qint16 value) const {
    return pmx::formatValue(value, m_hexButton->isChecked());
}

void MainWindow::drawNamesAndBoxes() {
    // A message on show stays until its own end (the failure display timer, or the
    // device coming back).
    if (!m_failureTimer.isActive() && !m_lost)
        showModelLabel(QString(), false);
    const bool noModel =
        m_table.modelName.isEmpty() && std::all_of(m_table.names.begin(), m_table.names.end(),
                                                   [](const QString& n) { return n.isEmpty(); });
    m_startHint->setVisible(noModel);
    const int base = firstItemOnPage();
    for (int r = 0; r < kRowsPerPage; ++r) {
        const int i = base + r;
        m_nameCells[r]->setText(m_table.names[i]);
        m_nameCells[r]->setCursorPosition(0);
        m_nameCells[r]->setToolTip(m_table.names[i]);
        a11y::nameItemRow(m_selectBoxes[r], m_nameCells[r], m_valueCells[r], i, m_table.names[i]);
        // Setting the box runs applySelectBox when its state changes, so a selected
        // undefined item whose box turns on here loses its selection.
        m_selectBoxes[r]->setChecked(m_table.isSelected(i));
    }
}

void MainWindow::refreshValues() {
    const int base = firstItemOnPage();
    for (int r = 0; r < kRowsPerPage; ++r) {
        const int i = base + r;
        const QString text =
            m_table.isSelected(i) ? formatValue(m_table.values[i]) : QStringLiteral("------");
        if (m_valueCells[r]->text() != text) // idle ticks redraw nothing that did not change
            m_valueCells[r]->setText(text);
    }
    markFailedRows();
    markProfileRows();
    markChanges();
}

void MainWindow::markFailedRows() {
    const int base = firstItemOnPage();
    for (int r = 0; r < kRowsPerPage; ++r) {
        const bool failed = m_failedItems.count(base + r) > 0;
        QLineEdit* cell = m_valueCells[r];
        if (cell->property("failed").toBool() == failed)
            continue;
        cell->setProperty("failed", failed);
        setFailedCell(cell, failed);
        a11y::markItemFailed(cell, failed);
    }
}

void MainWindow::drawPage() {
    drawNamesAndBoxes();
    refreshValues();
}

void MainWindow::applySelectBox(int row) {
    const int i = firstItemOnPage() + row;
    if (!ItemTable::isUndefinedName(m_table.names[i])) {
        m_table.selections[i] =
            m_selectBoxes[row]->isChecked() ? Selection::Selected : Selection::Cleared;
    } else {
        m_table.selections[i] = Selection::Cleared;
        if (m_selectBoxes[row]->isChecked())
            m_selectBoxes[row]->setChecked(false);
    }
    refreshValues(); // the cell shows the value or "------" with the box
}

void MainWindow::showModelLabel(const QString& text, bool error) {
    if (text.isEmpty() && m_lost) {
        // While the device is away its loss is what the label says.
        showModelLabel(lostMessage(), true);
        return;
    }
    setTextTone(m_modelLabel, error ? Tone::Failure : Tone::Plain);
    const QString shown = text.isEmpty() ? m_table.modelName : text;
    if (m_modelLabel->text() == shown)
        return;
    m_modelLabel->setText(shown);
    // A message is told as it appears, not only in red; the model name is not a message.
    if (!text.isEmpty())
        a11y::announce(m_modelLabel, text, error ? a11y::Urgency::Failure : a11y::Urgency::Outcome);
}

void MainWindow::setStatusText(QLabel* label, const QString& text) {
    a11y::setSpokenText(label, breakable(text));
    label->setToolTip(text);
}

void MainWindow::setPortLine(const QString& text, bool alarm) {
    m_portLineText = text;
    m_portLineAlarm = alarm;
    // An adapter that sends every request back is part of the line in effect.
    m_echoShown = m_com && m_com->lineEchoes();
    QString shown = text;
    if (m_echoShown)
        shown += (shown.isEmpty() ? QString() : QStringLiteral("\n")) + echoingLineText();
    setTextTone(m_portLine, alarm ? Tone::Failure : Tone::Plain);
    setStatusText(m_portLine, shown);
}

} // namespace pmx
