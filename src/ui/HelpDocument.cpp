#include "ui/HelpDocument.h"

#include "model/HelpSource.h"

#include <QHash>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>

namespace pmx {

namespace {

// Calls `visit` with every image fragment of the document.
template <typename Visit> void eachImage(QTextDocument* doc, Visit visit) {
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.charFormat().isImageFormat())
                visit(block, fragment);
        }
    }
}

} // namespace

GuidePlace guidePlaceOf(const QString& windowName) {
    static const QHash<QString, GuidePlace> places = {
        {QStringLiteral("MainDisp"), {1, 0}},         {QStringLiteral("SubDisp_compare"), {2, 1}},
        {QStringLiteral("Setting_Disp"), {3, 0}},     {QStringLiteral("SubDisp_command"), {4, 0}},
        {QStringLiteral("SubDisp_comm"), {5, 0}},     {QStringLiteral("SubDisp_find"), {6, 0}},
        {QStringLiteral("rptver"), {8, 0}},           {QStringLiteral("SubDisp_monitor"), {10, 0}},
        {QStringLiteral("SubDisp_About"), {11, 0}},   {QStringLiteral("SubDisp_help"), {11, 0}},
        {QStringLiteral("SubDisp_history"), {10, 1}},
    };
    return places.value(windowName, GuidePlace{1, 0});
}

QString anchorOf(const QList<GuideHeading>& headings, const GuidePlace& place) {
    const QString number = QString::number(place.section) + QStringLiteral(". ");
    int subsections = -1; // not yet in the section
    for (const GuideHeading& heading : headings) {
        if (heading.level == 2) {
            if (subsections >= 0)
                return {}; // the section ended before its subsection
            if (heading.text.startsWith(number)) {
                if (place.subsection == 0)
                    return heading.anchor;
                subsections = 0;
            }
        } else if (heading.level == 3 && subsections >= 0 && ++subsections == place.subsection) {
            return heading.anchor;
        }
    }
    return {};
}

QList<GuideHeading> anchorHeadings(QTextDocument* doc) {
    QList<GuideHeading> headings;
    QHash<QString, int> taken;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        const int level = block.blockFormat().headingLevel();
        if (level <= 0 || block.text().trimmed().isEmpty())
            continue;
        GuideHeading heading{level, block.text().trimmed(), help::headingAnchor(block.text()),
                             block.position()};
        const int seen = taken.value(heading.anchor, 0);
        taken.insert(heading.anchor, seen + 1);
        if (seen > 0)
            heading.anchor += QLatin1Char('-') + QString::number(seen);
        QTextCursor cursor(block);
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        QTextCharFormat format;
        format.setAnchor(true);
        format.setAnchorNames({heading.anchor});
        cursor.mergeCharFormat(format);
        headings.append(heading);
    }
    return headings;
}

void fitImages(QTextDocument* doc, qreal width,
               const std::function<QSizeF(const QString& name)>& naturalSize) {
    struct Change {
        int position;
        int length;
        QTextImageFormat format;
    };
    QList<Change> changes; // applied afterwards: changing formats splits fragments
    eachImage(doc, [&](const QTextBlock& block, const QTextFragment& fragment) {
        QTextImageFormat format = fragment.charFormat().toImageFormat();
        const QSizeF natural = naturalSize(format.name());
        if (natural.isEmpty())
            return;
        // Paragraphs inside list items are indented, list items by their list.
        const QTextBlockFormat paragraph = block.blockFormat();
        const QTextList* list = block.textList();
        const int indent = paragraph.indent() + (list ? list->format().indent() : 0);
        const qreal room =
            width - indent * doc->indentWidth() - paragraph.leftMargin() - paragraph.rightMargin();
        const qreal shown = std::max<qreal>(1, std::min(natural.width(), room));
        if (qAbs(format.width() - shown) < 0.5)
            return;
        format.setWidth(shown);
        format.setHeight(natural.height() * shown / natural.width());
        changes.append({fragment.position(), fragment.length(), format});
    });
    for (const Change& change : std::as_const(changes)) {
        QTextCursor cursor(doc);
        cursor.setPosition(change.position);
        cursor.setPosition(change.position + change.length, QTextCursor::KeepAnchor);
        cursor.setCharFormat(change.format);
    }
}

} // namespace pmx
