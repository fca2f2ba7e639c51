#include "ui/Accessibility.h"

#include "model/ItemTable.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QComboBox>
#include <QFontMetrics>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QProgressBar>
#include <QStyle>

#include <utility>

namespace pmx::a11y {

namespace {

const char* const kFailedProperty = "pmxFailedItem";

QString withoutBreakPoints(QString text) {
    text.remove(QChar(0x200B));
    return text;
}

// The label whose buddy `w` is, as the toolkit finds it.
QLabel* captionOf(const QWidget* w) {
    const QWidget* parent = w ? w->parentWidget() : nullptr;
    if (!parent)
        return nullptr;
    for (QObject* o : parent->children()) {
        auto* label = qobject_cast<QLabel*>(o);
        if (label && label->buddy() == w)
            return label;
    }
    return nullptr;
}

// ---- text fields ------------------------------------------------------------------

class TextFieldAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
  public:
    explicit TextFieldAccessible(TextField* field)
        : QAccessibleWidget(field, QAccessible::EditableText) {}

    TextField* field() const { return static_cast<TextField*>(widget()); }

    QString text(QAccessible::Text t) const override {
        switch (t) {
        case QAccessible::Name:
            if (field()->accessibleName().isEmpty()) {
                if (const QLabel* caption = captionOf(field()))
                    return spoken(caption->text());
            }
            return spoken(QAccessibleWidget::text(t));
        case QAccessible::Value:
            return field()->text();
        default:
            return QAccessibleWidget::text(t);
        }
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        const bool editable = !field()->isReadOnly() || field()->typedInto();
        s.editable = editable;
        s.readOnly = !editable;
        s.selectableText = true;
        return s;
    }

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    QStringList actionNames() const override {
        QStringList names = QAccessibleWidget::actionNames();
        if (field()->pressable())
            names.prepend(pressAction());
        return names;
    }
    void doAction(const QString& name) override {
        if (name == pressAction() && field()->pressable() && field()->isEnabled())
            field()->press();
        else
            QAccessibleWidget::doAction(name);
    }

    // QAccessibleTextInterface
    void selection(int index, int* start, int* end) const override {
        *start = *end = 0;
        if (index == 0 && field()->hasSelectedText()) {
            *start = field()->selectionStart();
            *end = *start + field()->selectionLength();
        }
    }
    int selectionCount() const override { return field()->hasSelectedText() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int) override { field()->deselect(); }
    void setSelection(int, int start, int end) override {
        field()->setSelection(start, end - start);
    }
    int cursorPosition() const override { return field()->cursorPosition(); }
    void setCursorPosition(int position) override { field()->setCursorPosition(position); }
    QString text(int start, int end) const override {
        const QString all = field()->text();
        start = qBound(0, start, int(all.size()));
        end = end < 0 ? int(all.size()) : qBound(start, end, int(all.size()));
        return all.mid(start, end - start);
    }
    int characterCount() const override { return int(field()->text().size()); }
    QRect characterRect(int offset) const override {
        // Where the character is drawn: from the side the text is aligned to.
        const QString all = field()->text();
        if (offset < 0 || offset >= all.size())
            return {};
        const QFontMetrics fm(field()->font());
        const QRect area = field()->contentsRect().adjusted(2, 0, -2, 0);
        const int before = fm.horizontalAdvance(all.left(offset));
        const int left = field()->alignment() & Qt::AlignRight
                             ? area.right() - fm.horizontalAdvance(all) + before
                             : area.left() + before;
        const QRect r(left, area.center().y() - fm.height() / 2,
                      fm.horizontalAdvance(all.at(offset)), fm.height());
        return QRect(field()->mapToGlobal(r.topLeft()), r.size());
    }
    int offsetAtPoint(const QPoint& point) const override {
        const QPoint local = field()->mapFromGlobal(point);
        return field()->rect().contains(local) ? field()->cursorPositionAt(local) : -1;
    }
    void scrollToSubstring(int start, int) override { field()->setCursorPosition(start); }
    QString attributes(int, int* start, int* end) const override {
        *start = 0;
        *end = characterCount();
        return {};
    }
};

// ---- announcers -------------------------------------------------------------------

class NoticeAccessible : public QAccessibleWidget {
  public:
    explicit NoticeAccessible(Notice* n) : QAccessibleWidget(n, QAccessible::Notification) {}
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name)
            return static_cast<Notice*>(widget())->text();
        return QAccessibleWidget::text(t);
    }
};

// ---- menu commands ----------------------------------------------------------------

