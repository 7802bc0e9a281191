#include "platform/DesktopUrlOpener.h"

#include "platform/Log.h"

#include <QProcess>
#include <QStandardPaths>
#include <array>

namespace {

struct Opener
{
    QLatin1String program;
    QLatin1String verb;
};

const std::array<Opener, 2> kOpeners {
    Opener { QLatin1String("xdg-open"), QLatin1String() },
    Opener { QLatin1String("gio"), QLatin1String("open") },
};

// xdg-open's answer when it found nothing to hand the link to (no desktop it knows, no display):
// the next opener may still succeed. Any other failure is the desktop's own answer.
constexpr int kNoMethodAvailable = 3;

} // namespace

DesktopUrlOpener::DesktopUrlOpener() = default;

DesktopUrlOpener::~DesktopUrlOpener()
{
    // A browser that xdg-open runs in the foreground is its child, and outlives it.
    for (QProcess* process : m_running.findChildren<QProcess*>(Qt::FindDirectChildrenOnly)) {
        process->disconnect();
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(1000);
        }
    }
}

bool DesktopUrlOpener::open(const QUrl& url, Failed failed)
{
    if (!url.isValid())
        return false;
    // QUrl keeps schemes in lower case. The rest of the link may hold a token: only the scheme
    // is logged.
    if (!mayOpen(url)) {
        Log::line("[Quillet] Refused to open a link of the scheme %@", url.scheme());
        return false;
    }
    return launch({ url.toString(QUrl::FullyEncoded), url.scheme(), std::move(failed) }, 0);
}

bool DesktopUrlOpener::openFolder(const QString& path)
{
    return launch({ QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded), QStringLiteral("file"), {} }, 0);
}

bool DesktopUrlOpener::launch(Attempt attempt, qsizetype first)
{
    for (qsizetype index = first; index < qsizetype(kOpeners.size()); ++index) {
        const Opener& opener = kOpeners.at(size_t(index));
        const QString program = QStandardPaths::findExecutable(opener.program);
        if (program.isEmpty())
            continue;
        auto* process = new QProcess(&m_running);
        process->setProgram(program);
        QStringList arguments;
        if (!opener.verb.isEmpty())
            arguments.append(opener.verb);
        arguments.append(attempt.target);
        process->setArguments(arguments);
        // Nobody reads what the opener, or a browser it runs in the foreground, prints: a full
        // pipe would stop them.
        process->setStandardInputFile(QProcess::nullDevice());
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());
        const qsizetype next = index + 1;
        // Queued, so that no failure is reported from inside open().
        QObject::connect(
            process, &QProcess::finished, &m_running,
            [this, process, attempt, next](int exitCode, QProcess::ExitStatus status) {
                const bool normal = status == QProcess::NormalExit;
                ended(process, normal && exitCode == 0, normal && exitCode == kNoMethodAvailable, attempt, next);
            },
            Qt::QueuedConnection);
        QObject::connect(
            process, &QProcess::errorOccurred, &m_running,
            [this, process, attempt, next](QProcess::ProcessError error) {
                if (error == QProcess::FailedToStart)
                    ended(process, false, true, attempt, next);
            },
            Qt::QueuedConnection);
        process->start();
        return true;
    }
    return false;
}

void DesktopUrlOpener::ended(QProcess* process, bool succeeded, bool triedNothing, Attempt attempt, qsizetype next)
{
    process->deleteLater();
    if (succeeded || (triedNothing && launch(attempt, next)))
        return;
    Log::line("[Quillet] The desktop could not open a link of the scheme %@", attempt.scheme);
    if (attempt.failed)
        attempt.failed();
}
