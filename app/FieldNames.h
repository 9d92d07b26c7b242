#pragma once
// Names for screen readers: every field is named after the label that leads
// to it (without its "&" and colon) where it has no name of its own yet.
// And a field's problem, told below it and to screen readers.

class QLabel;
class QString;
class QWidget;

void NameFieldsAfterLabels(QWidget *window);

// A label for a field's problem: red that reads on the window's background,
// light or dark; hidden until there is one.
QLabel *MakeProblemLabel(const QString &objectName);
// Shows problem (a sentence without its capital) in label, or hides it.
void ShowFieldProblem(QLabel *label, QWidget *field, const QString &problem);