// The menu or menu bar that shows `action`.
QWidget* menuOwner(const QAction* action) {
    for (QObject* o : action->associatedObjects()) {
        auto* w = qobject_cast<QWidget*>(o);
        if ((qobject_cast<QMenu*>(w) || qobject_cast<QMenuBar*>(w)) &&
            w->actions().contains(const_cast<QAction*>(action)))
            return w;
    }
    return nullptr;
}

// A command of a menu or the menu bar, named by its caption without the access letter
// ("File(&F)" is "File"); otherwise as the toolkit's own.
class MenuItemAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
  public:
    explicit MenuItemAccessible(QAction* action) : m_action(action) {}

    QWidget* owner() const { return m_action ? menuOwner(m_action) : nullptr; }

    bool isValid() const override { return m_action && owner(); }
    QObject* object() const override { return m_action; }
    QWindow* window() const override {
        QAccessibleInterface* p = parent();
        return p ? p->window() : nullptr;
    }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(owner());
    }
    QAccessibleInterface* child(int index) const override {
        return index == 0 && m_action->menu()
                   ? QAccessible::queryAccessibleInterface(m_action->menu())
                   : nullptr;
    }
    int childCount() const override { return m_action->menu() ? 1 : 0; }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child && m_action->menu() && child->object() == m_action->menu() ? 0 : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        QAccessibleInterface* c = child(0);
        return c && c->rect().contains(x, y) ? c : nullptr;
    }

    QString text(QAccessible::Text t) const override {
        switch (t) {
        case QAccessible::Name:
            return spoken(m_action->text());
        case QAccessible::Accelerator: {
            if (!m_action->shortcut().isEmpty())
                return m_action->shortcut().toString(QKeySequence::NativeText);
            const QString caption = m_action->text();
            for (qsizetype at = caption.indexOf(u'&'); at >= 0 && at + 1 < caption.size();
                 at = caption.indexOf(u'&', at + 2)) {
                if (caption.at(at + 1) != u'&')
                    return QKeySequence(Qt::ALT).toString(QKeySequence::NativeText) +
                           caption.at(at + 1).toUpper();
            }
            return {};
        }
        default:
            return {};
        }
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        QWidget* own = owner();
        QRect r;
        if (auto* bar = qobject_cast<QMenuBar*>(own))
            r = bar->actionGeometry(m_action).translated(bar->mapToGlobal(QPoint(0, 0)));
        else if (auto* menu = qobject_cast<QMenu*>(own))
            r = menu->actionGeometry(m_action).translated(menu->mapToGlobal(QPoint(0, 0)));
        return r;
    }
    QAccessible::Role role() const override {
        return m_action->isSeparator() ? QAccessible::Separator : QAccessible::MenuItem;
    }
    QAccessible::State state() const override {
        QAccessible::State s;
        QWidget* own = owner();
        if (!own || !own->testAttribute(Qt::WA_WState_Visible) || !m_action->isVisible())
            s.invisible = true;
        if (auto* menu = qobject_cast<QMenu*>(own); menu && menu->activeAction() == m_action)
            s.focused = true;
        if (auto* bar = qobject_cast<QMenuBar*>(own); bar && bar->activeAction() == m_action)
            s.focused = true;
        if (own && own->style()->styleHint(QStyle::SH_Menu_MouseTracking))
            s.hotTracked = true;
        if (m_action->isSeparator() || !m_action->isEnabled())
            s.disabled = true;
        s.checkable = m_action->isCheckable();
        s.checked = m_action->isChecked();
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType t) override {
        return t == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                 : nullptr;
    }

    // QAccessibleActionInterface
    QStringList actionNames() const override {
        if (!m_action || m_action->isSeparator())
            return {};
        return {m_action->menu() ? showMenuAction() : pressAction()};
    }
    void doAction(const QString& name) override {
        if (!m_action || !m_action->isEnabled())
            return;
        if (name == pressAction()) {
            m_action->trigger();
        } else if (name == showMenuAction()) {
            QMenu* sub = m_action->menu();
            if (sub && sub->isVisible())
                sub->hide();
            else if (auto* bar = qobject_cast<QMenuBar*>(owner()))
                bar->setActiveAction(m_action);
            else if (auto* menu = qobject_cast<QMenu*>(owner()))
                menu->setActiveAction(m_action);
        }
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

  private:
    QPointer<QAction> m_action;
};

