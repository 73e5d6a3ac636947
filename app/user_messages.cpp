#include "app/user_messages.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <cstdio>

#include "base/logging.h"
#include "base/settings_store.h"

namespace {

void ShowMessageBox(const QString& text, const std::function<void(QWidget&)>& activate = {}) {
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8(CSettingsStore::kAppTitle), text, QMessageBox::Ok);
    if (activate) {
        box.show();
        activate(box);
    }
    box.exec();
}

}  // namespace

CUserMessages::CUserMessages(Mode mode) : m_mode(mode) {}

void CUserMessages::Show(const std::string& text) {
    if (CLogging* log = m_pLog.load()) log->Write(text, true);
    Display(text);
}

void CUserMessages::DisplayAsked(const std::string& text, const std::function<void(QWidget&)>& activate) {
    if (m_mode == Mode::StandardError)
        std::fprintf(stderr, "%s\n", text.c_str());
    else
        ShowMessageBox(QString::fromStdString(text), activate);
}

void CUserMessages::Display(const std::string& text) {
    if (m_mode == Mode::StandardError) {
        std::fprintf(stderr, "%s\n", text.c_str());
        return;
    }
    const QString message = QString::fromStdString(text);
    QCoreApplication* application = QCoreApplication::instance();
    if (application && QThread::currentThread() == application->thread()) {
        ShowMessageBox(message);
    } else if (application) {
        const auto show = [message] { ShowMessageBox(message); };
        QMetaObject::invokeMethod(application, show, Qt::QueuedConnection);
    } else {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
}
