#pragma once
// A clearly visible keyboard focus on a button: a ring drawn over its edge
// while it has the focus (round on a glyph button), in white or black,
// whichever stands out more from the panel under the button (at least 4.5:1
// against any colour), edged by a thin line in the other. The button's own
// drawing stays as it is.

class QAbstractButton;
class QColor;

void AddFocusRing(QAbstractButton *button);
// The ring's colour on a panel of that colour.
QColor FocusRingColor(const QColor &panel);
