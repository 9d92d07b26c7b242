#pragma once
// chklbSounds: the alarm sound list with check boxes. It keeps itself sorted
// by name without regard to case, takes files dropped from a file manager,
// and shows its own hint (the entry last clicked) over the whole list.

#include <QListWidget>
#include <QStringList>

class SoundListWidget : public QListWidget
{
    Q_OBJECT
public:
    explicit SoundListWidget(QWidget *parent = nullptr);

    // Adds one checkable entry; the list sorts it into place.
    QListWidgetItem *addSoundEntry(const QString &name, bool checked);

    // Local files of a drop, in drop order; other URLs are passed over.
    static QStringList localFilesOf(const QMimeData *mime);

    // The ordering of the list: without regard to case, then with case, so
    // that names differing only by case keep a fixed order.
    static bool lessByName(const QString &a, const QString &b);

Q_SIGNALS:
    void filesDropped(const QStringList &paths);
    void keyPressed(int key);
    void keyReleased(int key);
    void mouseReleased(const QPoint &pos);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool viewportEvent(QEvent *event) override;
};
