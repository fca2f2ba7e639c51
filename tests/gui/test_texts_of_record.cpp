// The texts of record where the operator reads them, in both languages, compared with the
// literal table of TextsOfRecord.h: captions, menus, titles, questions, failure messages,
// the report's headings and footer, the CSV headings and the file dialogs' filters.
#include "MainWindowFixture.h"
#include "TextsOfRecord.h"
#include "report/CsvExport.h"
#include "report/ListData.h"
#include "report/ReportModel.h"
#include "report/render/ReportRenderer.h"
#include "ui/AboutDialog.h"
#include "ui/ConditionsDialog.h"
#include "ui/ItemSelectionDialog.h"
#include "ui/Prompts.h"
#include "ui/ValuePadDialog.h"

#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QMenu>

using namespace pmx;
using namespace pmx::test;

TEST(TextsOfRecord, EveryWindowShowsThemWordForWordInBothLanguages) {
    for (const bool japanese : {false, true}) {
        SCOPED_TRACE(japanese ? "Japanese" : "English");
        const auto rec = [japanese](int id) { return recordText(id, japanese); };
        Window win(true, japanese ? strings::Lang::Japanese : strings::Lang::English);
        MainWindow& w = *win.w;
        const auto shown = [&w](const char* name) -> QString {
            QObject* o = w.findChild<QObject*>(QLatin1String(name));
            if (!o)
                return QStringLiteral("(no %1)").arg(QLatin1String(name));
            if (auto* menu = qobject_cast<QMenu*>(o))
                return menu->title();
            if (auto* box = qobject_cast<QGroupBox*>(o))
                return box->title();
            return o->property("text").toString();
        };
        const std::pair<const char*, int> captions[] = {
            {"menu_file", 4},       {"menu_data", 110},       {"menu_export", 111},
            {"menu_file_end", 5},   {"menu_set", 6},          {"menu_set_com", 9},
            {"menu_set_model", 10}, {"menu_set_comdata", 11}, {"menu_ver", 8},
            {"menu_help", 7},       {"Option1_0", 13},        {"Option1_1", 14},
            {"Frame_Move", 20},     {"Command_Move_0", 21},   {"Command_Move_1", 22},
            {"Frame_File", 23},     {"Command_File_0", 24},   {"Command_File_1", 25},
            {"Check_write", 42},    {"Frame_Comm", 32},       {"Label_comm_0", 26},
            {"Label_comm_1", 27},   {"Label_comm_2", 28},     {"Label_comm_3", 29},
            {"Label_comm_4", 30},   {"Label_comm_5", 31},     {"Label_comm_6", 33},
            {"Label_comm_7", 34},
        };
        for (const auto& [name, id] : captions)
            EXPECT_EQ(shown(name), rec(id)) << name;
        EXPECT_EQ(w.windowTitle().remove(QStringLiteral("[*]")), rec(3) + ' ' + rec(1));
        EXPECT_EQ(win.tabs()->toolTip(), rec(39));

        // The dialogs' titles and captions; OK and Cancel are the same in both languages.
        win.openEveryDialog();
        ConditionsDialog* conditions = w.conditionsDialog();
        EXPECT_EQ(conditions->windowTitle(), rec(35));
        const int conditionIds[] = {26, 27, 28, 29, 30, 31, 33, 34};
        for (int r = 0; r < 8; ++r)
            EXPECT_EQ(child<QLabel>(conditions, "Label_name", r)->text(), rec(conditionIds[r]));
        ValuePadDialog* pad = w.valueDialog();
        EXPECT_EQ(pad->windowTitle(), rec(36));
        EXPECT_EQ(child<QLabel>(pad, "Label1_2")->text(), rec(39));
        EXPECT_EQ(child<QLabel>(pad, "Label1_0")->text(), rec(37));
        EXPECT_EQ(child<QPushButton>(pad, "Command3")->text(), "OK");
        EXPECT_EQ(child<QPushButton>(pad, "Command4")->text(), "Cancel");
        ItemSelectionDialog* selection = w.selectionDialog();
        EXPECT_EQ(selection->windowTitle(), rec(40));
        EXPECT_EQ(child<QPushButton>(selection, "Command1")->text(), "OK");
        EXPECT_EQ(child<QPushButton>(selection, "Command2")->text(), "Cancel");
        EXPECT_EQ(w.aboutDialog()->windowTitle(), rec(41));
        EXPECT_EQ(child<QLabel>(w.aboutDialog(), "Label1")->text(), rec(1));

        // The three questions.
        win.answer = false;
        w.requestRead();
        w.requestWrite();
        w.close();
        EXPECT_EQ(win.asked, (QStringList{rec(52), rec(53), rec(51)}));

        // A refused item and a port that does not open, in the model label.
        win.edit([](ItemTable& t) { t.selections[5] = Selection::Selected; });
        win.com->faults[5] = "nak";
        w.postTask(kTaskReadAll);
        w.onDispatcherTick();
        EXPECT_EQ(win.modelLabel()->text(), rec(100));
        win.com->openOk = false;
        w.postTask(kTaskApply);
        w.onDispatcherTick();
        EXPECT_EQ(win.modelLabel()->text(), rec(50));

        // The report's and the CSV file's headings; the report's page footer.
        ListArrays lists;
        fillListArrays(w.items(), false, lists);
        const strings::Lang lang = japanese ? strings::Lang::Japanese : strings::Lang::English;
        const ReportModel report = ReportModel::build(lists, lang);
        EXPECT_EQ(report.captions().parameterBox, rec(106));
        EXPECT_EQ(report.captions().itemHeading, rec(107));
        EXPECT_EQ(report.captions().valueHeading, rec(108));
        ReportRenderer renderer(report);
        renderer.paginate(13958);
        EXPECT_EQ(renderer.pageLabel(0), QString::fromLatin1(kPageFooterOfRecord)
                                             .replace("%p", "1")
                                             .replace("%P", QString::number(renderer.pageCount())));
        const QStringList lines = csvBlock(lists, lang).split("\r\n");
        EXPECT_EQ(lines.mid(0, 3),
                  (QStringList{'"' + rec(3) + ' ' + rec(1) + '"', '"' + rec(106) + '"',
                               '"' + rec(107) + "\",\"" + rec(108) + '"'}));

        // What the file dialogs list as the kind of file, as the operator chooses it.
        win.nextFile.clear();
        const std::pair<std::function<void()>, const char*> choices[] = {
            {[&w] { w.chooseModel(); }, kModelFilterOfRecord},
            {[&w] { w.loadDataFile(); }, kDataFilterOfRecord},
            {[&w] { w.saveDataFile(); }, kDataFilterOfRecord},
            {[&w] { w.exportCsv(); }, kCsvFilterOfRecord},
        };
        for (const auto& [choose, filter] : choices) {
            choose();
            QFileDialog dialog;
            dialog.setOption(QFileDialog::DontUseNativeDialog);
            setUpFileDialog(dialog, !win.lastFile.suffix.isEmpty(), win.lastFile.dir, {},
                            win.lastFile.filter, win.lastFile.suffix);
            auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            ASSERT_TRUE(types);
            ASSERT_EQ(types->count(), 1);
            EXPECT_EQ(types->itemText(0), QLatin1String(filter));
        }
        w.valueDialog()->reject();
    }
}
