#include "ui/HelpWindow.h"

#include "model/HelpSource.h"
#include "text/StringTable.h"
#include "ui/Accessibility.h"
#include "ui/FittingScrollArea.h"

#include <QAbstractTextDocumentLayout>
#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSplitter>
#include <QTextBlock>
#include <QTextBrowser>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace pmx {

HelpWindow::HelpWindow(const QString& guide, QWidget* parent) : QWidget(parent, Qt::Window) {
    using strings::text;
    setObjectName(QStringLiteral("SubDisp_help"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(text(TextId::ProductName) + QLatin1Char(' ') + text(TextId::HelpTitle));

    m_back = new QPushButton(text(TextId::HelpBack), this);
    m_back->setObjectName(QStringLiteral("Command_back"));
    m_back->setShortcut(QKeySequence(QKeySequence::Back));
    m_forward = new QPushButton(text(TextId::HelpForward), this);
    m_forward->setObjectName(QStringLiteral("Command_forward"));
    m_forward->setShortcut(QKeySequence(QKeySequence::Forward));
    m_find = new QLineEdit(this);
    m_find->setObjectName(QStringLiteral("Text_find"));
    m_find->setPlaceholderText(text(TextId::HelpFind));
    m_find->setClearButtonEnabled(true);
    m_find->setAccessibleName(text(TextId::HelpFind));
    for (QToolButton* clear : m_find->findChildren<QToolButton*>())
        clear->setAccessibleName(text(TextId::ClearFindText));
    m_find->setMinimumWidth(220);
    m_findResult = new QLabel(this);
    m_findResult->setObjectName(QStringLiteral("Label_find"));
    auto* bar = new QHBoxLayout;
    bar->addWidget(m_back);
    bar->addWidget(m_forward);
    bar->addStretch(1);
    bar->addWidget(m_findResult);
    bar->addWidget(m_find);

    m_contents = new QTreeWidget(this);
    m_contents->setObjectName(QStringLiteral("Tree_contents"));
    m_contents->setHeaderLabel(text(TextId::HelpContents));
    m_contents->setAccessibleName(text(TextId::HelpContents));
    m_browser = new QTextBrowser(this);
    m_browser->setObjectName(QStringLiteral("Text_guide"));
    m_browser->setAccessibleName(text(TextId::GuideText));
    // Links go through followLink: QTextBrowser would load a page again at every link
    // within it once its document was changed, as the anchors and picture sizes change it.
    m_browser->setOpenLinks(false);
    m_browser->document()->setUndoRedoEnabled(false);
    auto* split = new QSplitter(Qt::Horizontal, this);
    split->addWidget(m_contents);
    split->addWidget(m_browser);
    split->setStretchFactor(1, 1);
    split->setSizes({300, 800});

    auto* top = new QVBoxLayout(this);
    top->addLayout(bar);
    top->addWidget(split, 1);
    fitWindowToScreen(this, nullptr, QSize(1040, 720));

    connect(m_back, &QPushButton::clicked, this, &HelpWindow::back);
    connect(m_forward, &QPushButton::clicked, this, &HelpWindow::forward);
    connect(m_browser, &QTextBrowser::anchorClicked, this, &HelpWindow::followLink);
    const auto toSection = [this](QTreeWidgetItem* item) {
        showAnchor(item->data(0, Qt::UserRole).toString());
    };
    connect(m_contents, &QTreeWidget::itemClicked, this, toSection);
    connect(m_contents, &QTreeWidget::itemActivated, this, toSection);
    connect(m_browser->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &HelpWindow::followScroll);
    connect(m_find, &QLineEdit::returnPressed, this, [this] { findText(m_find->text()); });
    connect(m_find, &QLineEdit::textChanged, m_findResult, &QLabel::clear);
    const auto key = [this](const QKeySequence& keys, auto action) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this, action);
    };
    key(QKeySequence::Find, [this] {
        m_find->setFocus();
        m_find->selectAll();
    });
    key(QKeySequence::FindNext, [this] { findText(m_find->text()); });
    key(QKeySequence::FindPrevious, [this] { findText(m_find->text(), true); });
    key(QKeySequence(Qt::Key_Escape), [this] { close(); });
    m_browser->viewport()->installEventFilter(this);

    loadPage(guide);
    updateButtons();
    m_browser->setFocus();
}

bool HelpWindow::loadPage(const QString& page) {
    QFile file(page);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    m_page = page;
    m_browser->setSearchPaths({QFileInfo(page).path()}); // where its pictures are
    m_browser->setMarkdown(help::joinWrappedLines(QString::fromUtf8(file.readAll())));
    m_headings = anchorHeadings(m_browser->document());
    m_imageSizes.clear();
    fillContents();
    fitImagesToWidth();
    return true;
}

