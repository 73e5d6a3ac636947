// A GlobalShortcuts portal of the test's own on a private session bus (see session_bus.h), as the
// portal's documentation describes it, for the tests of the desktop's shortcuts. Needs a
// QCoreApplication.
#pragma once

#include <QtDBus>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace test {

using PortalShortcuts = QList<QPair<QString, QVariantMap>>;
inline const QString kPortalPath = "/org/freedesktop/portal/desktop";

// Version 1 (no host registry) or 2, on a connection of its own. It answers on a thread of its
// own; what it saw, and how it is to answer, are read and set under its lock (Read, Set), as the
// sanitizer cannot see the bus between the threads.
class FakePortal final : public QDBusVirtualObject {
public:
    struct Behaviour {
        QVariant version{};        // the version property's value; the constructor's when not valid
        bool noInterface = false;  // as where no backend offers it (GNOME 43): no such interface
        // As KDE Plasma before 6.1 with its version 1: only the shortcuts given in CreateSession's
        // options are bound, and its answer carries them; BindShortcuts binds nothing.
        bool bindsInCreateSession = false;
        bool refuse = false;         // BindShortcuts answers 2
        bool bindNone = false;       // the answers carry the shortcuts without keys
        QVariant shortcutsAnswer{};  // when valid, the `shortcuts` of the answers instead
        QVariant response{};         // when valid, the Response's first argument instead of the code
    };

    FakePortal(const std::string& address, unsigned version, const std::string& name = "portal")
        : m_bus(QDBusConnection::connectToBus(QString::fromStdString(address), QString::fromStdString(name))),
          m_name(QString::fromStdString(name)),
          m_version(version) {
        qDBusRegisterMetaType<PortalShortcuts::value_type>();
        qDBusRegisterMetaType<PortalShortcuts>();
        m_bus.registerVirtualObject(kPortalPath, this, QDBusConnection::SubPath);
        m_thread.start();
        moveToThread(&m_thread);
    }
    ~FakePortal() override {
        m_bus.unregisterObject(kPortalPath, QDBusConnection::UnregisterTree);
        QDBusConnection::disconnectFromBus(m_name);
        m_thread.quit();
        m_thread.wait();
        // The thread's last writes are seen through its lock: the sanitizer cannot see Qt's join.
        std::lock_guard lock(m_mutex);
    }
    FakePortal(const FakePortal&) = delete;
    FakePortal& operator=(const FakePortal&) = delete;

    // Takes the portal's name: before it, the program finds no portal.
    bool Start() { return m_bus.registerService("org.freedesktop.portal.Desktop"); }
    void Set(const Behaviour& behaviour) {
        std::lock_guard lock(m_mutex);
        m_behaviour = behaviour;
    }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& call, const QDBusConnection& bus) override {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(call.member().toStdString());
        if (call.member() == "Get" && m_behaviour.noInterface)
            return bus.send(call.createErrorReply(QDBusError::InvalidArgs, "No such interface"));
        if (call.member() == "Get") {
            const QVariant version = m_behaviour.version.isValid() ? m_behaviour.version : QVariant(m_version);
            return bus.send(call.createReply(QVariant::fromValue(QDBusVariant(version))));
        }
        if (call.member() == "Register")
            return bus.send(m_version >= 2 ? call.createReply()
                                           : call.createErrorReply(QDBusError::UnknownInterface, ""));
        if (call.member() == "Close") {
            m_sessions.erase(call.path());
            return bus.send(call.createReply());
        }
        const QVariantMap options = qdbus_cast<QVariantMap>(call.arguments().last());
        const QString sender = call.service().mid(1).replace('.', '_');
        const QString request = kPortalPath + "/request/" + sender + "/" + options.value("handle_token").toString();
        bus.send(call.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        QVariantMap results;
        unsigned code = 0;
        if (call.member() == "CreateSession") {
            m_session = kPortalPath + "/session/" + sender + "/" + options.value("session_handle_token").toString();
            m_createOptions = options;
            // A session of the same handle is still open: the real portal cannot export it twice.
            if (!m_sessions.insert(m_session).second) code = 2;
            results["session_handle"] = m_session;  // a string: so version 1 made it
            if (m_behaviour.bindsInCreateSession && options.contains("shortcuts")) {
                m_bound = qdbus_cast<PortalShortcuts>(options.value("shortcuts"));
                results["shortcuts"] = Given();
            }
        } else {
            if (!m_behaviour.bindsInCreateSession) m_bound = qdbus_cast<PortalShortcuts>(call.arguments().at(1));
            results["shortcuts"] = m_behaviour.bindsInCreateSession ? QVariant::fromValue(PortalShortcuts()) : Given();
            if (m_behaviour.refuse) code = 2;
        }
        QDBusMessage response = QDBusMessage::createSignal(request, "org.freedesktop.portal.Request", "Response");
        return bus.send(response << (m_behaviour.response.isValid() ? m_behaviour.response : QVariant(code))
                                 << results);
    }
    void Signal(const char* name, QVariantList tail) {
        QDBusMessage signal = QDBusMessage::createSignal(kPortalPath, "org.freedesktop.portal.GlobalShortcuts", name);
        signal.setArguments(QVariantList{QVariant::fromValue(QDBusObjectPath(Read(m_session)))} + tail);
        m_bus.send(signal);
    }
    // timestamp: the desktop's clock, in milliseconds.
    void Activate(const QString& id, const char* name = "Activated", qulonglong timestamp = 0) {
        Signal(name, {id, QVariant::fromValue(timestamp), QVariantMap()});
    }
    template <typename T>
    T Read(const T& seen) {
        std::lock_guard lock(m_mutex);
        return seen;
    }

    std::vector<std::string> m_calls;
    PortalShortcuts m_bound;
    QString m_session;
    QVariantMap m_createOptions;  // CreateSession's last

private:
    // The bound shortcuts with the keys wished for as the keys given, as the answers carry them.
    QVariant Given() const {
        if (m_behaviour.shortcutsAnswer.isValid()) return m_behaviour.shortcutsAnswer;
        PortalShortcuts given;
        for (const auto& [id, wish] : m_bound)
            given.append(
                {id,
                 {{"trigger_description", m_behaviour.bindNone ? "" : wish.value("preferred_trigger").toString()}}});
        return QVariant::fromValue(given);
    }

    QThread m_thread;
    QDBusConnection m_bus;
    QString m_name;
    unsigned m_version;
    std::mutex m_mutex;
    Behaviour m_behaviour;
    std::set<QString> m_sessions;  // open
};

}  // namespace test