QAccessibleInterface* factory(const QString& key, QObject* object) {
    if (key == QLatin1String("pmx::a11y::TextField")) {
        if (auto* field = qobject_cast<TextField*>(object))
            return new TextFieldAccessible(field);
    } else if (key == QLatin1String("pmx::a11y::Notice")) {
        if (auto* n = qobject_cast<Notice*>(object))
            return new NoticeAccessible(n);
    } else if (key == QLatin1String("QAction")) {
        auto* action = qobject_cast<QAction*>(object);
        if (action && menuOwner(action))
            return new MenuItemAccessible(action);
    }
    return nullptr;
}

// ---- the pace of events -------------------------------------------------------------

// A progress bar tells each step it takes. A transfer steps over the items it skips with no
// pause, faster than a screen reader takes the steps in: it drops what queued up behind them,
// the announcements of failures and summaries among them. A bar's steps go out at most every
// kBarStepMs, its last one always.
constexpr int kBarStepMs = 250;

QAccessible::UpdateHandler g_nextHandler = nullptr;
void paceEvents(QAccessibleEvent* event);

// On to the platform's bridge (or the handler that was there before).
void passOn(QAccessibleEvent* event) {
    if (g_nextHandler) {
        g_nextHandler(event);
        return;
    }
    QAccessible::installUpdateHandler(nullptr);
    QAccessible::updateAccessibility(event);
    QAccessible::installUpdateHandler(paceEvents);
}

struct BarPace {
    QElapsedTimer sinceTold;
    bool held = false;
};
QHash<QObject*, BarPace>& barPaces() {
    static QHash<QObject*, BarPace> paces;
    return paces;
}

void tellBarValue(QProgressBar* bar) {
    BarPace& pace = barPaces()[bar];
    pace.held = false;
    pace.sinceTold.start();
    QAccessibleValueChangeEvent event(bar, bar->value());
    passOn(&event);
}

// The text changes of a read-only field without the focus: a page's 64 cells redrawn at the
// end of a Read would tell three events each, and the screen reader reads a cell when it
// comes to it anyway.
bool unheardTextChange(const QAccessibleEvent* event) {
    switch (event->type()) {
    case QAccessible::TextInserted:
    case QAccessible::TextRemoved:
    case QAccessible::TextUpdated:
    case QAccessible::TextCaretMoved:
    case QAccessible::TextSelectionChanged: {
        const auto* field = qobject_cast<const TextField*>(event->object());
        return field && field->isReadOnly() && !field->typedInto() && !field->hasFocus();
    }
    default:
        return false;
    }
}

void paceEvents(QAccessibleEvent* event) {
    if (unheardTextChange(event))
        return;
    auto* bar = qobject_cast<QProgressBar*>(event->object());
    if (!bar || event->type() != QAccessible::ValueChanged) {
        passOn(event);
        return;
    }
    if (!barPaces().contains(bar))
        QObject::connect(bar, &QObject::destroyed, [bar] { barPaces().remove(bar); });
    BarPace& pace = barPaces()[bar];
    if (!pace.sinceTold.isValid() || pace.sinceTold.elapsed() >= kBarStepMs) {
        tellBarValue(bar);
        return;
    }
    if (pace.held)
        return; // the step already held back tells the value of its time
    pace.held = true;
    QTimer::singleShot(int(kBarStepMs - pace.sinceTold.elapsed()), bar, [bar] {
        if (barPaces().value(bar).held)
            tellBarValue(bar);
    });
}

} // namespace

void install() {
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    QAccessible::installFactory(factory);
    g_nextHandler = QAccessible::installUpdateHandler(paceEvents);
}

QString spoken(const QString& caption) {
    return withoutBreakPoints(strings::withoutAccessKey(caption));
}

void setCaption(QAbstractButton* button, TextId id, char key) {
    button->setText(strings::withAccessKey(id, key));
    button->setAccessibleName(strings::text(id));
}

void setCaption(QLabel* caption, TextId id, char key) {
    caption->setText(strings::withAccessKey(id, key));
    caption->setAccessibleName(strings::text(id));
    if (QWidget* buddy = caption->buddy())
        buddy->setAccessibleName(strings::text(id));
}

void nameComboBox(QComboBox* box, const QString& name) {
    box->setAccessibleName(name);
    if (QLineEdit* edit = box->lineEdit())
        edit->setAccessibleName(name);
    if (QAbstractItemView* list = box->view())
        list->setAccessibleName(name);
}

void setSpokenText(QLabel* label, const QString& text) {
    label->setText(text);
    const QString said = withoutBreakPoints(text);
    // A name of its own only where it differs, so that the label's text changes are told
    // as the toolkit tells them.
    label->setAccessibleName(said == text ? QString() : said);
}

// ---- item rows --------------------------------------------------------------------

