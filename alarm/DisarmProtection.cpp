#include "alarm/DisarmProtection.h"

#include "alarm/AlarmControl.h"
#include "report/ReportLog.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QCryptographicHash>
#include <QPasswordDigestor>
#include <QRandomGenerator>
#include <optional>

const QString DisarmProtection::LockValueName = QStringLiteral("Lock Screen When Armed");
const QString DisarmProtection::PinValueName = QStringLiteral("Disarm PIN");
const QString DisarmProtection::WrongPinText = QStringLiteral("Wrong PIN");
const QString DisarmProtection::BadPinText = QStringLiteral("A PIN is 4 to 12 digits.");
const QString DisarmProtection::PinsDifferText = QStringLiteral("The two PINs are not the same.");

namespace {

const QString Scheme = QStringLiteral("pbkdf2-sha256");
constexpr int SaltBytes = 16;
constexpr int KeyBytes = 32;
// Bounds for a stored count: a damaged or hostile value must neither make
// the check trivial nor freeze the window for minutes.
constexpr int MinIterations = 1000;
constexpr int MaxIterations = 10000000;

QByteArray Derive(const QString &pin, const QByteArray &salt, int iterations)
{
    return QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, pin.toUtf8(), salt,
                                              iterations, KeyBytes);
}

// Compares without an early exit, so the time taken says nothing about how
// much of the key matched.
bool SameBytes(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

struct StoredHash
{
    int iterations = 0;
    QByteArray salt, key;
};

std::optional<StoredHash> ParseHash(const QString &stored)
{
    const QStringList parts = stored.split(QLatin1Char('$'));
    if (parts.size() != 4 || parts[0] != Scheme)
        return std::nullopt;
    bool ok = false;
    const int iterations = parts[1].toInt(&ok);
    if (!ok || iterations < MinIterations || iterations > MaxIterations)
        return std::nullopt;
    const auto salt = QByteArray::fromBase64Encoding(parts[2].toLatin1(),
                                                     QByteArray::AbortOnBase64DecodingErrors);
    const auto key = QByteArray::fromBase64Encoding(parts[3].toLatin1(),
                                                    QByteArray::AbortOnBase64DecodingErrors);
    if (!salt || !key || salt.decoded.isEmpty() || key.decoded.size() != KeyBytes)
        return std::nullopt;
    return StoredHash{iterations, salt.decoded, key.decoded};
}

} // namespace

DisarmProtection::DisarmProtection(AlarmControl &alarm, ReportLog &report)
    : m_alarm(alarm), m_report(report)
{
}

void DisarmProtection::Load()
{
    m_lockEnabled = !ReadRegString(StoreKeys::Settings, LockValueName).isEmpty();
    m_pinHash = ReadRegString(StoreKeys::Settings, PinValueName);
    // A damaged value could never be matched and would lock the owner out
    // of his own alarm: it counts as no PIN.
    if (!ParseHash(m_pinHash))
        m_pinHash.clear();
    m_wrongTries = 0;
}

void DisarmProtection::setLockEnabled(bool on)
{
    if (on)
        WriteRegString(StoreKeys::Settings, LockValueName, StoreKeys::SwitchOn);
    else
        DeleteRegValue(StoreKeys::Settings, LockValueName);
    m_lockEnabled = on;
}

bool DisarmProtection::setPin(const QString &pin, int iterations)
{
    if (!IsValidPin(pin))
        return false;
    QByteArray salt(SaltBytes, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(salt.data()),
                                          SaltBytes / sizeof(quint32));
    const QString hash = HashPin(pin, salt, iterations);
    WriteRegString(StoreKeys::Settings, PinValueName, hash);
    m_pinHash = hash;
    m_wrongTries = 0;
    return true;
}

void DisarmProtection::clearPin()
{
    DeleteRegValue(StoreKeys::Settings, PinValueName);
    m_pinHash.clear();
    m_wrongTries = 0;
}

QString DisarmProtection::ChangeOptions(const OptionChange &change)
{
    const bool typedNew = !change.newPin.isEmpty() || !change.repeatedPin.isEmpty();
    const bool newPin = change.askPin && (!pinEnabled() || typedNew);
    if (pinEnabled() && (!change.askPin || typedNew) && !matches(change.currentPin))
        return WrongPinText;
    if (newPin && !IsValidPin(change.newPin))
        return BadPinText;
    if (newPin && change.newPin != change.repeatedPin)
        return PinsDifferText;
    try {
        if (change.lock != m_lockEnabled)
            setLockEnabled(change.lock);
        if (newPin)
            setPin(change.newPin);
        else if (!change.askPin && pinEnabled())
            clearPin();
    } catch (const RegistryError &error) {
        return error.message();
    }
    return QString();
}

bool DisarmProtection::needsPin(Step) const
{
    // Every guarded step asks alike; the step is named so callers say what
    // they guard and a later rule can tell them apart.
    return pinEnabled() && m_alarm.armState() != AlarmControl::ArmState::Disarmed;
}

bool DisarmProtection::keepsRunningWhenClosed() const
{
    return (m_lockEnabled || pinEnabled()) &&
           m_alarm.armState() != AlarmControl::ArmState::Disarmed;
}

DisarmProtection::Verdict DisarmProtection::CheckPin(const QString &pin)
{
    if (VerifyPin(pin, m_pinHash)) {
        m_wrongTries = 0;
        return Verdict::Granted;
    }
    ++m_wrongTries;
    if (m_wrongTries < TriesBeforeAlarm) {
        m_report.AddToReport(WrongPinText);
        return Verdict::Wrong;
    }
    m_alarm.ActivateAlarmOrReport(WrongPinText);
    return Verdict::WrongAndAlarm;
}

bool DisarmProtection::IsValidPin(const QString &pin)
{
    if (pin.size() < MinPinLength || pin.size() > MaxPinLength)
        return false;
    for (const QChar c : pin) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

QString DisarmProtection::HashPin(const QString &pin, const QByteArray &salt, int iterations)
{
    return Scheme + QLatin1Char('$') + QString::number(iterations) + QLatin1Char('$') +
           QString::fromLatin1(salt.toBase64()) + QLatin1Char('$') +
           QString::fromLatin1(Derive(pin, salt, iterations).toBase64());
}

bool DisarmProtection::VerifyPin(const QString &pin, const QString &stored)
{
    const std::optional<StoredHash> hash = ParseHash(stored);
    return hash && SameBytes(Derive(pin, hash->salt, hash->iterations), hash->key);
}
