#pragma once
#include "model/ItemTable.h"
#include "transfer/Compare.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace pmx {

// The result of a comparison with the instrument: one row per selected item, differing
// rows marked, unreadable rows with their reason. The actions are the opener's: the
// dialog only says which rows they concern and shows their outcome.
class CompareDialog : public QDialog {
    Q_OBJECT
  public:
    explicit CompareDialog(QWidget* parent = nullptr);

    // Shows `comparison` with the names of `table`, values in DEC or HEX.
    void setComparison(const Comparison& comparison, const ItemTable& table, bool hex);
    const Comparison& comparison() const { return m_comparison; }

    // The readable items of the rows the operator chose (all differing rows when none is
    // chosen): what "Take instrument values" copies.
    QList<int> chosenItems() const;
    // After a write or a take: the item now holds `value` in the table and the instrument
    // holds `instrumentValue`.
    void itemNowHolds(int item, qint16 value, qint16 instrumentValue);

    // With an instrument profile: the "include live items" box is shown, and the counts
    // say how many live items the comparison left out.
    void setLiveItems(bool profiled, bool included, int leftOut);

    // The comparison as CSV rows: headings, then every row shown in the list.
    QList<QStringList> csvRows() const;

  signals:
    void writeDifferencesRequested();
    void takeValuesRequested();
    void exportRequested();
    // The "include live items" box was changed: the opener compares again.
    void includeLiveToggled(bool on);

  private:
    void fill();
    QString valueText(qint16 v) const;
    QString instrumentText(const ItemComparison& c) const;

    Comparison m_comparison;
    std::array<QString, kItemCount> m_names;
    bool m_hex = false;
    QTableWidget* m_list = nullptr;
    QCheckBox* m_differencesOnly = nullptr;
    QLabel* m_counts = nullptr;
    QCheckBox* m_includeLive = nullptr; // Check_includelive, only with a profile
    int m_liveLeftOut = 0;
    QPushButton* m_writeButton = nullptr;
    QPushButton* m_takeButton = nullptr;
    QPushButton* m_exportButton = nullptr;
};

} // namespace pmx