void HelpWindow::fillContents() {
    m_contents->clear();
    QTreeWidgetItem* section = nullptr;
    for (const GuideHeading& heading : std::as_const(m_headings)) {
        if (heading.level < 2 || heading.level > 3)
            continue; // the title is the top of the page; deeper levels would crowd the list
        QTreeWidgetItem* item = heading.level == 3 && section ? new QTreeWidgetItem(section)
                                                              : new QTreeWidgetItem(m_contents);
        if (heading.level == 2)
            section = item;
        item->setText(0, heading.text);
        item->setToolTip(0, heading.text);
        item->setData(0, Qt::UserRole, heading.anchor);
    }
    m_contents->expandAll();
}

HelpWindow::Place HelpWindow::here() const {
    return {m_page, m_browser->verticalScrollBar()->value()};
}

void HelpWindow::goTo(const Place& place) {
    if (place.page != m_page)
        loadPage(place.page);
    m_browser->verticalScrollBar()->setValue(place.scroll);
    updateButtons();
}

void HelpWindow::updateButtons() {
    m_back->setEnabled(!m_backward.isEmpty());
    m_forward->setEnabled(!m_ahead.isEmpty());
}

void HelpWindow::back() {
    if (m_backward.isEmpty())
        return;
    m_ahead.append(here());
    goTo(m_backward.takeLast());
}

void HelpWindow::forward() {
    if (m_ahead.isEmpty())
        return;
    m_backward.append(here());
    goTo(m_ahead.takeLast());
}

void HelpWindow::followLink(const QUrl& link) {
    const QString scheme = link.scheme();
    if (!scheme.isEmpty() && scheme != QLatin1String("file")) {
        QDesktopServices::openUrl(link); // a web address
        return;
    }
    QString page = m_page;
    if (!link.path().isEmpty()) {
        page =
            link.isLocalFile() ? link.toLocalFile() : QFileInfo(m_page).dir().filePath(link.path());
        if (!QFileInfo(page).isFile())
            return; // something the guide does not bring along
    }
    const Place from = here();
    if (page != m_page && !loadPage(page))
        return;
    m_backward.append(from);
    m_ahead.clear();
    if (link.hasFragment())
        m_browser->scrollToAnchor(link.fragment());
    else
        m_browser->verticalScrollBar()->setValue(0);
    updateButtons();
}

void HelpWindow::showAnchor(const QString& anchor) {
    QUrl link;
    link.setFragment(anchor);
    followLink(link);
}

void HelpWindow::showPlaceOf(const QString& windowName, bool remember) {
    const QString anchor = anchorOf(m_headings, guidePlaceOf(windowName));
    if (anchor.isEmpty())
        return;
    if (remember)
        showAnchor(anchor);
    else
        m_browser->scrollToAnchor(anchor); // once laid out, when the window is not yet shown
}

bool HelpWindow::findText(const QString& text, bool backward) {
    m_findResult->clear();
    if (text.isEmpty())
        return false;
    const QTextDocument::FindFlags flags =
        backward ? QTextDocument::FindBackward : QTextDocument::FindFlags();
    if (m_browser->find(text, flags))
        return true;
    // Start over at the other end, once.
    QTextCursor cursor = m_browser->textCursor();
    cursor.movePosition(backward ? QTextCursor::End : QTextCursor::Start);
    m_browser->setTextCursor(cursor);
    if (m_browser->find(text, flags))
        return true;
    m_findResult->setText(strings::text(TextId::HelpFindMissing).arg(text));
    a11y::announce(m_findResult, m_findResult->text(), a11y::Urgency::Outcome);
    return false;
}

// The contents list marks the section the top of the view is in.
void HelpWindow::followScroll() {
    const int top = m_browser->verticalScrollBar()->value();
    QTextDocument* doc = m_browser->document();
    QString current;
    for (const GuideHeading& heading : std::as_const(m_headings)) {
        const QRectF box =
            doc->documentLayout()->blockBoundingRect(doc->findBlock(heading.position));
        if (box.top() > top + 4)
            break;
        if (heading.level >= 2 && heading.level <= 3)
            current = heading.anchor;
    }
    for (QTreeWidgetItemIterator it(m_contents); *it; ++it) {
        if ((*it)->data(0, Qt::UserRole).toString() == current) {
            const QSignalBlocker quiet(m_contents);
            m_contents->setCurrentItem(*it);
            m_contents->scrollToItem(*it);
            return;
        }
    }
    m_contents->setCurrentItem(nullptr);
}

bool HelpWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_browser->viewport() && event->type() == QEvent::Resize)
        fitImagesToWidth();
    return QWidget::eventFilter(watched, event);
}

void HelpWindow::fitImagesToWidth() {
    QTextDocument* doc = m_browser->document();
    const qreal width = m_browser->viewport()->width() - 2 * doc->documentMargin() - 8;
    fitImages(doc, width, [this](const QString& name) { return naturalSize(name); });
}

QSizeF HelpWindow::naturalSize(const QString& name) {
    const auto known = m_imageSizes.constFind(name);
    if (known != m_imageSizes.constEnd())
        return *known;
    const QSizeF size = QImageReader(QFileInfo(m_page).dir().filePath(name)).size();
    m_imageSizes.insert(name, size);
    return size;
}

} // namespace pmx
