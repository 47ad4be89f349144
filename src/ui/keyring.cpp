#include "ui/keyring.h"

#include <qt6keychain/keychain.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QEventLoop>
#include <QTimer>
#include <memory>

namespace zembrat::ui {
namespace {

// The service the secrets are kept under in the keyring.
const QString kService = QStringLiteral("Zembrat");

// How long a keyring may take to answer (it may ask its user to open it) before it counts as not
// answering.
constexpr int kAnswerMs = 120'000;

// Whether a keyring service answers on the session bus (or could be started there): the Secret
// Service, or KDE's wallet.
bool KeyringReachable() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return false;
    const QStringList activatable = bus.interface()->activatableServiceNames().value();
    for (const QString& name :
         {QStringLiteral("org.freedesktop.secrets"), QStringLiteral("org.kde.kwalletd5"),
          QStringLiteral("org.kde.kwalletd6")})
        if (bus.interface()->isServiceRegistered(name).value() || activatable.contains(name))
            return true;
    return false;
}

KeyringResult Finish(QKeychain::Job& job) {
    // The command line makes no application object: the job's replies need one, for this job.
    std::unique_ptr<QCoreApplication> application;
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "zembrat";
        static char* argv[] = {name, nullptr};
        application = std::make_unique<QCoreApplication>(argc, argv);
    }
    if (!KeyringReachable())
        return {KeyringAnswer::NoKeyring, {}, "no keyring service is on the session bus"};
    job.setAutoDelete(false);
    job.setInsecureFallback(false);
    QEventLoop loop;
    bool finished = false;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    QTimer::singleShot(kAnswerMs, &loop, &QEventLoop::quit);
    job.start();
    if (!finished) loop.exec();
    KeyringResult result;
    if (!finished) {
        result.why = "the keyring did not answer";
        return result;
    }
    result.why = job.errorString().toStdString();
    switch (job.error()) {
        case QKeychain::NoError:
            result.answer = KeyringAnswer::Done;
            result.why.clear();
            break;
        case QKeychain::EntryNotFound:
            result.answer = KeyringAnswer::NotKept;
            break;
        case QKeychain::NoBackendAvailable:
        case QKeychain::NotImplemented:
            result.answer = KeyringAnswer::NoKeyring;
            break;
        case QKeychain::CouldNotDeleteEntry:
        case QKeychain::AccessDeniedByUser:
        case QKeychain::AccessDenied:
        case QKeychain::OtherError:
            result.answer = KeyringAnswer::Refused;
            break;
    }
    return result;
}

}  // namespace

KeyringResult KeepSecret(const std::string& place, const std::string& secret) {
    if (secret.empty()) {
        QKeychain::DeletePasswordJob job(kService);
        job.setKey(QString::fromStdString(place));
        KeyringResult result = Finish(job);
        if (result.answer == KeyringAnswer::NotKept) result.answer = KeyringAnswer::Done;
        return result;
    }
    QKeychain::WritePasswordJob job(kService);
    job.setKey(QString::fromStdString(place));
    job.setTextData(QString::fromStdString(secret));
    return Finish(job);
}

KeyringResult ReadSecret(const std::string& place) {
    QKeychain::ReadPasswordJob job(kService);
    job.setKey(QString::fromStdString(place));
    KeyringResult result = Finish(job);
    if (result.answer == KeyringAnswer::Done) result.secret = job.textData().toStdString();
    return result;
}

std::optional<std::string> KeyringSecret(const std::string& place) {
    KeyringResult read = ReadSecret(place);
    if (read.answer != KeyringAnswer::Done) return std::nullopt;
    return std::move(read.secret);
}

}  // namespace zembrat::ui
