#include "settings/gRegistry.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSettings>
#include <QStringDecoder>
#include <optional>

namespace {

// QSettings keeps no empty groups, but a registry key exists from the moment
// it is opened. Every key therefore holds this marker value. The name cannot
// come out of EscapeName ('%' is always followed by two hex digits there).
const QString KeyMarker = QStringLiteral("%key");
const QString EmptyName = QStringLiteral("%");

// QSettings splits names at '/', so the store escapes it (and '%', to keep
// the escaping reversible); QSettings itself escapes everything else it
// cannot write to the file.
QString EscapeName(const QString &name)
{
    if (name.isEmpty())
        return EmptyName;
    QString escaped;
    escaped.reserve(name.size());
    for (const QChar ch : name) {
        if (ch == u'%')
            escaped += QStringLiteral("%25");
        else if (ch == u'/')
            escaped += QStringLiteral("%2F");
        else
            escaped += ch;
    }
    return escaped;
}

QString UnescapeName(const QString &stored)
{
    if (stored == EmptyName)
        return QString();
    QString name = stored;
    for (qsizetype i = name.indexOf(u'%'); i >= 0; i = name.indexOf(u'%', i + 1)) {
        const QStringView code = QStringView(name).mid(i + 1, 2);
        if (code.compare(u"25", Qt::CaseInsensitive) == 0)
            name.replace(i, 3, u'%');
        else if (code.compare(u"2F", Qt::CaseInsensitive) == 0)
            name.replace(i, 3, u'/');
    }
    return name;
}

QString JoinKey(const QString &group, const QString &name)
{
    return group.isEmpty() ? name : group + u'/' + name;
}

// A file QSettings parses without complaint may still be junk: it would
// silently turn it into a handful of garbage keys and write those back.
bool LooksLikeJunk(const QByteArray &bytes)
{
    if (bytes.contains('\0'))
        return true;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes);
    Q_UNUSED(text)
    return decoder.hasError();
}

// Moves an unreadable store file aside so that nothing the user had is
// overwritten; returns the new name, or an empty string when it failed.
QString KeepBrokenFile(const QString &path)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = path + QStringLiteral(".broken-") + stamp;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = path + QStringLiteral(".broken-") + stamp + u'-' + QString::number(n);
    return QFile::rename(path, target) ? target : QString();
}

struct FileSnapshot
{
    bool readable = false;
    QByteArray bytes;
};

FileSnapshot ReadSnapshot(const QString &path)
{
    FileSnapshot snapshot;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        snapshot.bytes = file.readAll();
        snapshot.readable = file.error() == QFileDevice::NoError;
    }
    return snapshot;
}

// One opened store: every operation makes one, acts and lets it go.
class Store
{
public:
    explicit Store(bool machineHive)
        : m_scope(machineHive ? QSettings::SystemScope : QSettings::UserScope)
    {
        open();
        if (m_usable && m_broken)
            setBrokenFileAside();
    }

    bool usable() const { return m_usable; }
    QString problem() const { return m_problem; }
    QSettings &settings() { return *m_settings; }

    // The group of keyPath, matching each component without regard to case.
    // With create, missing keys on the path are made (as markers, written at
    // the next commit); without, a missing key gives nullopt.
    std::optional<QString> openKey(const QString &keyPath, bool create)
    {
        QString group;
        const QStringList parts = keyPath.split(u'\\', Qt::SkipEmptyParts);
        for (const QString &part : parts) {
            QString stored = findChild(group, part, /*groups=*/true);
            if (stored.isEmpty()) {
                if (!create)
                    return std::nullopt;
                stored = EscapeName(part);
            }
            group = JoinKey(group, stored);
            if (create && !m_settings->contains(JoinKey(group, KeyMarker))) {
                m_settings->setValue(JoinKey(group, KeyMarker), QString());
                m_dirty = true;
            }
        }
        return group;
    }

