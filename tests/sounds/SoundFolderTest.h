#pragma once
// The sound library's tests run against a real sounds folder and the real
// store, with the message boxes and the file dialog answered in advance:
// the fake prompts, a library on a list widget, and the folders of a test.

#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"
#include "sounds/SoundLibrary.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace tarvo::test {

class FakePrompts : public SoundPrompts
{
public:
    QStringList messages;
    QStringList questions;
    QList<bool> questionWarnings;
    bool answer = true;
    QString fileToOpen;
    int dialogs = 0;

    void information(QWidget *, const QString &text) override { messages.append(text); }
    void error(QWidget *, const QString &text) override { messages.append(text); }
    bool askYesNo(QWidget *, const QString &text, bool warning) override
    {
        questions.append(text);
        questionWarnings.append(warning);
        return answer;
    }
    QString openSoundFile(QWidget *) override
    {
        ++dialogs;
        return fileToOpen;
    }
};

struct SoundLibraryFixture
{
    SoundListWidget list;
    QStringList checked;
    FakePrompts prompts;
    int stops = 0;
    int pauses = 0;
    int resumes = 0;
    SoundLibrary lib;

    explicit SoundLibraryFixture(const QString &workingDirectory)
        : lib(&list, checked, workingDirectory,
              {[this] { ++stops; }, [this] { ++pauses; }, [this] { ++resumes; }})
    {
        lib.setPrompts(&prompts);
    }

    QStringList entries() const
    {
        QStringList names;
        for (int row = 0; row < list.count(); ++row)
            names.append(list.item(row)->text());
        return names;
    }
    QStringList checkedEntries() const
    {
        QStringList names;
        for (int row = 0; row < list.count(); ++row) {
            if (list.item(row)->checkState() == Qt::Checked)
                names.append(list.item(row)->text());
        }
        return names;
    }
    QListWidgetItem *entry(const QString &name) const
    {
        const auto found = list.findItems(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
        return found.value(0);
    }
};

// The base of a test class: a temporary root per test function with the
// working directory below it; the store starts empty.
class SoundFolderTest : public QObject
{
protected:
    using Fixture = SoundLibraryFixture;

    static void writeFile(const QString &path, const QByteArray &data = {})
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
        QCOMPARE(file.write(data), data.size());
    }

    static QByteArray readFile(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
    }

    static QStringList sortedCopy(QStringList names)
    {
        names.sort();
        return names;
    }

    // The store lists names in an order of its own.
    static QStringList storedChecks()
    {
        QStringList names;
        ReadRegValueNames(StoreKeys::CheckedSounds, names);
        return sortedCopy(names);
    }

    std::unique_ptr<QTemporaryDir> m_root;
    QString root() const { return m_root->path(); }
    QString work() const { return root() + QStringLiteral("/work/"); }
    QString sounds() const { return work() + QStringLiteral("Sounds/"); }
    QString outside(const QString &name) const
    {
        return root() + QStringLiteral("/outside/") + name;
    }

    // For init(): false when the root could not be made.
    bool startFolders()
    {
        m_root = std::make_unique<QTemporaryDir>();
        if (!m_root->isValid())
            return false;
        QDir().mkpath(work());
        QFile::remove(RegistryFilePath());
        return true;
    }
    void endFolders()
    {
        m_root.reset();
        QDir(RegistryFilePath()).removeRecursively();
        QFile::remove(RegistryFilePath());
    }
};

} // namespace tarvo::test
