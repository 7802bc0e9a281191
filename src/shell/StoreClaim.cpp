#include "shell/StoreClaim.h"

#include "platform/InstanceLock.h"
#include "platform/Log.h"
#include "platform/UrlRouter.h"

#include <QDir>
#include <QEventLoop>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <memory>
#include <optional>

namespace StoreClaim {

namespace {

// Tries the lock, then the hand-over, every 200 ms until one of them settles the start or
// giveUp is set. Runs on a thread of its own: a hand-over blocks for as long as the running
// instance takes to answer.
Outcome waitForTheHolder(InstanceLock& lock, const QStringList& arguments, const QStringList& redirectSchemes,
    const std::atomic_bool& giveUp)
{
    const auto keepWaiting = [&giveUp] { return !giveUp.load(); };
    for (bool saidSo = false; keepWaiting();) {
        switch (lock.tryTake()) {
        case InstanceLock::Outcome::Taken:
            return Outcome::Taken;
        case InstanceLock::Outcome::Unavailable:
            return Outcome::Unavailable;
        case InstanceLock::Outcome::HeldElsewhere:
            break;
        }
        // Where the running instance said it listens, then the name of the store file's own it
        // listens under as well: nothing may be published yet (it is still opening the store),
        // or the name was published beside another path to the same file (a hard link), or left
        // there by an instance killed long ago, or the file it was published in was deleted.
        // The store's own name is found where both starts share a runtime folder.
        const QString storeName = UrlRouter::storeServerName(lock.storeKey());
        QStringList names { storeName };
        if (const QString published = lock.publishedServerName(); !published.isEmpty() && published != storeName)
            names.prepend(published);
        for (const QString& serverName : std::as_const(names)) {
            switch (UrlRouter::handOverToRunningInstance(arguments, redirectSchemes, serverName, keepWaiting)) {
            case UrlRouter::HandOver::Accepted:
                return Outcome::HandedOver;
            case UrlRouter::HandOver::Refused:
                Log::line("[Quillet] The running instance refused the link");
                return Outcome::Refused;
            case UrlRouter::HandOver::NoAnswer:
                break;
            }
        }
        if (!saidSo) {
            Log::line("[Quillet] Waiting for the running instance");
            saidSo = true;
        }
        QThread::msleep(200);
    }
    return Outcome::GaveUp;
}

} // namespace

Outcome claim(InstanceLock& lock, const QStringList& arguments, const QStringList& redirectSchemes,
    const QString& storeFile, std::chrono::milliseconds patience)
{
    // The usual start: nobody holds it.
    switch (lock.tryTake()) {
    case InstanceLock::Outcome::Taken:
        return Outcome::Taken;
    case InstanceLock::Outcome::Unavailable:
        return Outcome::Unavailable;
    case InstanceLock::Outcome::HeldElsewhere:
        break;
    }

    std::atomic_bool giveUp = false;
    std::optional<Outcome> outcome;
    const std::unique_ptr<QThread> waiter(
        QThread::create([&] { outcome = waitForTheHolder(lock, arguments, redirectSchemes, giveUp); }));
    waiter->setObjectName(QStringLiteral("quillet-claim"));
    QEventLoop loop;
    QObject::connect(waiter.get(), &QThread::finished, &loop, &QEventLoop::quit);

    // Started from the desktop's menu, a start that only waits would be a start that seems to
    // do nothing.
    QMessageBox box;
    box.setWindowTitle(QStringLiteral("Quillet"));
    box.setIcon(QMessageBox::Information);
    box.setTextFormat(Qt::PlainText);
    box.setText(QStringLiteral("Quillet is already running, but it isn't answering.\n\n"
                               "It keeps its data file in use:\n%1\n\n"
                               "This window closes by itself once it answers. Close it to stop waiting; "
                               "the Quillet that is running is left as it is.")
                    .arg(QDir::toNativeSeparators(storeFile)));
    box.setStandardButtons(QMessageBox::Close);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    QObject::connect(&box, &QMessageBox::finished, &loop, [&giveUp] { giveUp = true; });
    QTimer::singleShot(patience, &box, [&box] { box.show(); });

    waiter->start();
    loop.exec();
    waiter->wait();
    return outcome.value_or(Outcome::GaveUp);
}

} // namespace StoreClaim