    // The stored spelling of a value (or, with groups, of a sub-key) whose
    // name equals name without regard to case; empty when there is none.
    QString findChild(const QString &group, const QString &name, bool groups = false)
    {
        const QStringList children = childrenOf(group, groups);
        for (const QString &stored : children) {
            if (stored != KeyMarker && UnescapeName(stored).compare(name, Qt::CaseInsensitive) == 0)
                return stored;
        }
        return QString();
    }

    QStringList childrenOf(const QString &group, bool groups)
    {
        if (!group.isEmpty())
            m_settings->beginGroup(group);
        QStringList children = groups ? m_settings->childGroups() : m_settings->childKeys();
        if (!group.isEmpty())
            m_settings->endGroup();
        children.removeAll(KeyMarker);
        return children;
    }

    // QSettings::remove() takes a value together with a group of the same
    // name; a registry value and a sub-key are separate things, so whichever
    // of the two is not meant survives.
    void removeValue(const QString &fullKey)
    {
        QList<std::pair<QString, QVariant>> keep;
        m_settings->beginGroup(fullKey);
        const QStringList below = m_settings->allKeys();
        for (const QString &key : below)
            keep.append({key, m_settings->value(key)});
        m_settings->endGroup();
        m_settings->remove(fullKey);
        for (const auto &[key, value] : keep)
            m_settings->setValue(JoinKey(fullKey, key), value);
        m_dirty = true;
    }

    void removeGroup(const QString &group)
    {
        const bool hasValue = m_settings->contains(group);
        const QVariant value = m_settings->value(group);
        m_settings->remove(group);
        if (hasValue)
            m_settings->setValue(group, value);
        m_dirty = true;
    }

    void markDirty() { m_dirty = true; }

    // Writes pending changes (locked, atomic rename); false when that failed.
    bool commit()
    {
        if (!m_dirty)
            return true;
        m_settings->sync();
        m_dirty = false;
        if (m_settings->status() != QSettings::NoError) {
            m_problem = QStringLiteral("the file %1 could not be written").arg(m_path);
            return false;
        }
        return true;
    }

private:
    void open()
    {
        m_settings.reset();
        m_settings.emplace(QSettings::NativeFormat, m_scope, QStringLiteral("VEKOR"),
                           QStringLiteral("Tarvo2"));
        m_path = m_settings->fileName();
        const QFileInfo info(m_path);
        if (info.exists() && !info.isFile()) {
            m_usable = false;
            m_problem = QStringLiteral("%1 is not a file").arg(m_path);
            return;
        }
        m_seen = info.exists() ? ReadSnapshot(m_path) : FileSnapshot{true, {}};
        m_broken = m_settings->status() != QSettings::NoError || !m_seen.readable ||
                   LooksLikeJunk(m_seen.bytes);
    }

    // Under the same lock QSettings writes with, so that no other copy of
    // the program is half-way through replacing the file.
    void setBrokenFileAside()
    {
        QLockFile lock(m_path + QStringLiteral(".lock"));
        if (!lock.tryLock(10000)) {
            refuse(QStringLiteral("the file %1 is locked").arg(m_path));
            return;
        }
        const FileSnapshot now = ReadSnapshot(m_path);
        const bool unchanged = !now.readable ? !m_seen.readable : now.bytes == m_seen.bytes;
        if (QFileInfo::exists(m_path) && unchanged && KeepBrokenFile(m_path).isEmpty()) {
            refuse(QStringLiteral("the file %1 is unreadable and could not be kept aside")
                       .arg(m_path));
            return;
        }
        lock.unlock();
        open();
        if (m_usable && m_broken)
            refuse(QStringLiteral("the file %1 is unreadable").arg(m_path));
    }

    void refuse(const QString &problem)
    {
        m_usable = false;
        m_problem = problem;
    }

    QSettings::Scope m_scope;
    std::optional<QSettings> m_settings;
    QString m_path;
    FileSnapshot m_seen;
    bool m_broken = false;
    bool m_usable = true;
    bool m_dirty = false;
    QString m_problem;
};

