#include "settings/gRegistry.h"

#include "files/SafeFile.h"
#include "settings/IniFile.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QLibraryInfo>
#include <QLockFile>
#include <QMutex>
#include <QSet>
#include <QStandardPaths>
#include <QStringDecoder>
#include <memory>
#include <utility>

namespace {

// A registry key exists from the moment it is opened, but a file keeps no
// empty groups: every key therefore holds this marker value. The name
// cannot come out of EscapeName ('%' is always followed by two hex digits
// there).
const QString KeyMarker = QStringLiteral("%key");
const QString EmptyName = QStringLiteral("%");
constexpr int LockTimeoutMs = 10000;
// A writer holds the lock for milliseconds; one killed before it wrote its
// process id into the lock file leaves a lock nothing can prove stale but
// its age.
constexpr int StaleLockMs = 4000;
// A thousand checked sounds with long names and every setting take a few
// hundred kilobytes; a file far larger is not the program's and would cost
// seconds and hundreds of megabytes at every start and change.
constexpr qint64 MaxStoreBytes = 4 * 1024 * 1024;

// What the user is to be told once about the store (a file set aside).
QMutex noticesMutex;
QStringList pendingNotices;
QSet<QString> toldNotices;

void AddNotice(const QString &text)
{
    QMutexLocker locker(&noticesMutex);
    if (toldNotices.contains(text))
        return;
    toldNotices.insert(text);
    pendingNotices.append(text);
}

// Names may hold '/', which the file format reads as a key separator, so the
// store escapes it (and '%', to keep the escaping reversible).
QString EscapeName(const QString &name)
{
    if (name.isEmpty())
        return EmptyName;
    if (!name.contains(u'%') && !name.contains(u'/'))
        return name;
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

bool SameName(const QString &stored, const QString &name)
{
    if (stored == KeyMarker)
        return false;
    if (!stored.contains(u'%'))
        return stored.compare(name, Qt::CaseInsensitive) == 0;
    return UnescapeName(stored).compare(name, Qt::CaseInsensitive) == 0;
}

template <typename Map> QString FindName(const Map &map, const QString &name)
{
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        if (SameName(it.key(), name))
            return it.key();
    }
    return QString();
}

// Two keys that hold the same values and no sub-keys, whether or not the
// file spelt them with their marker (a hand-written file does not).
bool SameValues(const Ini::Node &stored, const Ini::Node &wanted)
{
    if (!stored.children.isEmpty() || !wanted.children.isEmpty())
        return false;
    auto withoutMarker = [](QMap<QString, QByteArray> values) {
        values.remove(KeyMarker);
        return values;
    };
    return withoutMarker(stored.values) == withoutMarker(wanted.values);
}

QStringList KeyParts(const QString &keyPath)
{
    return keyPath.split(u'\\', Qt::SkipEmptyParts);
}

// A file that parses may still be junk: it would silently turn into a
// handful of garbage keys and be written back.
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
// overwritten; returns where it went, empty when that failed.
QString KeepBrokenFile(const QString &path)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = path + QStringLiteral(".broken-") + stamp;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = path + QStringLiteral(".broken-") + stamp + u'-' + QString::number(n);
    return QFile::rename(path, target) ? target : QString();
}

// The key at parts, made (with its markers) where missing; created tells
// whether anything was added.
Ini::Node &OpenKey(Ini::Node &root, const QStringList &parts, bool *created)
{
    Ini::Node *node = &root;
    for (const QString &part : parts) {
        QString stored = FindName(node->children, part);
        if (stored.isEmpty())
            stored = EscapeName(part);
        Ini::Node &child = node->children[stored];
        if (!child.values.contains(KeyMarker)) {
            child.values.insert(KeyMarker, QByteArray());
            *created = true;
        }
        node = &child;
    }
    return *node;
}

const Ini::Node *FindKey(const Ini::Node &root, const QStringList &parts)
{
    const Ini::Node *node = &root;
    for (const QString &part : parts) {
        const QString stored = FindName(node->children, part);
        if (stored.isEmpty())
            return nullptr;
        node = &node->children.find(stored).value();
    }
    return node;
}

// The one parsed copy of a store file in this process. It is read again only
// when the file changed on disk; a change is written under the lock file
// every copy of the program (and QSettings) uses, and becomes the copy only
// once the file holds it.
class StoreFile
{
public:
    explicit StoreFile(const QString &path) : m_path(path) {}

    QMutex mutex;

