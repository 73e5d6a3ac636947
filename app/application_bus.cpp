#include "app/application_bus.h"

#include <sys/stat.h>
#include <unistd.h>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

#include <cstdlib>
#include <optional>

#include "app/single_instance.h"

namespace {

constexpr const char* kInterface = "org.freedesktop.Application";
// The platform data's keys for the two tokens, as the interface names them.
constexpr const char* kActivationTokenKey = "activation-token";
constexpr const char* kStartupIdKey = "desktop-startup-id";
// A running copy answers from its event loop at once; one that does not within this is stuck.
constexpr int kCallTimeoutMs = 10'000;

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string ToString(const QString& text) { return text.toStdString(); }

// Why the session names no bus; empty when it names one.
std::string& NoSessionBus() {
    static std::string reason;
    return reason;
}

std::string NoBus(const QDBusConnection& bus) {
    return "no session bus (" + (NoSessionBus().empty() ? ToString(bus.lastError().message()) : NoSessionBus()) + ")";
}

// The process that owns the program's bus name, or none (error says why).
std::optional<pid_t> NameOwner(const QDBusConnection& bus, std::string& error) {
    const QDBusReply<uint> pid = bus.interface()->servicePid(kBusName);
    if (pid.isValid()) return static_cast<pid_t>(pid.value());
    error = pid.error().name() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")
                ? std::string("no running copy of Mivex")
                : ToString(pid.error().message());
    return std::nullopt;
}

// Calls a method of the running copy's interface; false, with the reason in error, when it fails.
bool CallRunningCopy(const char* method, const QList<QVariant>& arguments, const std::filesystem::path& lockFile,
                     std::string& error) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        error = NoBus(bus) + " to reach a running copy of Mivex";
        return false;
    }
    const std::optional<pid_t> owner = NameOwner(bus, error);
    if (!owner) return false;
    std::string lockError;
    const std::optional<pid_t> holder = CSingleInstance::Holder(lockFile, lockError);
    if (holder != owner) {
        error = std::string(kBusName) + " is owned by another program (process " + std::to_string(*owner) + "), " +
                (holder ? "not by the running copy of Mivex (process " + std::to_string(*holder) + ")"
                        : "and no copy of Mivex runs" + (lockError.empty() ? "" : " (" + lockError + ")"));
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kBusName, kBusPath, kInterface, method);
    call.setArguments(arguments);
    call.setAutoStartService(false);  // the program is started by the user, never by the bus
    const QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ErrorMessage) return true;
    // Asked without starting anything, the bus says the name has no owner.
    error = reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")
                ? std::string("no running copy of Mivex")
                : ToString(reply.errorMessage());
    return false;
}

}  // namespace

void UseOnlyTheSessionsBus() {
    if (!Environment("DBUS_SESSION_BUS_ADDRESS").empty()) return;
    const std::string runtime = Environment("XDG_RUNTIME_DIR");
    const std::string socket = (runtime.empty() ? "/run/user/" + std::to_string(::getuid()) : runtime) + "/bus";
    struct stat status = {};
    if (::stat(socket.c_str(), &status) != 0 || !S_ISSOCK(status.st_mode) || status.st_uid != ::getuid())
        NoSessionBus() = "DBUS_SESSION_BUS_ADDRESS is not set and " + socket + " is no bus of the user's";
    // Named even when missing: the library then fails to connect instead of launching a bus, and a
    // bus started there later is found.
    const QByteArray escaped = QByteArray::fromStdString(socket).toPercentEncoding("/");
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + escaped).constData(), 1);
}

ActivationToken ActivationToken::FromEnvironment() {
    return {Environment("XDG_ACTIVATION_TOKEN"), Environment("DESKTOP_STARTUP_ID")};
}

CApplicationBus::CApplicationBus(Handlers handlers) : m_handlers(std::move(handlers)) {}

CApplicationBus::~CApplicationBus() {
    if (!m_bOffered) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(kBusPath);
    bus.unregisterService(kBusName);
}

bool CApplicationBus::Offer(std::string& error) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        error = NoBus(bus);
        return false;
    }
    if (!bus.registerObject(kBusPath, this, QDBusConnection::ExportScriptableSlots)) {
        error = "cannot offer " + std::string(kBusPath) + ": " + ToString(bus.lastError().message());
        return false;
    }
    // Never queued for the name (Qt asks with DBUS_NAME_FLAG_DO_NOT_QUEUE): a copy waiting in line
    // would take it over from under whoever checked who owns it.
    if (!bus.registerService(kBusName)) {
        bus.unregisterObject(kBusPath);
        std::string owner = ToString(bus.lastError().message());
        if (const std::optional<pid_t> pid = NameOwner(bus, owner)) owner = "process " + std::to_string(*pid);
        error = "the name " + std::string(kBusName) + " is taken by another program (" + owner + ")";
        return false;
    }
    m_bOffered = true;
    return true;
}

void CApplicationBus::Activate(const QVariantMap& platformData) {
    m_handlers.activate({ToString(platformData.value(kActivationTokenKey).toString()),
                         ToString(platformData.value(kStartupIdKey).toString())});
}

void CApplicationBus::Open(const QStringList&, const QVariantMap& platformData) {
    // The program opens no files: opening is showing it.
    Activate(platformData);
}

void CApplicationBus::ActivateAction(const QString& name, const QVariantList&, const QVariantMap&) {
    if (!m_handlers.action(ToString(name)))
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("no action %1").arg(name));
}

bool AskRunningCopyToShow(const ActivationToken& token, const std::filesystem::path& lockFile, std::string& error) {
    QVariantMap platformData;
    if (!token.activationToken.empty())
        platformData.insert(kActivationTokenKey, QString::fromStdString(token.activationToken));
    if (!token.startupId.empty()) platformData.insert(kStartupIdKey, QString::fromStdString(token.startupId));
    return CallRunningCopy("Activate", {platformData}, lockFile, error);
}

bool AskRunningCopyForAction(std::string_view action, const std::filesystem::path& lockFile, std::string& error) {
    return CallRunningCopy(
        "ActivateAction",
        {QString::fromUtf8(action.data(), static_cast<qsizetype>(action.size())), QVariantList{}, QVariantMap{}},
        lockFile, error);
}
