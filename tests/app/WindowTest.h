#pragma once
// The base of tests on the real main window: per test function a working
// directory of its own, an empty store and no autostart entry; the
// window's messages are collected instead of shown.

#include "alarm/Autostart.h"
#include "app/fmMain.h"
#include "settings/gRegistry.h"

#include <QFile>
#include <QTemporaryDir>
#include <memory>

namespace tarvo::test {

class WindowTest : public QObject
{
protected:
    std::unique_ptr<QTemporaryDir> m_dir;
    QStringList m_messages;
    QList<TfrmMain::MessageKind> m_kinds; // of each message, in order

    QString workingDirectory() const { return m_dir->path() + QLatin1Char('/'); }

    // For init().
    void startFresh()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_messages.clear();
        m_kinds.clear();
        QFile::remove(RegistryFilePath());
        RemoveAutostartEntry();
    }

    std::unique_ptr<TfrmMain> makeWindow()
    {
        auto window = std::make_unique<TfrmMain>(workingDirectory());
        window->setMessageSink([this](TfrmMain::MessageKind kind, const QString &text) {
            m_messages << text;
            m_kinds << kind;
        });
        if (!window->FormCreate())
            return nullptr;
        return window;
    }
};

} // namespace tarvo::test