    // Brings the copy up to date; false with problem() when the file cannot
    // be read for a reason other than its content.
    bool refresh(bool locked = false)
    {
        SafeFile::FileId now;
        QString error;
        if (!SafeFile::Examine(m_path, &now, &error))
            return fail(error);
        if (m_loaded && now == m_seen)
            return true;
        if (now.size > MaxStoreBytes) {
            const QString why = QStringLiteral("is %1 MB, far more than any settings need")
                                    .arg(double(now.size) / (1024 * 1024), 0, 'f', 1);
            return setFileAside(
                why,
                [&] {
                    SafeFile::FileId again;
                    return SafeFile::Examine(m_path, &again) && again == now;
                },
                locked);
        }
        QByteArray bytes;
        SafeFile::FileId read;
        switch (SafeFile::ReadAll(m_path, &bytes, &error, &read)) {
        case SafeFile::ReadResult::Missing:
            return adopt(Ini::Node{}, SafeFile::FileId{});
        case SafeFile::ReadResult::Failed:
            return fail(error); // never set aside: the content may be fine
        case SafeFile::ReadResult::Ok:
            break;
        }
        Ini::Node parsed;
        if (Ini::Parse(bytes, &parsed) && !LooksLikeJunk(bytes))
            return adopt(std::move(parsed), read);
        return setFileAside(
            QStringLiteral("holds no settings Tarvo2 can read"),
            [&] {
                QByteArray again;
                return SafeFile::ReadAll(m_path, &again) == SafeFile::ReadResult::Ok &&
                       again == bytes;
            },
            locked);
    }

    const Ini::Node &root() const { return m_root; }
    QString problem() const { return m_problem; }

    // Applies change to a copy and writes it; the copy is kept only when
    // the file holds it. change returns false when it changed nothing.
    template <typename Change> bool modify(Change change)
    {
        // A change that changes nothing needs neither the lock nor the disk
        // (a full disk cannot fail it).
        Ini::Node probe;
        bool probed = false;
        SafeFile::FileId probedAt;
        if (refresh()) {
            probe = m_root;
            if (!change(probe))
                return true;
            probed = true;
            probedAt = m_seen;
        }
        if (!SafeFile::MakePrivateFolder(QFileInfo(m_path).absolutePath()))
            return fail(QStringLiteral("the folder %1 could not be created")
                            .arg(QFileInfo(m_path).absolutePath()));
        QLockFile lock(m_path + QStringLiteral(".lock"));
        lock.setStaleLockTime(StaleLockMs);
        if (!lock.tryLock(LockTimeoutMs))
            return fail(lockProblem(lock));
        if (!refresh(true))
            return false;
        removeLeftovers();
        Ini::Node next;
        if (probed && probedAt == m_seen) {
            next = std::move(probe); // nobody wrote in between: no need to redo it
        } else {
            next = m_root;
            if (!change(next))
                return true;
        }
        QString error;
        if (!SafeFile::Replace(m_path, Ini::Serialize(next), &error, nullptr, 0600))
            return fail(error);
        SafeFile::FileId written;
        SafeFile::Examine(m_path, &written); // still under the lock: ours
        return adopt(std::move(next), written);
    }

    // Creating a key a read asked for is a courtesy; on a store that cannot
    // be written it is tried again only once the file changed.
    void createCourtesy(const QStringList &parts)
    {
        if (m_courtesyFailed && m_courtesyFailedAt == m_seen)
            return;
        const bool ok = modify([&](Ini::Node &next) {
            bool created = false;
            OpenKey(next, parts, &created);
            return created;
        });
        m_courtesyFailed = !ok;
        m_courtesyFailedAt = m_seen;
    }

private:
    // Temporary files of writers killed half-way; under the lock no writer
    // is at work, so every one found is a leftover. Once per process.
    void removeLeftovers()
    {
        if (m_leftoversRemoved)
            return;
        m_leftoversRemoved = true;
        const QFileInfo info(m_path);
        QDir folder(info.absolutePath());
        const QStringList names = folder.entryList({info.fileName() + QStringLiteral(".tmp-*")},
                                                   QDir::Files | QDir::Hidden);
        for (const QString &name : names)
            folder.remove(name);
    }

    bool fail(const QString &problem)
    {
        m_problem = problem;
        return false;
    }

    bool adopt(Ini::Node root, const SafeFile::FileId &seen)
    {
        m_root = std::move(root);
        m_seen = seen;
        m_loaded = true;
        m_problem.clear();
        return true;
    }

