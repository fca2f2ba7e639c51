#include "report/ReportModel.h"
#include <QLocale>

namespace pmx {

ReportCaptions ReportCaptions::fromStrings(strings::Lang lang) {
    ReportCaptions c;
    c.makerAddress = strings::text(TextId::MakerAddress, lang);
    c.makerPhone = strings::text(TextId::MakerPhone, lang);
    c.title = strings::programTitle(lang);
    c.parameterBox = strings::text(TextId::ReportParameter, lang);
    c.itemHeading = strings::text(TextId::ReportDataItem, lang);
    c.valueHeading = strings::text(TextId::ReportData, lang);
    return c;
}

RootRow buildReportRows(const ListArrays& lists) {
    RootRow root;
    root.stepNumber = 0;
    StepRow step;
    step.stepNumber = root.stepNumber;
    step.patternNumber = 0;
    for (int i = 0; i < kItemCount; ++i) {
        if (!lists.listed[i])
            continue;
        ParameterRow row;
        row.patternNumber = step.patternNumber;
        // The columns are sized fields; a longer value is cut at the field width.
        row.name = lists.names[i].left(ParameterRow::kItemWidth);
        row.value = lists.values[i].toText().left(ParameterRow::kDataWidth);
        row.unit = lists.units[i].left(ParameterRow::kUnitWidth);
        step.parameters.append(row);
    }
    root.steps.append(step);
    return root;
}

ReportModel ReportModel::build(const ListArrays& lists, strings::Lang lang) {
    ReportModel m;
    m.m_root = buildReportRows(lists);
    m.m_captions = ReportCaptions::fromStrings(lang);
    m.m_lang = lang;
    return m;
}

const QList<ParameterRow>& ReportModel::parameterRows() const {
    static const QList<ParameterRow> none;
    return m_root.steps.isEmpty() ? none : m_root.steps.constFirst().parameters;
}

QString ReportModel::footerDateText() const {
    // The system's long format, unless it belongs to the other language of the report.
    QLocale locale = QLocale::system();
    const bool japaneseSystem = locale.language() == QLocale::Japanese;
    if (m_lang == strings::Lang::Japanese && !japaneseSystem)
        locale = QLocale(QLocale::Japanese, QLocale::Japan);
    else if (m_lang == strings::Lang::English && japaneseSystem)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    return locale.toString(printDate(), QLocale::LongFormat);
}

} // namespace pmx
