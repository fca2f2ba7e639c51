#pragma once
#include <QList>
#include <QSizeF>
#include <QString>

#include <functional>

class QTextDocument;

namespace pmx {

struct GuideHeading {
    int level = 0;    // 1 for the title, 2 for a section, 3 for a subsection ...
    QString text;     // as shown
    QString anchor;   // the name links use ("4-reading-and-writing")
    int position = 0; // where its block starts in the document
};

// Gives every heading of a guide read from Markdown the anchor its links use (a repeated
// heading gets "-1", "-2" ... as well) and returns the headings in order.
QList<GuideHeading> anchorHeadings(QTextDocument* doc);

// Where the guide tells of a window: the number of its section ("5. ..."), and of the
// subsection within it counted from 1 (0: the section itself). Both guides number their
// sections alike.
struct GuidePlace {
    int section = 0;
    int subsection = 0;
    bool operator==(const GuidePlace&) const = default;
};
// The place of the window with this object name (SubDisp_comm ...); the main window's for
// any other.
GuidePlace guidePlaceOf(const QString& windowName);
// The anchor of that place among the headings; empty when the guide has no such place.
QString anchorOf(const QList<GuideHeading>& headings, const GuidePlace& place);

// Shows every image at its own size, or scaled down to the width available where it
// would not fit, keeping its shape. `naturalSize` gives an image's own size from its name
// (empty when it cannot be read: such an image is left alone).
void fitImages(QTextDocument* doc, qreal width,
               const std::function<QSizeF(const QString& name)>& naturalSize);

} // namespace pmx
