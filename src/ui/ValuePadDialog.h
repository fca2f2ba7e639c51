#pragma once
#include "model/InstrumentProfile.h"
#include "model/ItemTable.h"
#include "valuepad/ValuePad.h"
#include <QDialog>
#include <array>

class QLabel;
class QLineEdit;
class QPushButton;

namespace pmx {

// The value change dialog: a calculator-style pad editing one item's value. The
// entry lives in a ValuePad; the widgets only show it. OK stores the value and deletes
// the dialog, Cancel and the close button delete it without storing.
class ValuePadDialog : public QDialog {
    Q_OBJECT
  public:
    explicit ValuePadDialog(ItemTable& table, QWidget* parent = nullptr);

    // Makes curItem the edited item: refills its name and current value. The entry
    // stays as typed. Indexes outside 0..127 are ignored.
    void setItem(int curItem);
    int item() const { return m_item; }
    // The instrument profile in use, or none: with one the dialog shows the item's range
    // and unit and refuses a value outside the range. Kept by the caller.
    void setProfile(const InstrumentProfile* profile);
    QString entryText() const { return m_pad.entry(); }

    // The pad's buttons.
    void pressDigit(int digit);
    void pressSign();  // "+/-"
    void pressClear(); // "CE"
    // OK: stores the entry as the item's value and closes; an entry outside 16 bits is
    // refused and marked instead.
    void storeValue();
    // Cancel, Escape and the close button: closes without storing.
    void reject() override;

  signals:
    // The item's value (values[currentItem]) is stored; the main window posts the send
    // request.
    void valueStored();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Shows the entry text in the entry box and its hidden copy.
    void syncEntry();
    void markOutOfRange(bool on);
    // Refuses the entry with `why` (the 16-bit text or the profile's reason); empty: clear.
    void markRefused(const QString& why);
    void showRange();

    ItemTable& m_table;
    ValuePad m_pad;
    int m_item = 0;
    bool m_marked = false;
    QLineEdit* m_name = nullptr;
    QLabel* m_current = nullptr;
    QLineEdit* m_entryBox = nullptr;
    QLabel* m_entryCopy = nullptr;
    QLabel* m_refusal = nullptr; // Label_refusal: why OK refused the entry
    QLabel* m_range = nullptr;   // Label_range: the item's range and unit from the profile
    const InstrumentProfile* m_profile = nullptr;
    std::array<QPushButton*, 10> m_digitButtons{};
};

} // namespace pmx
