#include "sounds/SoundLibrary.h"

#include "files/SafeFile.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSet>
#include <exception>

namespace {

const QString CheckedMark = QStringLiteral("T");

// A folder as the file system resolves it, with one trailing separator.
QString resolvedFolder(const QString &folder)
{
    const QFileInfo info(folder);
    QString path = info.canonicalFilePath();
    if (path.isEmpty())
        path = QDir::cleanPath(info.absoluteFilePath());
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

} // namespace

QStringList ScanSoundsFolder(const QString &soundsFolder, int maxCount)
{
    QStringList names;
    if (maxCount <= 0 || !QFileInfo(soundsFolder).isDir())
        return names;
    // Without QDir::CaseSensitive the patterns ignore case; QDir::Files
    // leaves out folders, broken links and special files.
    for (const QString &pattern : {QStringLiteral("*.wav"), QStringLiteral("*.mp3")}) {
        QDirIterator it(soundsFolder, {pattern}, QDir::Files | QDir::Hidden);
        while (it.hasNext()) {
            it.next();
            names.append(it.fileName());
            if (names.size() >= maxCount)
                return names;
        }
    }
    return names;
}

QString WorkingDirectoryMessage(const QString &workingDirectory)
{
    return QStringLiteral(
               "You cannot import already imported files.\n\nYou must browse outside the ") +
           workingDirectory + QStringLiteral(" working directory.") + QStringLiteral("\n") +
           QStringLiteral("The file you try to import reside in the working directory mentioned "
                          "above.");
}

bool IsInWorkingDirectory(const QString &workingDirectory, const QString &filePath,
                          QString *message)
{
    if (workingDirectory.isEmpty() || filePath.isEmpty())
        return false;
    // A folder prefix, not a text search: "/home/u/opt/t/" is not inside "/opt/t/".
    const QString workingFolder = resolvedFolder(workingDirectory);
    const QString fileFolder = resolvedFolder(QFileInfo(filePath).absolutePath());
    if (!fileFolder.startsWith(workingFolder))
        return false;
    if (message)
        *message = WorkingDirectoryMessage(workingDirectory);
    return true;
}

bool IsAcceptedDropFile(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix();
    return suffix.compare(QLatin1String("wav"), Qt::CaseInsensitive) == 0 ||
           suffix.compare(QLatin1String("mp3"), Qt::CaseInsensitive) == 0;
}

bool CopyFileReplacing(const QString &source, const QString &target, QString *error)
{
    // Only a regular file is read (a FIFO or a device would block), and the
    // copy replaces the target only once it is complete on the disk.
    return SafeFile::CopyReplacing(source, target, error);
}

SoundLibrary::SoundLibrary(SoundListWidget *list, QStringList &checkedSounds,
                           const QString &workingDirectory, AudioControl audio, QObject *parent)
    : QObject(parent), m_list(list), m_checkedSounds(checkedSounds),
      m_workingDirectory(workingDirectory), m_audio(std::move(audio)),
      m_defaultPrompts(std::make_unique<SoundPrompts>()), m_prompts(m_defaultPrompts.get())
{
    if (!m_workingDirectory.isEmpty() && !m_workingDirectory.endsWith(QLatin1Char('/')))
        m_workingDirectory += QLatin1Char('/');

    Q_ASSERT(m_list);
    connect(m_list, &QListWidget::itemClicked, this, [this] { RecreateSoundList(); });
    connect(m_list, &QListWidget::itemChanged, this, &SoundLibrary::onItemChanged);
    connect(m_list, &QListWidget::itemSelectionChanged, this, [this] {
        if (!m_updating)
            Q_EMIT listChanged();
    });
    connect(m_list, &SoundListWidget::keyPressed, this, &SoundLibrary::chklbSoundsKeyPress);
    connect(m_list, &SoundListWidget::keyReleased, this, &SoundLibrary::chklbSoundsKeyUp);
    connect(m_list, &SoundListWidget::mouseReleased, this, &SoundLibrary::chklbSoundsMouseUp);
    connect(m_list, &SoundListWidget::filesDropped, this, &SoundLibrary::DropFileTargetSoundsDrop);
}

SoundLibrary::~SoundLibrary() = default;

void SoundLibrary::setPrompts(SoundPrompts *prompts)
{
    m_prompts = prompts ? prompts : m_defaultPrompts.get();
}

QString SoundLibrary::soundsFolder() const
{
    return m_workingDirectory + QStringLiteral("Sounds/");
}

void SoundLibrary::ReadCheckedSounds()
{
    ReadRegValueNames(StoreKeys::CheckedSounds, m_checkedSounds);
}

void SoundLibrary::FillSounds(const QString &nameToSelect)
{
    if (!m_list)
        return;
    QStringList names = ScanSoundsFolder(soundsFolder(), MaxSounds);
    // Sorted beforehand, every entry goes in at the end of the sorted list.
    std::sort(names.begin(), names.end(), &SoundListWidget::lessByName);

    QSet<QString> checked;
    checked.reserve(m_checkedSounds.size());
    for (const QString &name : std::as_const(m_checkedSounds))
        checked.insert(name.toCaseFolded());

    m_updating = true;
    m_list->setUpdatesEnabled(false);
    m_list->clear();
    QListWidgetItem *selection = nullptr;
    for (const QString &name : std::as_const(names)) {
        QListWidgetItem *item = m_list->addSoundEntry(name, checked.contains(name.toCaseFolded()));
        if (!selection && !nameToSelect.isEmpty() && name == nameToSelect)
            selection = item;
    }
    if (!selection && m_list->count() > 0)
        selection = m_list->item(0);
    if (selection) {
        m_list->setCurrentItem(selection);
        m_list->scrollToItem(selection);
    }
    m_list->setUpdatesEnabled(true);
    m_updating = false;

    Q_EMIT listChanged();
    RecreateSoundList();
}

void SoundLibrary::RecreateSoundList()
{
    if (!m_list)
        return;
    m_checkedSounds.clear();
    QSet<QString> listed;
    for (int row = 0; row < m_list->count(); ++row) {
        const QListWidgetItem *item = m_list->item(row);
        listed.insert(item->text().toCaseFolded());
        if (item->checkState() == Qt::Checked)
            m_checkedSounds.append(item->text());
    }
    // A check mark whose sound is not in the folder now (a folder that moved,
    // a disk not mounted yet) is kept for when it is back; only a sound the
    // user removed loses it.
    QStringList stored;
    ReadRegValueNames(StoreKeys::CheckedSounds, stored);
    QStringList kept = m_checkedSounds;
    for (const QString &name : std::as_const(stored)) {
        const QString folded = name.toCaseFolded();
        if (!listed.contains(folded) && folded != m_removedSound.toCaseFolded())
            kept.append(name);
    }
    // One atomic replacement: a crash never leaves the check marks half written.
    try {
        ReplaceRegKeyValues(StoreKeys::CheckedSounds, kept, CheckedMark);
    } catch (const RegistryError &error) {
        m_prompts->error(dialogParent(), error.message());
    }
    Q_EMIT listChanged();
}

void SoundLibrary::CheckingCheckList(int mode)
{
    if (!m_list || mode < 0 || mode > 2)
        return;
    m_updating = true;
    for (int row = 0; row < m_list->count(); ++row) {
        QListWidgetItem *item = m_list->item(row);
        const bool wasChecked = item->checkState() == Qt::Checked;
        const bool check = mode == 0 ? true : mode == 1 ? false : !wasChecked;
        item->setCheckState(check ? Qt::Checked : Qt::Unchecked);
    }
    m_updating = false;
    RecreateSoundList();
}

bool SoundLibrary::TestMaxSounds()
{
    if (count() >= MaxSounds) {
        m_prompts->information(dialogParent(),
                               QStringLiteral("Maximum number of Sounds allowed is ") +
                                   QString::number(MaxSounds));
        return false;
    }
    return true;
}

void SoundLibrary::ActAddSoundExecute()
{
    if (!TestMaxSounds())
        return;
    QCoreApplication::processEvents();
    const QString path = m_prompts->openSoundFile(dialogParent());
    if (path.isEmpty())
        return;
    QCoreApplication::processEvents();
    LoadSound(path);
}

void SoundLibrary::LoadSound(const QString &path)
{
    QString message;
    if (IsInWorkingDirectory(m_workingDirectory, path, &message)) {
        m_prompts->information(dialogParent(), message);
        return;
    }
    const QString folder = soundsFolder();
    if (!SafeFile::MakePrivateFolder(folder))
        return;
    const QString name = QFileInfo(path).fileName();
    if (name.isEmpty())
        return;
    const QString target = folder + name;
    if (QFileInfo::exists(target) &&
        !m_prompts->askYesNo(dialogParent(),
                             QStringLiteral("The sound you try to import is already in the "
                                            "list!\nWould you like to overwrite it?"),
                             true))
        return;
    try {
        QString error;
        if (!CopyFileReplacing(path, target, &error)) {
            m_prompts->information(
                dialogParent(),
                QStringLiteral("Could not import the sound \"%1\" (%2).").arg(name, error));
            return;
        }
        m_checkedSounds.append(name);
        FillSounds(name);
    } catch (const std::exception &) {
        m_prompts->information(dialogParent(), QStringLiteral("Error Add Sound."));
    }
}

void SoundLibrary::DropFileTargetSoundsDrop(const QStringList &paths)
{
    for (const QString &path : paths) {
        if (!IsAcceptedDropFile(path))
            continue;
        if (!TestMaxSounds())
            return;
        LoadSound(path);
        QCoreApplication::processEvents();
    }
}

void SoundLibrary::ActRemoveSoundExecute()
{
    const QListWidgetItem *selected = selectedItem();
    if (!selected)
        return;
    if (m_audio.stopSounds)
        m_audio.stopSounds();
    if (m_audio.pauseOutput)
        m_audio.pauseOutput();
    // Output resumes whatever the answer, also after an error.
    const auto resume = qScopeGuard([this] {
        if (m_audio.resumeOutput)
            m_audio.resumeOutput();
    });

    const QString name = selected->text();
    const int row = m_list->row(selected);
    if (!m_prompts->askYesNo(dialogParent(),
                             QStringLiteral("Are you sure you want to remove the ") + name +
                                 QStringLiteral(" Sound?"),
                             false))
        return;
    try {
        if (!m_list)
            return;
        const QString next =
            row > 0 && row - 1 < m_list->count() ? m_list->item(row - 1)->text() : name;
        if (QFile::remove(soundsFolder() + name)) {
            m_removedSound = name;
            FillSounds(next);
            m_removedSound.clear();
        }
    } catch (const std::exception &) {
        m_prompts->information(dialogParent(), QStringLiteral("Error Remove Sound."));
    }
}

QString SoundLibrary::selectedSoundName() const
{
    const QListWidgetItem *item = selectedItem();
    return item ? item->text() : QString();
}

int SoundLibrary::count() const
{
    return m_list ? m_list->count() : 0;
}

bool SoundLibrary::hasSelection() const
{
    return selectedItem() != nullptr;
}

QListWidgetItem *SoundLibrary::selectedItem() const
{
    if (!m_list)
        return nullptr;
    const QList<QListWidgetItem *> items = m_list->selectedItems();
    return items.isEmpty() ? nullptr : items.constFirst();
}

QWidget *SoundLibrary::dialogParent() const
{
    return m_list ? m_list->window() : nullptr;
}

void SoundLibrary::chklbSoundsKeyPress()
{
    RecreateSoundList();
}

void SoundLibrary::chklbSoundsKeyUp(int key)
{
    if (key == Qt::Key_Delete)
        Q_EMIT removeSoundRequested();
    else if (key == Qt::Key_Insert)
        Q_EMIT addSoundRequested();
}

void SoundLibrary::chklbSoundsMouseUp(const QPoint &pos)
{
    if (!m_list)
        return;
    const QListWidgetItem *item = m_list->itemAt(pos);
    m_list->setToolTip(item ? item->text() : QString());
}

void SoundLibrary::onItemChanged(QListWidgetItem *)
{
    if (!m_updating)
        RecreateSoundList();
}
