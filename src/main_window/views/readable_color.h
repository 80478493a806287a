#pragma once
// Text colours chosen against what they are drawn on, so a dark or high-contrast palette keeps
// every text readable while a light one shows the colours exactly as designed.

#include <QColor>

class QWidget;

namespace brindlewick {

// The contrast ratio of two opaque colours as WCAG 2 defines it: 1 (none) to 21 (black on white).
double contrastRatio(const QColor& a, const QColor& b);

// Text at least this far from its background: body text and links; secondary grey lines,
// whose light-theme grey has about 3.9.
inline constexpr double kTextContrast = 4.5;
inline constexpr double kSecondaryContrast = 3.0;

// `intended` itself when it reaches `minimum` against `background`; otherwise the same hue made
// lighter (on a dark background) or darker (on a light one), just as far as needed.
QColor readableOn(const QColor& intended, const QColor& background, double minimum = kTextContrast);

// Gives the widget's text (WindowText and Text) `intended`, or its readable variant against the
// widget's Window and Base colours, and keeps it so whenever the widget's palette changes. Once
// per widget.
void keepReadableText(QWidget* widget, const QColor& intended, double minimum = kTextContrast);

} // namespace brindlewick
