#pragma once
// The about window: version, the maker's links and two memory figures.

#include <QDialog>
#include <QLocale>

class ClickLabel;
class QLabel;
class QPushButton;

struct MemoryStatus
{
    quint64 totalBytes = 0; // physical memory
    int loadPercent = 0;    // share of it in use, 0..100
    bool valid = false;     // false when the figures could not be read
};

// Memory figures from a meminfo file (MemTotal; MemAvailable, or without it
// MemFree + Buffers + Cached).
MemoryStatus ReadMemoryStatus(const QString &meminfoPath = QStringLiteral("/proc/meminfo"));

// bytes as whole kilobytes, grouped by thousands: "524,288 KB".
QString FormatMemoryKb(quint64 bytes, const QLocale &locale);

// "v" and the program's four-part version, or empty when none was built in.
QString GetAppVersion();

class TfrmAbout : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget *parent = nullptr);

    // Refills every label; runs at each activation of the window.
    void FormActivate();

    // Where the memory figures come from (tests point it at a fake file).
    void setMeminfoPath(const QString &path) { m_meminfoPath = path; }

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void imgVekorClick();
    void lblHomePageClick();
    void lblSupportMailClick();

    QString m_meminfoPath = QStringLiteral("/proc/meminfo");
    QLabel *m_lblVersion = nullptr;
    ClickLabel *m_lblHomePage = nullptr;
    ClickLabel *m_lblSupportMail = nullptr;
    QLabel *m_Label4 = nullptr;
    QLabel *m_Label5 = nullptr;
};

// Shows the about window modally; returns its result (QDialog::Rejected,
// as every way of closing it is "Cancel").
int ShowAboutWindow(QWidget *parent = nullptr);
