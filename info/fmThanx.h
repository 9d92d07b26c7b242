#pragma once
// The welcome window: greets the user on the first run and remembers in the
// store that it has done so.

#include <QDialog>

class QLabel;
class QPushButton;

class TfrmThanx : public QDialog
{
    Q_OBJECT
public:
    // key and valueName: where "T" is written when the window closes.
    TfrmThanx(const QString &key, const QString &valueName, const QString &productName,
              QWidget *parent = nullptr);

    // Every way of closing ends here (OK, Escape, the close box).
    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void FormCreate(const QString &productName);
    void FormClose();

    QString m_key;
    QString m_valueName;
    bool m_closed = false;
    QLabel *m_lbl1 = nullptr;
    QPushButton *m_btnOK = nullptr;
};

// Whether the welcome window is due: valueName under key is missing or empty.
bool WelcomeWindowDue(const QString &key, const QString &valueName);
// Shows the welcome window when it is due.
// Returns the window's result (QDialog::Accepted for OK or Escape), or 0 when
// it was not due.
int ShowWelcomeWindow(const QString &key, const QString &valueName, const QString &productName,
                      QWidget *parent = nullptr);