    QString lockProblem(const QLockFile &lock) const
    {
        switch (lock.error()) {
        case QLockFile::LockFailedError:
            return QStringLiteral("the file %1 is locked by another program").arg(m_path);
        case QLockFile::PermissionError:
            return QStringLiteral("the folder %1 is not writable")
                .arg(QFileInfo(m_path).absolutePath());
        default:
            return QStringLiteral("the lock file %1.lock could not be made (is the disk full?)")
                .arg(m_path);
        }
    }

    // Under the lock, so that no other copy of the program is half-way
    // through replacing the file; unchanged tells whether it is still the
    // file that was judged. The user is told once either way.
    template <typename Unchanged>
    bool setFileAside(const QString &why, Unchanged unchanged, bool locked)
    {
        QLockFile lock(m_path + QStringLiteral(".lock"));
        lock.setStaleLockTime(StaleLockMs);
        const QString unused =
            QStringLiteral("The settings file %1 %2; Tarvo2 runs on its default settings and "
                           "cannot keep changes (%3).");
        if (!locked && !lock.tryLock(LockTimeoutMs)) {
            AddNotice(unused.arg(m_path, why, lockProblem(lock)));
            return fail(
                QStringLiteral("the file %1 %2 and %3").arg(m_path, why, lockProblem(lock)));
        }
        if (unchanged()) {
            const QString keptAs = KeepBrokenFile(m_path);
            if (keptAs.isEmpty()) {
                AddNotice(unused.arg(m_path, why, QStringLiteral("it could not be kept aside")));
                return fail(
                    QStringLiteral("the file %1 %2 and could not be kept aside").arg(m_path, why));
            }
            AddNotice(QStringLiteral("The settings file %1 %2. It was kept aside as %3, and "
                                     "Tarvo2 starts on its default settings.")
                          .arg(m_path, why, keptAs));
        }
        if (!locked)
            lock.unlock();
        m_loaded = false;
        return refresh(locked);
    }

    QString m_path;
    Ini::Node m_root;
    SafeFile::FileId m_seen;
    bool m_loaded = false;
    bool m_courtesyFailed = false;
    bool m_leftoversRemoved = false;
    SafeFile::FileId m_courtesyFailedAt;
    QString m_problem;
};

QString StorePath(bool machineHive)
{
    const QString folder =
        machineHive ? QLibraryInfo::path(QLibraryInfo::SettingsPath)
                    : QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return folder + QStringLiteral("/VEKOR/Tarvo2.conf");
}

StoreFile &Store(bool machineHive)
{
    static QMutex registryMutex;
    static QHash<QString, std::shared_ptr<StoreFile>> stores;
    const QString path = StorePath(machineHive);
    QMutexLocker locker(&registryMutex);
    std::shared_ptr<StoreFile> &store = stores[path];
    if (!store)
        store = std::make_shared<StoreFile>(path);
    return *store;
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
    StoreFile &store = Store(machineHive);
    QMutexLocker locker(&store.mutex);
    const QStringList parts = KeyParts(keyPath);
    const QByteArray raw = Ini::EncodeString(data);
    const bool ok = store.modify([&](Ini::Node &next) {
        // A value already stored, however it is spelt in the file, needs no
        // write (and so no disk) at all.
        if (const Ini::Node *found = FindKey(next, parts)) {
            const QString stored = FindName(found->values, valueName);
            if (!stored.isEmpty() && Ini::DecodeString(found->values.value(stored)) == data)
                return false;
        }
        bool changed = false;
        Ini::Node &key = OpenKey(next, parts, &changed);
        const QString stored = FindName(key.values, valueName);
        if (!stored.isEmpty() && key.values.value(stored) == raw)
            return changed; // nothing to write: a full disk cannot fail it
        key.values.insert(stored.isEmpty() ? EscapeName(valueName) : stored, raw);
        return true;
    });
    if (!ok)
        throw RegistryError(valueName, store.problem());
}

QString ReadRegString(const QString &keyPath, const QString &valueName, bool machineHive)
{
    StoreFile &store = Store(machineHive);
    QMutexLocker locker(&store.mutex);
    if (!store.refresh())
        return QString();
    const QStringList parts = KeyParts(keyPath);
    const Ini::Node *key = FindKey(store.root(), parts);
    if (!key) {
        store.createCourtesy(parts);
        return QString();
    }
    const QString stored = FindName(key->values, valueName);
    return stored.isEmpty() ? QString() : Ini::DecodeString(key->values.value(stored));
}

