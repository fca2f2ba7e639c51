#pragma once
#include "ui/HelpDocument.h"

#include <QHash>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QTextBrowser;
class QTreeWidget;
class QUrl;

namespace pmx {

// The user guide in a window of its own: the guide's headings as a contents list beside
// the text, Back and Forward through the places visited, and a search box. The guide is a
// Markdown file, normally one built into the program (":/help/user-guide.md"); the
// pictures and other guides it names are looked up beside it. Closing it deletes it.
class HelpWindow : public QWidget {
    Q_OBJECT
  public:
    explicit HelpWindow(const QString& guide, QWidget* parent = nullptr);

    QTextBrowser* browser() const { return m_browser; }
    // The guide file on show.
    QString page() const { return m_page; }
    // The headings of the guide on show, as the contents list has them.
    const QList<GuideHeading>& headings() const { return m_headings; }
    // Shows the heading with this anchor; Back returns from it.
    void showAnchor(const QString& anchor);
    // Shows the section that tells of the window with this object name (F1 there); Back
    // returns from it when `remember`.
    void showPlaceOf(const QString& windowName, bool remember = true);
    // Follows a link of the guide: a heading ("#anchor"), another guide beside it
    // ("user-guide.ja.md"), or a web address (in the desktop's browser). A guide that is
    // not there is not followed.
    void followLink(const QUrl& link);
    void back();
    void forward();
    // Selects the next place (or the previous, with `backward`) where `text` occurs,
    // starting over at the other end once; false when the guide does not hold it.
    bool findText(const QString& text, bool backward = false);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Place {
        QString page;
        int scroll = 0;
    };
    bool loadPage(const QString& page);
    Place here() const;
    void goTo(const Place& place);
    void updateButtons();
    void fillContents();
    void followScroll();
    void fitImagesToWidth();
    QSizeF naturalSize(const QString& name);

    QTextBrowser* m_browser = nullptr;
    QTreeWidget* m_contents = nullptr;
    QPushButton* m_back = nullptr;
    QPushButton* m_forward = nullptr;
    QLineEdit* m_find = nullptr;
    QLabel* m_findResult = nullptr;
    QString m_page;
    QList<Place> m_backward;
    QList<Place> m_ahead;
    QList<GuideHeading> m_headings;
    QHash<QString, QSizeF> m_imageSizes;
};

} // namespace pmx
