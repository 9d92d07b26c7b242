#pragma once
// A clearly visible keyboard focus on a round glyph button: a ring drawn
// over the button while it has the focus, light on a dark panel and dark on
// a light one. The button's own drawing stays as it is.

class QAbstractButton;

void AddFocusRing(QAbstractButton *button);
