#include "report/ReportModel.h"
#include <QLocale>

namespace pmx {

ReportCaptions ReportCaptions::fromStrings(strings::Lang lang) {
    ReportCaptions c;
    c.lblAddress = strings::text(104, lang);
    c.lblAddress1 = strings::text(105, lang);
    c.lbpara_section2 = strings::text(3, lang) + QLatin1Char(' ') + strings::text(1, lang);
    c.lbpara_section6 = strings::text(106, lang);
    c.lbpara_section8_iterm = strings::text(107, lang);
    c.lbpara_section8_data = strings::text(108, lang);
    return c;
}

RootRow MakeListRecordset(const ListArrays& lists) {
    RootRow root;
    root.stepbango = 0;
    StepRow step;
    step.stepbango = root.stepbango;
    step.sopatan = 0;
    for (int i = 0; i < kItemCount; ++i) {
        if (!lists.ListValid[i])
            continue;
        ParameterRow row;
        row.sopatan = step.sopatan;
        // The columns are sized fields; a longer value is cut at the field width.
        row.rp_dataitem = lists.ListItem[i].left(ParameterRow::kItemWidth);
        row.rp_data = lists.ListData[i].toText().left(ParameterRow::kDataWidth);
        row.rp_donvi = lists.ListUnit[i].left(ParameterRow::kUnitWidth);
        step.thamso_patan.append(row);
    }
    root.step_patan.append(step);
    return root;
}

ReportModel ReportModel::build(const ListArrays& lists, strings::Lang lang) {
    ReportModel m;
    m.m_root = MakeListRecordset(lists);
    m.m_captions = ReportCaptions::fromStrings(lang);
    m.m_lang = lang;
    return m;
}

const QList<ParameterRow>& ReportModel::parameterRows() const {
    static const QList<ParameterRow> none;
    return m_root.step_patan.isEmpty() ? none : m_root.step_patan.constFirst().thamso_patan;
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
