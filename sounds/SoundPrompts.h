#pragma once
// Message boxes and the file dialog of the sound library, behind one seam so
// that tests can answer them without a person.

#include <QString>

class QWidget;

class SoundPrompts
{
public:
    virtual ~SoundPrompts() = default;

    // Plain message box: caption "Tarvo2", no icon, one OK button.
    virtual void information(QWidget *parent, const QString &text);
    // Error box: caption "Error", the error icon, one OK button.
    virtual void error(QWidget *parent, const QString &text);
    // Yes/No question; warning selects the warning icon, else a question.
    virtual bool askYesNo(QWidget *parent, const QString &text, bool warning);
    // OpenDialog1: one existing file; empty when cancelled.
    virtual QString openSoundFile(QWidget *parent);
};