void nameItemRow(QWidget* selectBox, QWidget* nameCell, QWidget* valueCell, int item,
                 const QString& name) {
    const QString address = itemAddressText(item);
    const QString itemName =
        name.trimmed().isEmpty() ? address : address + QLatin1Char(' ') + name.simplified();
    selectBox->setAccessibleName(itemName);
    nameCell->setAccessibleName(strings::text(TextId::NameOfItem).arg(address));
    valueCell->setAccessibleName(itemName);
    markItemFailed(valueCell, valueCell->property(kFailedProperty).toBool());
}

void markItemFailed(QWidget* valueCell, bool failed) {
    valueCell->setProperty(kFailedProperty, failed);
    QString description = strings::text(TextId::ValueCellHint);
    if (failed)
        description = strings::text(TextId::ItemFailedLastTime) + QLatin1Char(' ') + description;
    if (valueCell->accessibleDescription() != description)
        valueCell->setAccessibleDescription(description);
}

// ---- text fields ------------------------------------------------------------------

TextField::TextField(QWidget* parent) : QLineEdit(parent) {
    install();
}

TextField::TextField(const QString& text, QWidget* parent) : QLineEdit(text, parent) {
    install();
}

// ---- announcements ----------------------------------------------------------------

Notice::Notice(QWidget* parent) : QWidget(parent) {
    install();
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(0, 0, 0, 0);
}

Announcer::Announcer(QWidget* window) : QWidget(window) {
    install();
    setObjectName(QStringLiteral("Announcer"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(0, 0, 0, 0);
    for (Notice*& notice : m_notices) {
        notice = new Notice(this);
        notice->hide(); // shown with its first message
    }
    // Shown with the window; a child made after the window was shown is shown here.
    if (window && window->isVisible())
        show();
    m_started.start();
    m_pendingTimer.setSingleShot(true);
    connect(&m_pendingTimer, &QTimer::timeout, this, [this] {
        const QString text = std::exchange(m_pending, QString());
        if (text.isEmpty())
            return;
        m_lastProgress = now();
        deliver(text, Urgency::Progress, m_pendingSource);
    });
}

void Announcer::say(const QString& message, Urgency urgency, QWidget* source) {
    QString text = withoutBreakPoints(message).trimmed();
    if (text.isEmpty())
        return;
    const qint64 t = now();
    for (auto it = m_recent.begin(); it != m_recent.end();)
        it = t - it.value() >= kRepeatMs ? m_recent.erase(it) : std::next(it);
    if (urgency == Urgency::Progress) {
        if (m_lastProgress >= 0 && t - m_lastProgress < kProgressMs) {
            m_pending = text;
            m_pendingSource = source;
            m_pendingTimer.start(int(kProgressMs - (t - m_lastProgress)));
            return;
        }
        m_pending.clear();
        m_pendingTimer.stop();
        m_lastProgress = t;
        deliver(text, urgency, source);
        return;
    }
    // What the task came to makes its progress out of date.
    m_pending.clear();
    m_pendingTimer.stop();
    // Lines added to what was just said (notices after a summary): only the new ones.
    if (!m_last.isEmpty() && text.startsWith(m_last + QLatin1Char('\n')))
        text = text.mid(m_last.size() + 1);
    if (m_recent.contains(text))
        return;
    deliver(text, urgency, source);
}

void Announcer::deliver(const QString& text, Urgency urgency, QWidget* source) {
    m_last = text;
    m_recent.insert(text, now());
    QWidget* const window = parentWidget();
    if (!window || !window->isVisible())
        return; // kept in the tree; nobody sees the window to be told
    emit said(text, urgency, source);
    if (urgency == Urgency::Failure && source) {
        QAccessibleEvent alert(source, QAccessible::Alert);
        QAccessible::updateAccessibility(&alert);
    }
    Notice* notice = m_notices[m_nextNotice];
    m_nextNotice = (m_nextNotice + 1) % kNotices;
    notice->setText(text);
    QAccessibleEvent renamed(notice, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&renamed);
    if (!isVisible())
        show();
    if (notice->isHidden()) {
        notice->show(); // tells that it is showing, with the message as its name
        return;
    }
    QAccessibleEvent shown(notice, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
}

Announcer* announcerOf(QWidget* widget) {
    QWidget* window = widget->window();
    if (auto* found = window->findChild<Announcer*>(QString(), Qt::FindDirectChildrenOnly))
        return found;
    return new Announcer(window);
}

void announce(QWidget* source, const QString& text, Urgency urgency) {
    if (!source || text.trimmed().isEmpty())
        return;
    announcerOf(source)->say(text, urgency, source);
}

} // namespace pmx::a11y
