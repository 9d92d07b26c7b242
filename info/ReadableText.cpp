#include "info/ReadableText.h"

#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <cmath>
#include <optional>

namespace {

double channel(int value)
{
    const double c = value / 255.0;
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// The colour a widget's text is drawn on, when the program chose it: the
// first ancestor (or the widget) that paints its own background and has its
// background colour set explicitly. Nothing when the palette decides.
std::optional<QColor> fixedBackground(const QWidget *widget)
{
    for (const QWidget *w = widget; w; w = w->parentWidget()) {
        if (!w->autoFillBackground() && !w->isWindow())
            continue;
        if (w->palette().isBrushSet(QPalette::Active, QPalette::Window))
            return w->palette().color(QPalette::Window);
        return std::nullopt; // painted in the palette's own colour
    }
    return std::nullopt;
}

void fixWidget(QWidget *widget)
{
    const std::optional<QColor> background = fixedBackground(widget);
    if (!background)
        return;
    QPalette palette = widget->palette();
    const QColor present = palette.color(QPalette::Active, QPalette::WindowText);
    const bool chosen = palette.isBrushSet(QPalette::Active, QPalette::WindowText);
    QColor text = present;
    if (!chosen || ContrastRatio(present, *background) < MinimumTextContrast)
        text = ContrastRatio(Qt::black, *background) >= ContrastRatio(Qt::white, *background)
                   ? QColor(Qt::black)
                   : QColor(Qt::white);
    // Disabled text is greyed towards the background, as far as it stays readable.
    QColor disabled = QColor::fromRgbF((text.redF() * 2 + background->redF()) / 3,
                                       (text.greenF() * 2 + background->greenF()) / 3,
                                       (text.blueF() * 2 + background->blueF()) / 3);
    if (ContrastRatio(disabled, *background) < MinimumTextContrast)
        disabled = text;
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::WindowText, text);
        palette.setColor(group, QPalette::Text, text);
    }
    palette.setColor(QPalette::Disabled, QPalette::WindowText, disabled);
    palette.setColor(QPalette::Disabled, QPalette::Text, disabled);
    widget->setPalette(palette);
}

class ReadableTextKeeper : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show)
            FixTextOnFixedBackgrounds(static_cast<QWidget *>(watched));
        return false;
    }
};

} // namespace

double RelativeLuminance(const QColor &colour)
{
    const QColor rgb = colour.toRgb();
    return 0.2126 * channel(rgb.red()) + 0.7152 * channel(rgb.green()) +
           0.0722 * channel(rgb.blue());
}

double ContrastRatio(const QColor &a, const QColor &b)
{
    const double la = RelativeLuminance(a);
    const double lb = RelativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

void FixTextOnFixedBackgrounds(QWidget *root)
{
    if (!root)
        return;
    QList<QWidget *> widgets;
    for (QLabel *w : root->findChildren<QLabel *>())
        widgets.append(w);
    for (QCheckBox *w : root->findChildren<QCheckBox *>())
        widgets.append(w);
    for (QRadioButton *w : root->findChildren<QRadioButton *>())
        widgets.append(w);
    for (QGroupBox *w : root->findChildren<QGroupBox *>())
        widgets.append(w);
    for (QWidget *widget : std::as_const(widgets))
        fixWidget(widget);
}

void KeepTextReadable(QWidget *window)
{
    if (!window)
        return;
    window->installEventFilter(new ReadableTextKeeper(window));
    FixTextOnFixedBackgrounds(window);
}
