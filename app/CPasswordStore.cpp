#include "CPasswordStore.h"

#if !defined(STREVO_NO_QTKEYCHAIN)
#include <qt6keychain/keychain.h>

#include <QEventLoop>
#include <QTimer>
#include <functional>
#endif

namespace strevo {

namespace {

// The desktop's store: whether it answers, and one key's write, read and delete.
#if defined(STREVO_NO_QTKEYCHAIN)

// Built without QtKeychain: there is none, so passwords are kept for the run only
// and the add dialog greys "记住密码".
bool StoreAnswers() { return false; }
bool StoreWrite(const std::string&, const std::string&) { return false; }
bool StoreRead(const std::string&, std::string*) { return false; }
void StoreDelete(const std::string&) {}

#else

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

bool StoreAnswers() {
    auto* job = new QKeychain::ReadPasswordJob(kService);
    job->setKey(QStringLiteral("strevo-store-check"));
    const QKeychain::Error e = Run(job);
    return e == QKeychain::NoError || e == QKeychain::EntryNotFound;
}

bool StoreWrite(const std::string& key, const std::string& password) {
    auto* job = new QKeychain::WritePasswordJob(kService);
    job->setKey(QString::fromStdString(key));
    job->setTextData(QString::fromStdString(password));
    return Run(job) == QKeychain::NoError;
}

bool StoreRead(const std::string& key, std::string* password) {
    auto* job = new QKeychain::ReadPasswordJob(kService);
    job->setKey(QString::fromStdString(key));
    QString text;
    if (Run(job, [&text](QKeychain::Job* j) {
            text = static_cast<QKeychain::ReadPasswordJob*>(j)->textData();
        }) != QKeychain::NoError)
        return false;
    *password = text.toStdString();
    return true;
}

void StoreDelete(const std::string& key) {
    auto* job = new QKeychain::DeletePasswordJob(kService);
    job->setKey(QString::fromStdString(key));
    Run(job);
}

#endif

}  // namespace

CPasswordStore::~CPasswordStore() {
    // Overwritten before the memory goes back.
    for (auto& [key, password] : m_run) password.assign(password.size(), '\0');
}

bool CPasswordStore::StoreAvailable() {
    if (m_available < 0)
        m_available = !qEnvironmentVariableIsSet("STREVO_NO_KEYCHAIN") && StoreAnswers();
    return m_available == 1;
}

bool CPasswordStore::Put(const std::string& key, const std::string& password, bool remember) {
    m_run[key] = password;
    if (!remember || !StoreAvailable())
        return !remember;
    return StoreWrite(key, password);
}

std::string CPasswordStore::Get(const std::string& key) {
    auto it = m_run.find(key);
    if (it != m_run.end())
        return it->second;
    std::string password;
    if (!StoreAvailable() || !StoreRead(key, &password))
        return {};
    m_run[key] = password;
    return password;
}

void CPasswordStore::Forget(const std::string& key) {
    m_run.erase(key);
    if (StoreAvailable())
        StoreDelete(key);
}

}  // namespace strevo
