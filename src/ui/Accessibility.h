#pragma once
// What a screen reader is told about the windows: names in the operator's language without
// access letters or invisible characters, read-only fields that say so, and announcements
// of failures, outcomes and progress.
//
// Every control of every window needs a name a screen reader can say
// (tests/gui/test_accessibility.cpp walks every window for it). A control captioned by its
// own text, or by a QLabel set as its buddy, is named by that text; captions with an access
// letter go through setCaption so that the letter is not read aloud; a control with no
// caption gets QWidget::setAccessibleName; an editable combo box goes through
// nameComboBox (its edit part and its list are controls of their own).
#include "text/StringTable.h"

#include <QElapsedTimer>
#include <QHash>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>

class QAbstractButton;
class QComboBox;
class QLabel;

namespace pmx::a11y {

// Gives the program's own interfaces to its text fields, announcers and menu commands.
// Installed once; the widgets below install it themselves, the main window does for the
// menus.
void install();

// A caption as a screen reader says it: without the access letter ("(&F)", "&") and
// without the zero-width break points of long paths.
QString spoken(const QString& caption);

// A button or check box captioned with an access letter, named without it.
void setCaption(QAbstractButton* button, TextId id, char key);
// A caption label with an access letter; its buddy (set before) is named by the caption.
void setCaption(QLabel* caption, TextId id, char key);
// A combo box, its edit part (when editable) and its drop-down list, named alike.
void nameComboBox(QComboBox* box, const QString& name);
// A label whose text may hold zero-width break points: screen readers get it without them.
void setSpokenText(QLabel* label, const QString& text);

// A single-line text field whose accessibility follows its use rather than its read-only
// flag: a read-only field is read-only and not editable (the item pages' cells); a field
// typed into through a key filter is an editable entry even while read-only for the
// widget (the value dialog's entry). An optional press action is what Enter or a click
// does (the value cells open the value dialog).
class TextField : public QLineEdit {
    Q_OBJECT
  public:
    explicit TextField(QWidget* parent = nullptr);
    TextField(const QString& text, QWidget* parent = nullptr);

    void setTypedInto(bool on) { m_typedInto = on; }
    bool typedInto() const { return m_typedInto; }
    void setPressAction(std::function<void()> press) { m_press = std::move(press); }
    bool pressable() const { return bool(m_press); }
    void press() {
        if (m_press)
            m_press();
    }

  private:
    bool m_typedInto = false;
    std::function<void()> m_press;
};

// The accessible name and description of an item's row on the pages: the selection box and
// the value cell are named "0010 Alarm 1 set value" (the address and the item's name), the
// name cell "Name of item 0010"; the value cell tells how it is changed, and whether the
// item failed in the last Read or Write (the red ground says so to the eye).
void nameItemRow(QWidget* selectBox, QWidget* nameCell, QWidget* valueCell, int item,
                 const QString& name);
void markItemFailed(QWidget* valueCell, bool failed);

// How an announcement is said.
enum class Urgency {
    Failure,  // at once; also raised as an alert on the label that shows it
    Outcome,  // at once: the end of a transfer, a search, a comparison
    Progress, // at most one every kProgressMs; a newer one replaces one not yet said
};

// One message said: a notification whose name is the message. Each message has one of its
// own, so that a screen reader that comes to it late still reads what it said then.
class Notice : public QWidget {
    Q_OBJECT
  public:
    explicit Notice(QWidget* parent);
    QString text() const { return m_text; }
    void setText(const QString& text) { m_text = text; }

  private:
    QString m_text;
};

// A window's spoken messages. A screen reader says a notice when it is shown (AT-SPI
// "state-changed:showing" of a notification); the last kNotices messages stay in the tree
// after the labels that showed them have moved on. It has no size and takes neither focus
// nor clicks.
class Announcer : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kProgressMs = 5000;
    // The same message again within this time is not said twice (a failure that every
    // item of a Read repeats).
    static constexpr int kRepeatMs = 5000;
    static constexpr int kNotices = 3;

    explicit Announcer(QWidget* window);
    // `source` is the label or field that shows the message.
    void say(const QString& text, Urgency urgency, QWidget* source);
    // What was last said.
    QString lastSaid() const { return m_last; }
    // Milliseconds since some fixed start; tests give their own clock.
    void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }

  signals:
    // A message was told to assistive technology (for those that follow the program).
    void said(const QString& text, pmx::a11y::Urgency urgency, QWidget* source);

  private:
    void deliver(const QString& text, Urgency urgency, QWidget* source);
    qint64 now() const { return m_clock ? m_clock() : m_started.elapsed(); }

    QString m_last;
    std::array<Notice*, kNotices> m_notices{};
    int m_nextNotice = 0;
    QHash<QString, qint64> m_recent; // message -> when it was last said
    qint64 m_lastProgress = -1;
    QString m_pending; // a progress message held back
    QWidget* m_pendingSource = nullptr;
    QTimer m_pendingTimer;
    QElapsedTimer m_started;
    std::function<qint64()> m_clock;
};

// The announcer of the window `widget` is in, made when first needed.
Announcer* announcerOf(QWidget* widget);
// Says `text` (nothing when empty) for the window of `source`.
void announce(QWidget* source, const QString& text, Urgency urgency);

} // namespace pmx::a11y
