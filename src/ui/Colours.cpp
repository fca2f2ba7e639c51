#include "ui/Colours.h"

#include <QEvent>
#include <QVariant>
#include <QWidget>

#include <cmath>

namespace pmx {

namespace {

constexpr double kTextContrast = 4.5;
const char* const kToneProperty = "pmxTone";
const char* const kFailedProperty = "pmxFailed";
const char* const kKeptProperty = "pmxToneKept";

double channel(double c) {
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& c) {
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

QColor mix(const QColor& a, const QColor& b, double t) {
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t),
                            float(a.greenF() + (b.greenF() - a.greenF()) * t),
                            float(a.blueF() + (b.blueF() - a.blueF()) * t));
}

// Chooses a widget's tone or mark again when the theme changes: the colours were chosen
// against the old palette. The parent has the new palette by then (a palette passes
// from parents to children). Our own setting of the palette comes here too: chosen
// again, the colours are the same, and an unchanged palette sends no further event.
class ToneKeeper : public QObject {
  public:
    explicit ToneKeeper(QWidget* widget) : QObject(widget) { widget->installEventFilter(this); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::PaletteChange)
            reapplyTones(static_cast<QWidget*>(watched));
        return false;
    }
};

void keepTone(QWidget* widget) {
    if (widget->property(kKeptProperty).toBool())
        return;
    widget->setProperty(kKeptProperty, true);
    new ToneKeeper(widget);
}

// The palette the widget inherits, without the colours set on it by a tone.
QPalette naturalPalette(const QWidget* widget) {
    return widget->parentWidget() ? widget->parentWidget()->palette() : widget->palette();
}

} // namespace

double contrastRatio(const QColor& a, const QColor& b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

bool isDarkPalette(const QPalette& palette) {
    return luminance(palette.color(QPalette::Window)) < 0.2;
}

QColor readableTone(const QColor& tone, const QColor& background) {
    // Towards whichever end leaves more room from the background.
    const QColor end = contrastRatio(Qt::white, background) > contrastRatio(Qt::black, background)
                           ? QColor(Qt::white)
                           : QColor(Qt::black);
    for (int step = 0; step <= 20; ++step) {
        const QColor c = mix(tone, end, step / 20.0);
        if (contrastRatio(c, background) >= kTextContrast)
            return c;
    }
    return end;
}

QColor toneColour(Tone tone, const QPalette& palette, QPalette::ColorRole background) {
    const QPalette::ColorRole text =
        background == QPalette::Base ? QPalette::Text : QPalette::WindowText;
    switch (tone) {
    case Tone::Plain:
        return palette.color(text);
    case Tone::Failure:
        return readableTone(QColor(255, 0, 0), palette.color(background));
    case Tone::Good:
        return readableTone(QColor(0, 110, 0), palette.color(background));
    }
    return palette.color(text);
}

void setTextTone(QWidget* widget, Tone tone) {
    keepTone(widget);
    widget->setProperty(kToneProperty, int(tone));
    QPalette own; // only the roles set here are the widget's own; the rest is inherited
    own.setResolveMask(0);
    if (tone != Tone::Plain) {
        const QPalette natural = naturalPalette(widget);
        own.setColor(QPalette::WindowText, toneColour(tone, natural, QPalette::Window));
        own.setColor(QPalette::Text, toneColour(tone, natural, QPalette::Base));
    }
    widget->setPalette(own);
}

void setFailedCell(QWidget* cell, bool failed) {
    keepTone(cell);
    cell->setProperty(kFailedProperty, failed);
    QPalette own;
    own.setResolveMask(0);
    if (failed) {
        const QPalette natural = naturalPalette(cell);
        const QColor base = natural.color(QPalette::Base);
        const QColor text = natural.color(QPalette::Text);
        // A tint of red strong enough to see, weak enough that the value still reads.
        double share = isDarkPalette(natural) ? 0.35 : 0.18;
        QColor tinted = mix(base, QColor(255, 0, 0), share);
        while (contrastRatio(tinted, text) < kTextContrast && share > 0.05) {
            share -= 0.05;
            tinted = mix(base, QColor(255, 0, 0), share);
        }
        own.setColor(QPalette::Base, tinted);
    }
    cell->setPalette(own);
}

void reapplyTones(QWidget* widget) {
    const QVariant tone = widget->property(kToneProperty);
    if (tone.isValid())
        setTextTone(widget, Tone(tone.toInt()));
    if (widget->property(kFailedProperty).isValid())
        setFailedCell(widget, widget->property(kFailedProperty).toBool());
}

QPalette darkPalette() {
    QPalette p;
    const QColor window(53, 53, 53), base(36, 36, 36), text(230, 230, 230);
    const QColor disabled(127, 127, 127), highlight(42, 130, 218);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, QColor(48, 48, 48));
    p.setColor(QPalette::ToolTipBase, window);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor(150, 150, 150));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, QColor(255, 90, 90));
    p.setColor(QPalette::Light, QColor(80, 80, 80));
    p.setColor(QPalette::Midlight, QColor(66, 66, 66));
    p.setColor(QPalette::Mid, QColor(44, 44, 44));
    p.setColor(QPalette::Dark, QColor(30, 30, 30));
    p.setColor(QPalette::Shadow, QColor(15, 15, 15));
    p.setColor(QPalette::Link, QColor(90, 160, 240));
    p.setColor(QPalette::Highlight, highlight);
    p.setColor(QPalette::HighlightedText, Qt::white);
    for (const QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, disabled);
    p.setColor(QPalette::Disabled, QPalette::Base, window);
    return p;
}

QColor differenceGround(const QPalette& palette) {
    return isDarkPalette(palette) ? QColor(110, 80, 0) : QColor(255, 236, 179);
}

} // namespace pmx
