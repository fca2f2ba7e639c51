#pragma once
#include <QLabel>
#include <QResizeEvent>
#include <QString>

namespace pmx {

// Device paths (/dev/serial/by-id/usb-...-if00-port0) have no blanks, so a word-wrapped
// label could not break them and would clip or widen its window: allow a break after
// path and name separators. The inserted zero-width spaces are invisible.
inline QString breakable(QString text) {
    for (const QChar sep : {u'/', u'-', u'_'})
        text.replace(sep, QString(sep) + QChar(0x200B));
    return text;
}

// A word-wrapped label that asks for the height of all its lines at the width it has,
// so that no window can be made so small that the last lines are cut off.
class WrappedLabel : public QLabel {
  public:
    explicit WrappedLabel(QWidget* parent = nullptr) : QLabel(parent) { setWordWrap(true); }
    explicit WrappedLabel(const QString& text, QWidget* parent = nullptr) : QLabel(text, parent) {
        setWordWrap(true);
    }

    QSize minimumSizeHint() const override {
        const QSize base = QLabel::minimumSizeHint();
        if (text().isEmpty() || width() <= 0)
            return base;
        return {base.width(), qMax(base.height(), heightForWidth(width()))};
    }

  protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        if (event->size().width() != event->oldSize().width())
            updateGeometry(); // the lines' height at the new width
    }
};

} // namespace pmx
