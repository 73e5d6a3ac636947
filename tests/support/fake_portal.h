// A GlobalShortcuts portal of the test's own on a private session bus (see session_bus.h), as the
// portal's documentation describes it, for the tests of the desktop's shortcuts. Needs a
// QCoreApplication.
#pragma once

#include <QtDBus>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace test {

// Version 1 (no host registry) or 2, on a connection of its own. It answers on a thread of its
// own, so that the program's blocking calls are answered; what it saw is read under its lock.
using PortalShortcuts = QList<QPair<QString, QVariantMap>>;
inline const QString kPortalPath = "/org/freedesktop/portal/desktop";

class FakePortal final : public QDBusVirtualObject {
public:
    FakePortal(const std::string& address, unsigned version)
        : m_bus(QDBusConnection::connectToBus(QString::fromStdString(address), "portal")), m_version(version) {
        qDBusRegisterMetaType<PortalShortcuts::value_type>();
        qDBusRegisterMetaType<PortalShortcuts>();
        m_bus.registerVirtualObject(kPortalPath, this, QDBusConnection::SubPath);
        m_bus.registerService("org.freedesktop.portal.Desktop");
        m_thread.start();
        moveToThread(&m_thread);
    }
    ~FakePortal() override {
        m_bus.unregisterObject(kPortalPath, QDBusConnection::UnregisterTree);
        QDBusConnection::disconnectFromBus("portal");
        m_thread.quit();
        m_thread.wait();
        // The thread's last writes are seen through its lock: the sanitizer cannot see Qt's join.
        std::lock_guard lock(m_mutex);
    }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& call, const QDBusConnection& bus) override {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(call.member().toStdString());
        if (call.member() == "Get") return bus.send(call.createReply(QVariant::fromValue(QDBusVariant(m_version))));
        if (call.member() == "Register")
            return bus.send(m_version >= 2 ? call.createReply()
                                           : call.createErrorReply(QDBusError::UnknownInterface, ""));
        if (call.member() == "Close") return bus.send(call.createReply());
        const QVariantMap options = qdbus_cast<QVariantMap>(call.arguments().last());
        const QString sender = call.service().mid(1).replace('.', '_');
        const QString request = kPortalPath + "/request/" + sender + "/" + options.value("handle_token").toString();
        bus.send(call.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        QVariantMap results;
        if (call.member() == "CreateSession") {
            m_session = kPortalPath + "/session/" + sender + "/" + options.value("session_handle_token").toString();
            results["session_handle"] = m_session;  // a string: so version 1 made it
        } else {
            m_bound = qdbus_cast<PortalShortcuts>(call.arguments().at(1));
            PortalShortcuts given;  // the keys wished for
            for (const auto& [id, wish] : m_bound)
                given.append({id, {{"trigger_description", wish.value("preferred_trigger").toString()}}});
            results["shortcuts"] = QVariant::fromValue(given);
        }
        QDBusMessage response = QDBusMessage::createSignal(request, "org.freedesktop.portal.Request", "Response");
        return bus.send(response << (call.member() == "BindShortcuts" && refuse ? 2u : 0u) << results);
    }
    void Signal(const char* name, QVariantList tail) {
        QDBusMessage signal = QDBusMessage::createSignal(kPortalPath, "org.freedesktop.portal.GlobalShortcuts", name);
        signal.setArguments(QVariantList{QVariant::fromValue(QDBusObjectPath(Read(m_session)))} + tail);
        m_bus.send(signal);
    }
    void Activate(const QString& id, const char* name = "Activated") {
        Signal(name, {id, QVariant::fromValue(qulonglong{0}), QVariantMap()});
    }
    template <typename T>
    T Read(const T& seen) {
        std::lock_guard lock(m_mutex);
        return seen;
    }

    std::atomic<bool> refuse{false};
    std::vector<std::string> m_calls;
    PortalShortcuts m_bound;
    QString m_session;

private:
    QThread m_thread;
    QDBusConnection m_bus;
    unsigned m_version;
    std::mutex m_mutex;
};

}  // namespace test
