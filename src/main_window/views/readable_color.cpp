#include "readable_color.h"

#include <QEvent>
#include <QPalette>
#include <QWidget>

#include <cmath>

namespace brindlewick {

namespace {

double linear(float channel) {
    return channel <= 0.04045f ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& c) {
    const QColor rgb = c.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) +
           0.0722 * linear(rgb.blueF());
}

// Follows the widget's palette: Qt sends PaletteChange whenever a role it inherits changes.
class ReadableText : public QObject {
public:
    ReadableText(QWidget* widget, const QColor& intended, double minimum)
        : QObject(widget), intended_(intended), minimum_(minimum) {
        widget->installEventFilter(this);
        apply(widget);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::PaletteChange && watched->isWidgetType())
            apply(static_cast<QWidget*>(watched));
        return false;
    }

private:
    void apply(QWidget* widget) {
        QPalette palette = widget->palette();
        // A label may stand on the window or on a list; both must carry it.
        const QColor color =
            readableOn(readableOn(intended_, palette.color(QPalette::Window), minimum_),
                       palette.color(QPalette::Base), minimum_);
        if (palette.color(QPalette::WindowText) == color && palette.color(QPalette::Text) == color)
            return; // also ends the PaletteChange that setPalette below sends
        palette.setColor(QPalette::WindowText, color);
        palette.setColor(QPalette::Text, color);
        widget->setPalette(palette);
    }

    QColor intended_;
    double minimum_;
};

} // namespace

double contrastRatio(const QColor& a, const QColor& b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor readableOn(const QColor& intended, const QColor& background, double minimum) {
    if (contrastRatio(intended, background) >= minimum)
        return intended;
    const bool lighter =
        contrastRatio(Qt::white, background) >= contrastRatio(Qt::black, background);
    const QColor hsl = intended.toHsl();
    const float hue = std::max(0.0f, hsl.hslHueF()); // achromatic: -1
    const float saturation = hsl.hslSaturationF();
    const auto at = [&](float lightness) {
        return QColor::fromHslF(hue, saturation, lightness, intended.alphaF()).toRgb();
    };
    // Lightness moves luminance one way only: halve the step between too little and enough.
    float bad = hsl.lightnessF();
    float good = lighter ? 1.0f : 0.0f;
    if (contrastRatio(at(good), background) < minimum)
        return at(good); // nothing reaches it (a mid-grey background): the best there is
    for (int i = 0; i < 16; ++i) {
        const float middle = (bad + good) / 2;
        (contrastRatio(at(middle), background) >= minimum ? good : bad) = middle;
    }
    return at(good);
}

void keepReadableText(QWidget* widget, const QColor& intended, double minimum) {
    new ReadableText(widget, intended, minimum);
}

} // namespace brindlewick
