#pragma once
#include "transfer/ChangeLog.h"

#include <QDialog>
#include <functional>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QTableWidget;

namespace pmx {

// File > Change history: the change log, filtered by instrument, item and date, newest
// first; the commissioning record (PDF, CSV) of the selected transfer or of the rows
// shown. Where the files go is asked through `chooseFile` (the main window's prompts).
class HistoryWindow : public QDialog {
    Q_OBJECT
  public:
    using ChooseFile = std::function<QString(QWidget* parent, bool pdf)>;
    using TellError = std::function<void(QWidget* parent, const QString& text)>;
    HistoryWindow(const QString& folder, ChooseFile chooseFile, TellError tellError,
                  QWidget* parent = nullptr);

    // Reads the log again (the window shows what was there when it was opened).
    void reload();
    // The records the rows show, in their order.
    const QList<ChangeRecord>& shown() const { return m_shown; }
    // What a commissioning record is made of now: the selected row's transfer when "the
    // selected transfer only" is ticked, else every row shown.
    QList<ChangeRecord> recordForReport() const;

  private:
    void fillChoices();
    void fill();
    void save(bool pdf);

    QString m_folder;
    ChooseFile m_chooseFile;
    TellError m_tellError;
    QList<ChangeRecord> m_all;
    QList<ChangeRecord> m_shown;
    int m_unreadable = 0;
    QComboBox* m_instrument = nullptr;
    QComboBox* m_item = nullptr;
    QDateEdit* m_from = nullptr;
    QDateEdit* m_to = nullptr;
    QTableWidget* m_list = nullptr;
    QLabel* m_counts = nullptr;
    QCheckBox* m_transferOnly = nullptr;
};

} // namespace pmx
