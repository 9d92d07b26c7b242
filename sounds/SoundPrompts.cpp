#include "sounds/SoundPrompts.h"

#include <QFileDialog>
#include <QMessageBox>

namespace {
const QString Caption = QStringLiteral("Tarvo2");
}

void SoundPrompts::information(QWidget *parent, const QString &text)
{
    QMessageBox(QMessageBox::NoIcon, Caption, text, QMessageBox::Ok, parent).exec();
}

void SoundPrompts::error(QWidget *parent, const QString &text)
{
    QMessageBox::critical(parent, QStringLiteral("Error"), text);
}

bool SoundPrompts::askYesNo(QWidget *parent, const QString &text, bool warning)
{
    const auto buttons = QMessageBox::Yes | QMessageBox::No;
    const auto answer = warning ? QMessageBox::warning(parent, Caption, text, buttons)
                                : QMessageBox::question(parent, Caption, text, buttons);
    return answer == QMessageBox::Yes;
}

QString SoundPrompts::openSoundFile(QWidget *parent)
{
    QFileDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("OpenDialog1"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters({QStringLiteral("All (*.wav *.mp3 *.au)"), QStringLiteral("Wave (*.wav)"),
                           QStringLiteral("Mpeg layer 3 (*.mp3)")});
    dialog.selectNameFilter(QStringLiteral("All (*.wav *.mp3 *.au)"));
    dialog.setDefaultSuffix(QStringLiteral("wav"));
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.constFirst();
}
