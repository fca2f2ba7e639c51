#pragma once
#include <QColor>
#include <QPalette>

class QWidget;

namespace pmx {

// Colours that carry a meaning (a failure in red, a reconnection in green) taken from the
// palette in use, so that they read on a light and on a dark theme alike.

// WCAG contrast ratio of two colours, 1 to 21.
double contrastRatio(const QColor& a, const QColor& b);
// The window colour of the palette is dark (a dark theme).
bool isDarkPalette(const QPalette& palette);
// `tone` moved towards white on a dark background, or towards black on a light one, until
// its contrast with `background` reaches 4.5:1 (the level for ordinary text).
QColor readableTone(const QColor& tone, const QColor& background);

enum class Tone { Plain, Failure, Good };
// The text colour of a tone on `background`; Plain is the palette's own text colour.
QColor toneColour(Tone tone, const QPalette& palette, QPalette::ColorRole background);
// Shows a label's text in a tone, readable on its window colour; Plain follows the theme.
// The tone is kept with the widget and chosen again when the theme changes.
void setTextTone(QWidget* widget, Tone tone);
// A value cell of an item that failed: a reddish background under the theme's own text.
void setFailedCell(QWidget* cell, bool failed);
// The ground of a value that differs from the instrument's (or was not kept by it): amber,
// pale on a light theme, deep on a dark one.
QColor differenceGround(const QPalette& palette);
// Applies a widget's kept tone and mark again under the palette now in use.
void reapplyTones(QWidget* widget);

// A dark Fusion palette: what the program looks like on a dark desktop theme (screenshots
// and tests use it; the program itself takes the desktop's palette).
QPalette darkPalette();

} // namespace pmx
