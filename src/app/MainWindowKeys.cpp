// The main window's keyboard: the value cells' keys, the order of Tab, the shortcuts of
// the file buttons and End; and the window's size on a small screen.
#include "app/MainWindow.h"

#include "ui/Accessibility.h"
#include "ui/FittingScrollArea.h"

#include <QAction>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>

#include <functional>
#include <utility>

namespace pmx {

namespace {

// A value cell opens the value dialog for its row when clicked, and on Enter, F2 or
// Space, as a button would.
class CellFilter : public QObject {
  public:
    CellFilter(QObject* parent, std::function<void()> open)
        : QObject(parent), m_open(std::move(open)) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonRelease) {
            if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
                m_open();
        } else if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            const bool plain = (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
            switch (key->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_F2:
            case Qt::Key_Space:
                if (plain) {
                    m_open();
                    return true;
                }
                break;
            default:
                break;
            }
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    std::function<void()> m_open;
};

} // namespace

void MainWindow::setUpKeyboard() {
    for (int r = 0; r < kRowsPerPage; ++r) {
        QLineEdit* cell = m_valueCells[r];
        cell->installEventFilter(new CellFilter(cell, [this, r] { editValue(r); }));
        // A screen reader's "press" on the cell does what a click does.
        if (auto* field = qobject_cast<a11y::TextField*>(cell))
            field->setPressAction([this, r] { editValue(r); });
        // The names are read-only: a click may still select one, Tab passes them by.
        m_nameCells[r]->setFocusPolicy(Qt::ClickFocus);
    }
    // Tab: the page's tabs, then box and value of each row, then the side from the top.
    QList<QWidget*> order{m_pageTabs};
    for (int r = 0; r < kRowsPerPage; ++r)
        order << m_selectBoxes[r] << m_valueCells[r];
    order << m_decButton << m_hexButton << m_readButton << m_writeButton << m_loadButton
          << m_saveButton << m_sendOnChangeBox << m_verifyBox << m_stopButton;
    for (qsizetype k = 1; k < order.size(); ++k)
        setTabOrder(order[k - 1], order[k]);

    // The file buttons' shortcuts act as a click: nothing happens while a button is off.
    const auto shortcut = [this](const char* name, QKeyCombination keys, QPushButton* button) {
        auto* action = new QAction(this);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcut(QKeySequence(keys));
        connect(action, &QAction::triggered, button, &QPushButton::click);
        addAction(action);
        button->setToolTip(action->shortcut().toString(QKeySequence::NativeText));
    };
    shortcut("shortcut_load", Qt::CTRL | Qt::Key_O, m_loadButton);
    shortcut("shortcut_save", Qt::CTRL | Qt::Key_S, m_saveButton);
    // End asks the closing question, as closing the window does.
    m_endAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
}

void MainWindow::fitToScreen() {
    fitWindowToScreen(this, m_bodyScroll);
}

void MainWindow::fitTo(const QSize& available) {
    // All of the window where the screen has room, else the room there is; the pages and the
    // side scroll in what the menu, the model label and the progress row leave.
    fitWindow(this, m_bodyScroll, available - kFrameAllowance);
}

} // namespace pmx
