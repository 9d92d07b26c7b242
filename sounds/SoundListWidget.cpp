#include "sounds/SoundListWidget.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QToolTip>
#include <QUrl>

namespace {

class SoundItem : public QListWidgetItem
{
public:
    using QListWidgetItem::QListWidgetItem;
    bool operator<(const QListWidgetItem &other) const override
    {
        return SoundListWidget::lessByName(text(), other.text());
    }
};

} // namespace

SoundListWidget::SoundListWidget(QWidget *parent) : QListWidget(parent)
{
    setObjectName(QStringLiteral("chklbSounds"));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSortingEnabled(true);
    // Only files from outside come in; the entries themselves are not dragged.
    setDragEnabled(false);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
}

QListWidgetItem *SoundListWidget::addSoundEntry(const QString &name, bool checked)
{
    auto *item = new SoundItem(name);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    addItem(item);
    return item;
}

bool SoundListWidget::lessByName(const QString &a, const QString &b)
{
    const int folded = QString::compare(a, b, Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : QString::compare(a, b, Qt::CaseSensitive) < 0;
}

QStringList SoundListWidget::localFilesOf(const QMimeData *mime)
{
    QStringList paths;
    if (!mime || !mime->hasUrls())
        return paths;
    const QList<QUrl> urls = mime->urls();
    for (const QUrl &url : urls) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    return paths;
}

void SoundListWidget::dragEnterEvent(QDragEnterEvent *event)
{
    if (!localFilesOf(event->mimeData()).isEmpty() && (event->possibleActions() & Qt::CopyAction)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void SoundListWidget::dragMoveEvent(QDragMoveEvent *event)
{
    if (!localFilesOf(event->mimeData()).isEmpty() && (event->possibleActions() & Qt::CopyAction)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void SoundListWidget::dropEvent(QDropEvent *event)
{
    const QStringList paths = localFilesOf(event->mimeData());
    if (paths.isEmpty() || !(event->possibleActions() & Qt::CopyAction)) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    // The import asks questions in modal boxes; the file manager must not be
    // kept waiting for the end of its drag meanwhile.
    QMetaObject::invokeMethod(
        this, [this, paths] { Q_EMIT filesDropped(paths); }, Qt::QueuedConnection);
}

void SoundListWidget::keyPressEvent(QKeyEvent *event)
{
    QListWidget::keyPressEvent(event);
    Q_EMIT keyPressed(event->key());
}

void SoundListWidget::keyReleaseEvent(QKeyEvent *event)
{
    QListWidget::keyReleaseEvent(event);
    if (!event->isAutoRepeat())
        Q_EMIT keyReleased(event->key());
}

void SoundListWidget::mouseReleaseEvent(QMouseEvent *event)
{
    QListWidget::mouseReleaseEvent(event);
    Q_EMIT mouseReleased(event->position().toPoint());
}

bool SoundListWidget::viewportEvent(QEvent *event)
{
    // Item views show only per-item tool tips over the viewport; the list's
    // hint is one text for the whole list.
    if (event->type() == QEvent::ToolTip) {
        const auto *help = static_cast<QHelpEvent *>(event);
        if (toolTip().isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), toolTip(), viewport());
        return true;
    }
    return QListWidget::viewportEvent(event);
}
