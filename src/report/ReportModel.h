#pragma once
#include "report/ListData.h"
#include "text/StringTable.h"
#include <QDate>
#include <QList>
#include <QString>

namespace pmx {

// The three-level list the report is drawn from: one root row, one step row under it and
// one parameter row per defined item. The field widths follow the list's column sizes.
struct ParameterRow {
    static constexpr int kItemWidth = 200; // name
    static constexpr int kDataWidth = 200; // value
    static constexpr int kUnitWidth = 100; // unit

    qint32 patternNumber = 0; // the step pattern the row belongs to
    QString name;
    QString value;
    QString unit;
};

struct StepRow {
    qint32 stepNumber = 0;
    qint32 patternNumber = 0;
    QList<ParameterRow> parameters;
};

struct RootRow {
    qint32 stepNumber = 0;
    QList<StepRow> steps;
};

// Label captions of the report, taken from the string table when the report is built so
// that an open report never changes under the operator.
struct ReportCaptions {
    QString makerAddress; // TextId::MakerAddress
    QString makerPhone;   // TextId::MakerPhone
    QString title;        // strings::programTitle, also the window title
    QString parameterBox; // TextId::ReportParameter
    QString itemHeading;  // TextId::ReportDataItem
    QString valueHeading; // TextId::ReportData

    static ReportCaptions fromStrings(strings::Lang lang);
};

// A snapshot of everything one report shows.
class ReportModel {
  public:
    ReportModel() = default;

    // Builds the report from the list arrays; captions in `lang`.
    static ReportModel build(const ListArrays& lists, strings::Lang lang);

    const RootRow& root() const { return m_root; }
    const ReportCaptions& captions() const { return m_captions; }
    strings::Lang language() const { return m_lang; }

    // The parameter rows in order (those of the single step row).
    const QList<ParameterRow>& parameterRows() const;

    // "%D" of the page footer: the date of printing unless a fixed one is set.
    QDate printDate() const { return m_date.isValid() ? m_date : QDate::currentDate(); }
    void setPrintDate(QDate date) { m_date = date; }
    // The footer date in the long format of the report's language: Japanese long dates
    // on a Japanese run, the system's long format otherwise.
    QString footerDateText() const;

  private:
    RootRow m_root;
    ReportCaptions m_captions;
    strings::Lang m_lang = strings::Lang::English;
    QDate m_date;
};

// The root row filled from the list: step number 0, one step row with pattern 0, and a
// parameter row per item with listed true, in ascending item order.
RootRow buildReportRows(const ListArrays& lists);

} // namespace pmx
