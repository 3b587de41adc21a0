#include "CPasswordStore.h"

namespace strevo {

CPasswordStore::~CPasswordStore() {
    // Overwritten before the memory goes back.
    for (auto& [key, password] : m_run) password.assign(password.size(), '\0');
}

}  // namespace strevo

#if defined(STREVO_NO_QTKEYCHAIN)

// Built without QtKeychain: passwords are kept for the run only, and the add
// dialog greys "记住密码".
namespace strevo {

bool CPasswordStore::StoreAvailable() { return false; }

bool CPasswordStore::Put(const std::string& key, const std::string& password, bool remember) {
    m_run[key] = password;
    return !remember;
}

std::string CPasswordStore::Get(const std::string& key) {
    auto it = m_run.find(key);
    return it == m_run.end() ? std::string() : it->second;
}

void CPasswordStore::Forget(const std::string& key) { m_run.erase(key); }

}  // namespace strevo

#else

#include <qt6keychain/keychain.h>

#include <QEventLoop>
#include <QTimer>
#include <functional>

namespace strevo {

namespace {

const QString kService = QStringLiteral("strevo");
constexpr int kStoreLimitMs = 3000;

// Runs a job to its end, or gives up after the limit (the job then ends on its own).
// onDone runs only while the caller still waits.
QKeychain::Error Run(QKeychain::Job* job, const std::function<void(QKeychain::Job*)>& onDone = {}) {
    QEventLoop loop;
    QKeychain::Error error = QKeychain::OtherError;
    bool done = false;
    // Tied to the loop: a job that ends after the limit finds no one to tell.
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&](QKeychain::Job* j) {
        error = j->error();
        done = true;
        if (onDone)
            onDone(j);
        loop.quit();
    });
    job->setAutoDelete(true);
    job->start();
    QTimer::singleShot(kStoreLimitMs, &loop, &QEventLoop::quit);
    if (!done)
        loop.exec();
    return done ? error : QKeychain::OtherError;
}

}  // namespace

bool CPasswordStore::StoreAvailable() {
    if (m_available < 0) {
        if (qEnvironmentVariableIsSet("STREVO_NO_KEYCHAIN")) {
            m_available = 0;
        } else {
            auto* job = new QKeychain::ReadPasswordJob(kService);
            job->setKey(QStringLiteral("strevo-store-check"));
            const QKeychain::Error e = Run(job);
            m_available = e == QKeychain::NoError || e == QKeychain::EntryNotFound;
        }
    }
    return m_available == 1;
}

bool CPasswordStore::Put(const std::string& key, const std::string& password, bool remember) {
    m_run[key] = password;
    if (!remember || !StoreAvailable())
        return !remember;
    auto* job = new QKeychain::WritePasswordJob(kService);
    job->setKey(QString::fromStdString(key));
    job->setTextData(QString::fromStdString(password));
    return Run(job) == QKeychain::NoError;
}

std::string CPasswordStore::Get(const std::string& key) {
    auto it = m_run.find(key);
    if (it != m_run.end())
        return it->second;
    if (!StoreAvailable())
        return {};
    auto* job = new QKeychain::ReadPasswordJob(kService);
    job->setKey(QString::fromStdString(key));
    QString text;
    if (Run(job, [&text](QKeychain::Job* j) {
            text = static_cast<QKeychain::ReadPasswordJob*>(j)->textData();
        }) != QKeychain::NoError)
        return {};
    std::string password = text.toStdString();
    m_run[key] = password;
    return password;
}

void CPasswordStore::Forget(const std::string& key) {
    m_run.erase(key);
    if (!StoreAvailable())
        return;
    auto* job = new QKeychain::DeletePasswordJob(kService);
    job->setKey(QString::fromStdString(key));
    Run(job);
}

}  // namespace strevo

#endif