QString ReadAsString(const QVariant &value)
{
    if (value.metaType().id() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.canConvert<QString>() ? value.toString() : QString();
}

} // namespace

RegistryError::RegistryError(const QString &valueName, const QString &reason)
    : std::runtime_error(QStringLiteral("Could not save the setting \"%1\" (%2).")
                             .arg(valueName, reason)
                             .toStdString()),
      m_valueName(valueName)
{
}

RegistryError::RegistryError(const QString &valueName, const std::string &text)
    : std::runtime_error(text), m_valueName(valueName)
{
}

RegistryError RegistryError::withText(const QString &valueName, const QString &text)
{
    return RegistryError(valueName, text.toStdString());
}

QString RegistryError::message() const
{
    return QString::fromStdString(what());
}

void WriteRegString(const QString &keyPath, const QString &valueName, const QString &data,
                    bool machineHive)
{
    Store store(machineHive);
    if (!store.usable())
        throw RegistryError(valueName, store.problem());
    const QString group = *store.openKey(keyPath, true);
    QString stored = store.findChild(group, valueName);
    if (stored.isEmpty())
        stored = EscapeName(valueName);
    store.settings().setValue(JoinKey(group, stored), data);
    store.markDirty();
    if (!store.commit())
        throw RegistryError(valueName, store.problem());
}

QString ReadRegString(const QString &keyPath, const QString &valueName, bool machineHive)
{
    Store store(machineHive);
    if (!store.usable())
        return QString();
    const QString group = *store.openKey(keyPath, true);
    store.commit(); // creating the key is a courtesy; the read does not depend on it
    const QString stored = store.findChild(group, valueName);
    return stored.isEmpty() ? QString()
                            : ReadAsString(store.settings().value(JoinKey(group, stored)));
}

bool DeleteRegValue(const QString &keyPath, const QString &valueName, bool machineHive)
{
    Store store(machineHive);
    if (!store.usable())
        return false;
    const QString group = *store.openKey(keyPath, true);
    bool found = false;
    // A hand-edited file may hold several spellings of one name: all go.
    for (QString stored; !(stored = store.findChild(group, valueName)).isEmpty();) {
        store.removeValue(JoinKey(group, stored));
        found = true;
    }
    return store.commit() && found;
}

bool DeleteRegKey(const QString &keyPath, bool machineHive)
{
    Store store(machineHive);
    if (!store.usable())
        return false;
    const std::optional<QString> group = store.openKey(keyPath, false);
    if (!group || group->isEmpty())
        return false; // missing, or the root, which cannot be deleted
    store.removeGroup(*group);
    return store.commit();
}

bool ReadRegValueNames(const QString &keyPath, QStringList &names, bool machineHive)
{
    names.clear();
    Store store(machineHive);
    if (!store.usable())
        return true;
    const QString group = *store.openKey(keyPath, true);
    store.commit();
    const QStringList stored = store.childrenOf(group, false);
    for (const QString &name : stored)
        names.append(UnescapeName(name));
    return true;
}

void ReplaceRegKeyValues(const QString &keyPath, const QStringList &valueNames, const QString &data,
                         bool machineHive)
{
    Store store(machineHive);
    if (!store.usable())
        throw RegistryError(keyPath, store.problem());
    const QString group = *store.openKey(keyPath, true);
    if (group.isEmpty())
        throw RegistryError(keyPath, QStringLiteral("the root cannot be replaced"));
    store.removeGroup(group);
    if (!valueNames.isEmpty()) {
        store.settings().setValue(JoinKey(group, KeyMarker), QString());
        QStringList written;
        for (const QString &name : valueNames) {
            if (written.contains(name, Qt::CaseInsensitive))
                continue; // one value per name, the first spelling wins
            written.append(name);
            store.settings().setValue(JoinKey(group, EscapeName(name)), data);
        }
    }
    if (!store.commit())
        throw RegistryError(keyPath, store.problem());
}

QString RegistryFilePath()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("VEKOR"),
                     QStringLiteral("Tarvo2"))
        .fileName();
}
