#pragma once
// The built program (TARVO2_TEST_BINARY, set by CTest) copied into a folder
// of the test's own, as it is installed by hand: its Sounds and Reports land
// beside it, and the real user's never are touched.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

namespace tarvo::test {

class ProgramCopy
{
public:
    // Empty when it could not be copied; why() says what is missing.
    QString make(const QString &folder)
    {
        const QString built = qEnvironmentVariable("TARVO2_TEST_BINARY");
        if (built.isEmpty() || !QFileInfo::exists(built)) {
            m_why = QStringLiteral("TARVO2_TEST_BINARY does not name the built program");
            return {};
        }
        m_folder = folder + QLatin1Char('/');
        const QString binary = m_folder + QStringLiteral("tarvo2");
        if (!QFile::copy(built, binary) ||
            !QFile::setPermissions(binary, QFile::ReadOwner | QFile::ExeOwner) ||
            !QDir().mkpath(m_folder + QStringLiteral("Sounds"))) {
            m_why = QStringLiteral("cannot copy the program to %1").arg(folder);
            return {};
        }
        return binary;
    }
    QString why() const { return m_why; }

    QString report() const
    {
        QFile file(m_folder + QStringLiteral("Reports/Report.txt"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private:
    QString m_folder;
    QString m_why;
};

} // namespace tarvo::test
