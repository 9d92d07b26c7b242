#pragma once
// The program's settings store: a per-user, hierarchical store of named
// string values, kept in one file ($XDG_CONFIG_HOME/VEKOR/Tarvo2.conf).
//
// Key paths are written Windows-registry style with backslashes
// ("\SoftWare\VEKOR\Tarvo2\S"); value names are any text and compare without regard to
// case (the first spelling written is kept).
//
// The process keeps one parsed copy of the file and reads it again only when
// the file changed on disk (another copy of the program may write it). Every
// change is written under the file's lock file to a new file that replaces
// the old one only once it is complete and on the disk: a full disk, an I/O
// error or a crash leaves the old or the new file, never an empty or torn
// one. A failed write changes nothing that later operations see, and the
// next write is tried afresh. A file that is unreadable because of its
// content or absurdly large is kept aside (renamed) and the store starts
// empty, which TakeRegistryNotices() tells once; one that cannot be read for any other
// reason (permissions, I/O) is left alone.

#include <QString>
#include <QStringList>
#include <stdexcept>

// Raised when a value could not be written although its key could be opened.
class RegistryError : public std::runtime_error
{
public:
    RegistryError(const QString &valueName, const QString &reason);
    // A failure to keep something that is not a store value, told in full by
    // text (an autostart entry that cannot be written or removed).
    static RegistryError withText(const QString &valueName, const QString &text);
    QString valueName() const { return m_valueName; }
    QString message() const; // text to show the user, names the value

private:
    RegistryError(const QString &valueName, const std::string &text);
    QString m_valueName;
};

// machineHive selects a machine-wide store; the program always passes false.
void WriteRegString(const QString &keyPath, const QString &valueName, const QString &data,
                    bool machineHive = false);
QString ReadRegString(const QString &keyPath, const QString &valueName, bool machineHive = false);
bool DeleteRegValue(const QString &keyPath, const QString &valueName, bool machineHive = false);
// Removes a value (every spelling of its name); a value that is not there is
// no error. Throws RegistryError when the store cannot be written.
void RemoveRegValue(const QString &keyPath, const QString &valueName, bool machineHive = false);
bool DeleteRegKey(const QString &keyPath, bool machineHive = false);
bool ReadRegValueNames(const QString &keyPath, QStringList &names, bool machineHive = false);

// Replaces every value of a key (and drops its sub-keys) by the given names,
// each holding data, in one locked, atomic change of the store: no reader
// and no crash ever sees the key half rewritten. An empty list leaves the
// key absent. Throws RegistryError when the store cannot be written.
void ReplaceRegKeyValues(const QString &keyPath, const QStringList &valueNames, const QString &data,
                         bool machineHive = false);

// What the user is to be told about the store, each text once per process:
// a file set aside for its content or its size. Emptied by the call.
QStringList TakeRegistryNotices();

// Full path of the store file (for tests and messages).
QString RegistryFilePath();
