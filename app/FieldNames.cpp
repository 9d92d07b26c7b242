#include "app/FieldNames.h"

#include <QApplication>
#include <QLabel>
#include <QRegularExpression>

void NameFieldsAfterLabels(QWidget *window)
{
    for (QLabel *label : window->findChildren<QLabel *>()) {
        QWidget *field = label->buddy();
        if (!field || !field->accessibleName().isEmpty())
            continue;
        QString name = label->text();
        name.remove(QRegularExpression(QStringLiteral("&(?!&)")));
        while (name.endsWith(QLatin1Char(':')))
            name.chop(1);
        field->setAccessibleName(name.simplified());
    }
}

QLabel *MakeProblemLabel(const QString &objectName)
{
    auto *label = new QLabel;
    label->setObjectName(objectName);
    label->setWordWrap(true);
    const bool dark = QApplication::palette().color(QPalette::Window).lightness() < 128;
    QPalette red = label->palette();
    red.setColor(QPalette::WindowText, dark ? QColor(0xff, 0x8a, 0x80) : QColor(0xb0, 0x00, 0x20));
    label->setPalette(red);
    label->hide();
    return label;
}

void ShowFieldProblem(QLabel *label, QWidget *field, const QString &problem)
{
    QString shown = problem;
    if (!shown.isEmpty())
        shown[0] = shown.at(0).toUpper();
    label->setText(shown);
    label->setVisible(!problem.isEmpty());
    field->setAccessibleDescription(shown);
}
