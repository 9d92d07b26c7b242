#pragma once
// The alarm sound library: the sounds folder shown in chklbSounds with check
// marks, the checked-sound list that the alarm draws its sounds from, import
// by dialog or drop, removal, the check commands, and the persisted check
// marks. The main window owns the list widget, the checked-sound list and
// this object, and refreshes its enabled states on listChanged().

#include "sounds/SoundListWidget.h"
#include "sounds/SoundPrompts.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>

inline constexpr int MaxSounds = 1000;

// File names of the sounds folder matching "*.wav", then those matching
// "*.mp3" (any letter case), files only, each group in the order the folder
// is read, at most maxCount. Empty when the folder does not exist.
QStringList ScanSoundsFolder(const QString &soundsFolder, int maxCount = MaxSounds);

// True when filePath lies in the working directory or below it; message then
// receives the text to tell the user.
bool IsInWorkingDirectory(const QString &workingDirectory, const QString &filePath,
                          QString *message);
QString WorkingDirectoryMessage(const QString &workingDirectory);

// A dropped file is imported only with the extension .wav or .mp3, any case.
bool IsAcceptedDropFile(const QString &path);

// Copies source over target through a temporary file beside target, so a
// failed copy leaves an existing target untouched; error tells why it failed.
bool CopyFileReplacing(const QString &source, const QString &target, QString *error = nullptr);

class SoundLibrary : public QObject
{
    Q_OBJECT
public:
    struct AudioControl
    {
        std::function<void()> stopSounds;   // StopSounds: every playback slot
        std::function<void()> pauseOutput;  // all output paused
        std::function<void()> resumeOutput; // and resumed
    };

    SoundLibrary(SoundListWidget *list, QStringList &checkedSounds, const QString &workingDirectory,
                 AudioControl audio, QObject *parent = nullptr);
    ~SoundLibrary() override;

    void setPrompts(SoundPrompts *prompts); // not owned; nullptr restores the message boxes

    QString workingDirectory() const { return m_workingDirectory; }
    QString soundsFolder() const; // working directory + "Sounds/"

    // Start-up: the checked-sound list from the stored check marks.
    void ReadCheckedSounds();

    void FillSounds(const QString &nameToSelect);
    void RecreateSoundList();
    void CheckingCheckList(int mode); // 0 check all, 1 uncheck all, 2 invert
    bool TestMaxSounds();
    void ActAddSoundExecute();
    void LoadSound(const QString &path);
    void DropFileTargetSoundsDrop(const QStringList &paths);
    void ActRemoveSoundExecute();

    QString selectedSoundName() const; // empty without a selection
    int count() const;
    bool hasSelection() const;

Q_SIGNALS:
    void listChanged(); // the window reapplies its enabling rules
    void addSoundRequested();
    void removeSoundRequested();

private:
    void chklbSoundsKeyPress();
    void chklbSoundsKeyUp(int key);
    void chklbSoundsMouseUp(const QPoint &pos);
    void onItemChanged(QListWidgetItem *item);
    QListWidgetItem *selectedItem() const;
    QWidget *dialogParent() const;

    QPointer<SoundListWidget> m_list;
    QStringList &m_checkedSounds;
    QString m_workingDirectory;
    AudioControl m_audio;
    std::unique_ptr<SoundPrompts> m_defaultPrompts;
    SoundPrompts *m_prompts;
    QString m_removedSound;  // its check mark goes with it
    bool m_updating = false; // check marks set by the program, not the user
};