bool DeleteRegValue(const QString &keyPath, const QString &valueName, bool machineHive)
{
    StoreFile &store = Store(machineHive);
    QMutexLocker locker(&store.mutex);
    const QStringList parts = KeyParts(keyPath);
    bool found = false;
    const bool ok = store.modify([&](Ini::Node &next) {
        bool changed = false;
        found = false;
        Ini::Node &key = OpenKey(next, parts, &changed);
        // A hand-edited file may hold several spellings of one name: all go.
        for (QString stored; !(stored = FindName(key.values, valueName)).isEmpty();) {
            key.values.remove(stored);
            found = changed = true;
        }
        return changed;
    });
    return ok && found;
}

void RemoveRegValue(const QString &keyPath, const QString &valueName, bool machineHive)
{
    StoreFile &store = Store(machineHive);
    QMutexLocker locker(&store.mutex);
    const QStringList parts = KeyParts(keyPath);
    const bool ok = store.modify([&](Ini::Node &next) {
        bool changed = false;
        if (!FindKey(next, parts))
            return false; // no key, no value: nothing to write
        Ini::Node &key = OpenKey(next, parts, &changed);
        for (QString stored; !(stored = FindName(key.values, valueName)).isEmpty();) {
            key.values.remove(stored);
            changed = true;
        }
        return changed;
    });
    if (!ok)
        throw RegistryError(valueName, store.problem());
}

bool DeleteRegKey(const QString &keyPath, bool machineHive)
{
    StoreFile &store = Store(machineHive);
    QMutexLocker locker(&store.mutex);
    const QStringList parts = KeyParts(keyPath);
    if (parts.isEmpty())
        return false; // the root cannot be deleted
    bool found = false;
    const bool ok = store.modify([&](Ini::Node &next) {
        found = false;
        if (!FindKey(next, parts))
            return false;
        bool unused = false;
        Ini::Node &parent = OpenKey(next, parts.mid(0, parts.size() - 1), &unused);
        parent.children.remove(FindName(parent.children, parts.last()));
        found = true;
        return true;
    });
    return ok && found;
}

bool ReadRegValueNames(const QString &keyPath, QStringList &names, bool machineHive)
{
    names.clear();
    StoreFile &store = Store(machineHive);
    QMutexLocker locker(&store.mutex);
    if (!store.refresh())
        return true;
    const QStringList parts = KeyParts(keyPath);
    const Ini::Node *key = FindKey(store.root(), parts);
    if (!key) {
        store.createCourtesy(parts);
        return true;
    }
    names.reserve(key->values.size());
    for (auto it = key->values.cbegin(); it != key->values.cend(); ++it) {
        if (it.key() != KeyMarker)
            names.append(UnescapeName(it.key()));
    }
    return true;
}

void ReplaceRegKeyValues(const QString &keyPath, const QStringList &valueNames, const QString &data,
                         bool machineHive)
{
    const QStringList parts = KeyParts(keyPath);
    if (parts.isEmpty())
        throw RegistryError(keyPath, QStringLiteral("the root cannot be replaced"));
    StoreFile &store = Store(machineHive);
    QMutexLocker locker(&store.mutex);
    const QByteArray raw = Ini::EncodeString(data);
    const bool ok = store.modify([&](Ini::Node &next) {
        bool unused = false;
        Ini::Node &parent = OpenKey(next, parts.mid(0, parts.size() - 1), &unused);
        QString stored = FindName(parent.children, parts.last());
        if (stored.isEmpty())
            stored = EscapeName(parts.last());
        if (valueNames.isEmpty())
            return parent.children.remove(stored) > 0;
        Ini::Node key;
        key.values.insert(KeyMarker, QByteArray());
        QSet<QString> written;
        written.reserve(valueNames.size());
        for (const QString &name : valueNames) {
            // One value per name, the first spelling wins.
            const QString folded = name.toCaseFolded();
            if (written.contains(folded))
                continue;
            written.insert(folded);
            key.values.insert(EscapeName(name), raw);
        }
        const auto existing = parent.children.constFind(stored);
        if (existing != parent.children.cend() && SameValues(existing.value(), key))
            return false; // as stored already: nothing to write
        parent.children.insert(stored, std::move(key));
        return true;
    });
    if (!ok)
        throw RegistryError(keyPath, store.problem());
}

QStringList TakeRegistryNotices()
{
    QMutexLocker locker(&noticesMutex);
    return std::exchange(pendingNotices, {});
}

QString RegistryFilePath()
{
    return StorePath(false);
}
