// The windows in Japanese: every text the operator reads in the main window, its menus,
// every dialog and the messages the program shows is Japanese wherever a Japanese text
// exists; only names that are the same in both languages are left in Latin letters.
#include "MainWindowFixture.h"
#include "report/ListData.h"
#include "report/ReportModel.h"
#include "report/render/ReportRenderer.h"
#include "ui/AboutDialog.h"
#include "ui/CompareDialog.h"
#include "ui/ConditionsDialog.h"
#include "ui/MonitorWindow.h"
#include "ui/Prompts.h"
#include "ui/ValuePadDialog.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QTabBar>
#include <QTableView>
#include <gtest/gtest.h>

using namespace pmx;

namespace {

// Words in Latin letters that a Japanese text keeps: product, protocol and code names,
// units, line settings as stored, file types, key names (Ctrl, Enter), the 'dialout' group, the
// version box's fixed "Version" line and the names of character encodings.
const QStringList kSameInBothLanguages = {
    "PMX",  "KORVAN", "Modbus", "ASCII", "RTU",     "OK",  "CE",  "bit",  "bps",     "ms",
    "EVEN", "ODD",    "NONE",   "CSV",   "PDF",     "USB", "NAK", "Ctrl", "dialout", "TEL",
    "dat",  "txt",    "csv",    "pdf",   "Version", "UTF", "BOM", "Enter"};

// Whole texts that are the same in both languages: the dialogs' "Cancel" beside "OK", and the
// report's page footer.
const QStringList kFixedTexts = {"Cancel", "Page 1 of 1"};

// The English words of a text: runs of Latin letters only, paths and addresses left out.
QStringList englishWords(QString text) {
    text.remove(QRegularExpression(QStringLiteral("\\S*[/\\\\]\\S*")));
    text.remove(QLatin1Char('&'));
    QStringList words;
    const QStringList tokens =
        text.split(QRegularExpression(QStringLiteral("[^A-Za-z0-9_]+")), Qt::SkipEmptyParts);
    for (const QString& token : tokens) {
        static const QRegularExpression letters(QStringLiteral("^[A-Za-z]{2,}$"));
        static const QRegularExpression hexValue(QStringLiteral("^[0-9A-F]+h$"));
        if (letters.match(token).hasMatch() && !hexValue.match(token).hasMatch() &&
            !kSameInBothLanguages.contains(token))
            words << token;
    }
    return words;
}

// Every text a window shows or tells: titles, captions, entries, headers and tool tips.
QStringList textsOf(QWidget* root) {
    QStringList texts;
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets << root;
    for (QWidget* w : widgets) {
        // Labels, buttons, group boxes, menus and entries by their properties.
        // What screen readers say of it, too.
        for (const char* property : {"toolTip", "windowTitle", "text", "title", "placeholderText",
                                     "accessibleName", "accessibleDescription"})
            texts << w->property(property).toString();
        if (auto* t = qobject_cast<QTabBar*>(w))
            for (int k = 0; k < t->count(); ++k)
                texts << t->tabText(k) << t->tabToolTip(k);
        if (auto* c = qobject_cast<QComboBox*>(w))
            for (int k = 0; k < c->count(); ++k)
                texts << c->itemText(k);
        if (auto* v = qobject_cast<QTableView*>(w); v && v->model())
            for (int k = 0; k < v->model()->columnCount(); ++k)
                texts << v->model()->headerData(k, Qt::Horizontal).toString();
    }
    for (QAction* a : root->findChildren<QAction*>())
        texts << a->text();
    return texts;
}

} // namespace

TEST(Japanese, EveryWindowMenuDialogAndMessageIsInJapanese) {
    // The check finds English words, and leaves names and hexadecimal values alone.
    ASSERT_EQ(englishWords(QStringLiteral("&Cancel (Is a directory) 0010h COM1 Modbus")).join(' '),
              QStringLiteral("Cancel Is directory"));
    test::Window win(true, strings::Lang::Japanese);
    MainWindow& w = *win.w;
    win.edit([](ItemTable& t) {
        t.modelName = QStringLiteral("PMX-31570A");
        for (int i = 0; i < kItemCount; ++i)
            t.names[i] = i < 8 ? QStringLiteral("項目%1").arg(i) : QStringLiteral("予備----");
        std::fill_n(t.selections.begin(), 8, Selection::Selected);
    });
    win.com->faults[4] = "nak";

    // A read with a refused item: the red message, the summary and the monitor's rows.
    w.openMonitor();
    w.requestRead();
    w.onDispatcherTick();
    win.openEveryDialog();
    ASSERT_TRUE(w.compareDialog() && w.valueDialog() && w.aboutDialog() && w.monitorWindow());
    w.monitorWindow()->refresh();

    // What the program asks and tells: the questions, and failures with the system's
    // reasons.
    win.answer = false;
    w.requestWrite();
    w.close();
    ASSERT_TRUE(QDir(win.home.path()).mkdir(QStringLiteral("PMX31570A.ini")));
    win.answers = {true, false};
    w.close();
    win.nextFile = win.home.filePath(QStringLiteral("missing/データ.dat"));
    w.loadDataFile();
    w.saveDataFile();
    w.exportCsv();
    w.chooseModel();
    win.nextFile = win.home.filePath(QStringLiteral("一覧.csv"));
    w.exportCsv();
    ASSERT_GE(win.errors.size(), 4);

    QStringList texts = textsOf(&w) + win.asked + win.errors;
    for (const auto buttons :
         {QMessageBox::Yes | QMessageBox::No, QMessageBox::Ok | QMessageBox::Cancel}) {
        std::unique_ptr<QMessageBox> box(messageBox(QMessageBox::Warning, {}, buttons, nullptr));
        texts += textsOf(box.get());
    }
    QFileDialog files;
    files.setOption(QFileDialog::DontUseNativeDialog);
    for (const auto mode : {QFileDialog::AcceptOpen, QFileDialog::AcceptSave}) {
        files.setAcceptMode(mode);
        setFileDialogTexts(files);
        for (const auto label : {QFileDialog::LookIn, QFileDialog::FileName, QFileDialog::FileType,
                                 QFileDialog::Accept, QFileDialog::Reject})
            texts << files.labelText(label);
    }
    texts << files.iconProvider()->type(QFileInfo(win.home.path())); // the type of a folder
    // The report's page footer is the same in both languages.
    ListArrays lists;
    fillListArrays(w.items(), false, lists);
    const ReportModel report = ReportModel::build(lists, strings::Lang::Japanese);
    ReportRenderer renderer(report);
    renderer.paginate(13958);
    texts << renderer.pageLabel(0);

    QStringList leftovers;
    for (const QString& text : std::as_const(texts)) {
        if (kFixedTexts.contains(text))
            continue;
        const QStringList words = englishWords(text);
        if (!words.isEmpty())
            leftovers << words.join(u' ') + QStringLiteral("  in  ") + text;
    }
    leftovers.removeDuplicates();
    EXPECT_TRUE(leftovers.isEmpty()) << leftovers.join(u'\n').toStdString();
    // The walk saw the windows: their Japanese texts are there.
    EXPECT_TRUE(texts.contains(strings::text(TextId::ValueTitle)));
    EXPECT_TRUE(texts.contains(strings::text(TextId::MonitorTitle)));
    EXPECT_TRUE(texts.contains(strings::text(TextId::ConfirmWrite)));
}
