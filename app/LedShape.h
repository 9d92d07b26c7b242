#pragma once
// A small round status LED: idle in the bar colour, lit in pure red.

#include <QColor>
#include <QWidget>

class LedShape : public QWidget
{
    Q_OBJECT
public:
    static QColor idleColor() { return QColor(0, 95, 140); }
    static QColor litColor() { return QColor(255, 0, 0); }

    explicit LedShape(const QString &name, QWidget *parent = nullptr);

    void setLit(bool lit);
    bool isLit() const { return m_color == litColor(); }
    QColor color() const { return m_color; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_color = idleColor();
};
