#include "library/MeetingSearchIndex.h"
#include "support/AccountRig.h"
#include "support/FakeClock.h"
#include "support/FakeScheduler.h"
#include "support/FakeMicrophonePermission.h"
#include "support/RecordingSettingsOpener.h"
#include "support/TempStore.h"
#include "support/TestMain.h"
#include "system/UpdateChecker.h"
#include "ui/home/MeetingMenu.h"
#include "ui/sidebar/MeetingListView.h"
#include "ui/sidebar/SidebarAccountFooter.h"
#include "ui/sidebar/UpdateBanner.h"
#include "ui/window/FixItBanner.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QVBoxLayout>

using Reply = FakeHttpServer::Reply;
using Status = MicrophonePermission::Status;

namespace {

QByteArray accountJson()
{
    return R"({"userId":"u-1","email":"ann@example.com","emailOptIn":true,)"
           R"("usage":{"minutesUsed":10,"quotaMinutes":300,"resetsAt":1},)"
           R"("config":{"quotaMinutes":300,"analyticsEnabled":false,"analyticsFree":false}})";
}

// The menu's entries as "text", "-" for a separator, "(text)" for an inert line.
QStringList entries(const QMenu& menu)
{
    QStringList all;
    for (const QAction* action : menu.actions())
        all.append(action->isSeparator() ? QStringLiteral("-")
                : action->isEnabled()    ? action->text()
                                         : QLatin1Char('(') + action->text() + QLatin1Char(')'));
    return all;
}

QAction* entry(const QMenu& menu, const QString& text)
{
    for (QAction* action : menu.actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

// How the account was left before the service starts.
enum class Account { signedOut, cloudUnloaded, cloud, provider, providerWithBalance, ownKey, ownKeyOfSpaces };

struct Rig
{
    AccountRig rig;

    AccountService& start(Account state)
    {
        rig.cloudServer.on("GET", "/v1/me", Reply::json(200, accountJson()));
        rig.cloudServer.on("POST", "/v1/auth/signout", Reply::json(200, "{}"));
        // Before its first answer the balance is unknown; a refused one leaves it so.
        rig.providerServer.on("GET", "/v1/credits/balance",
            state == Account::provider ? Reply::json(500, "{}") : Reply::json(200, R"({"balance":3.5})"));
        if (state == Account::cloudUnloaded || state == Account::cloud)
            rig.keychain.set(QStringLiteral("s-1"), AccountService::kSessionTokenAccount);
        if (state == Account::provider || state == Account::providerWithBalance) {
            rig.keychain.set(QStringLiteral("s-1"), AccountService::kSessionTokenAccount);
            rig.keychain.set(QStringLiteral("tq-oauth"), AccountService::kOAuthKeyAccount);
            rig.keychain.set(QStringLiteral("tessra@example.com"), AccountService::kOAuthEmailAccount);
        }
        AccountService& account = rig.start();
        if (state == Account::cloud || state == Account::provider || state == Account::providerWithBalance)
            finishes([&](auto done) { account.refresh(done); });
        if (state == Account::providerWithBalance)
            finishes([&](auto done) { account.refreshTessraBalance(done); });
        if (state == Account::ownKey)
            account.setByoKey(QStringLiteral("tq-own"));
        if (state == Account::ownKeyOfSpaces)
            account.setByoKey(QStringLiteral("   "));
        return account;
    }
};

} // namespace

Q_DECLARE_METATYPE(Account)

class TestSidebarFooter final : public QObject
{
    Q_OBJECT

private slots:
    // The banner shows only for a strictly newer version, as soon as one is published; a click
    // opens the feed's address, or the site's download page when the feed has none to use.
    void updateBanner_data()
    {
        QTest::addColumn<QByteArray>("published"); // empty: the feed has none
        QTest::addColumn<QByteArray>("url"); // the feed's "url" value, as JSON; empty: none
        QTest::addColumn<bool>("shown");
        QTest::addColumn<QString>("opens"); // a path: on the feed's own site
        const QByteArray deb = "\"https://example.com/q.deb\"";
        QTest::newRow("no version") << QByteArray() << deb << false << QString();
        QTest::newRow("same version") << QByteArray("1.9.3") << deb << false << QString();
        QTest::newRow("older version") << QByteArray("1.9") << deb << false << QString();
        QTest::newRow("newer version") << QByteArray("2.0") << deb << true << "https://example.com/q.deb";
        QTest::newRow("newer, no url") << QByteArray("2.0") << QByteArray() << true << "/download";
        QTest::newRow("newer, file url") << QByteArray("2.0") << QByteArray("\"file:///tmp/q.deb\"") << true
                                         << "/download";
    }
    void updateBanner()
    {
        QFETCH(QByteArray, published);
        QFETCH(QByteArray, url);
        QFETCH(bool, shown);
        QFETCH(QString, opens);
        TempStore store;
        FakeClock clock;
        Rig account;
        FakeHttpServer site;
        QNetworkAccessManager network;
        QList<QUrl> opened;
        UpdateChecker updater(network, site.url(), QStringLiteral("1.9.3"), [&](const QUrl& url) {
            opened.append(url);
            return true;
        });
        MeetingSearchIndex search(store.context());
        FakeScheduler scheduler;
        MeetingListView view(
            { store.context(), clock, updater, account.start(Account::signedOut), search, scheduler }, {}, {});
        view.show();
        QVERIFY(!view.updateBanner()->isVisibleTo(&view));

        if (!published.isEmpty())
            site.on("GET", "/latest.json",
                Reply::json(
                    200, "{\"version\":\"" + published + "\"" + (url.isEmpty() ? "" : ",\"url\":" + url) + "}"));
        QSignalSpy finished(&updater, &UpdateChecker::finished);
        updater.check();
        QVERIFY(finished.wait(10000));
        QCOMPARE(view.updateBanner()->isVisibleTo(&view), shown);
        if (!shown)
            return;
        QCOMPARE(view.updateBanner()->detailText(), QStringLiteral("Version 2.0 — click to download"));
        const QPoint centre = view.updateBanner()->rect().center();
        QTest::mouseClick(view.updateBanner(), Qt::LeftButton, {}, centre);
        QTest::mouseClick(view.updateBanner(), Qt::LeftButton, {}, centre);
        const QUrl expected = opens.startsWith('/') ? site.url(opens) : QUrl(opens);
        QCOMPARE(opened, (QList<QUrl> { expected, expected }));
        QVERIFY(view.updateBanner()->isVisibleTo(&view));
    }

    // What the chip and its menu show in each account state.
    void footer_data()
    {
        QTest::addColumn<Account>("state");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("credit");
        QTest::addColumn<QStringList>("menu");

        const QStringList signedOut { "Sign in…", "-", "Settings…" };
        QTest::newRow("signed out") << Account::signedOut << "Sign in" << QString() << signedOut;
        QTest::newRow("own key only") << Account::ownKey << "Sign in" << QString() << signedOut;
        QTest::newRow("cloud account not loaded") << Account::cloudUnloaded << "Account" << QString()
                                                  << QStringList { "(Signed in)", "-", "Settings…", "-", "Sign Out" };
        QTest::newRow("cloud account") << Account::cloud << "ann@example.com" << QString()
                                       << QStringList { "(ann@example.com)", "-", "Settings…", "-", "Sign Out" };
        QTest::newRow("provider, balance unknown") << Account::provider << "tessra@example.com"
                                                   << "Tessra account"
                                                   << QStringList { "(tessra@example.com)", "(Tessra account)", "-",
                                                          "Add credit on Tessra", "Settings…", "-", "Sign Out" };
        QTest::newRow("provider with balance") << Account::providerWithBalance << "tessra@example.com"
                                               << "Tessra · $3.50"
                                               << QStringList { "(tessra@example.com)", "(Tessra · $3.50)", "-",
                                                      "Add credit on Tessra", "Settings…", "-", "Sign Out" };
    }
    void footer()
    {
        QFETCH(Account, state);
        QFETCH(QString, name);
        QFETCH(QString, credit);
        QFETCH(QStringList, menu);
        Rig rig;
        int settingsOpened = 0;
        SidebarAccountFooter footer(rig.start(state), [&] { ++settingsOpened; });
        footer.show();
        QCOMPARE(footer.nameText(), name);
        QCOMPARE(footer.creditText(), credit);
        // A screen reader reads the chip by the lines it shows.
        QCOMPARE(QAccessible::queryAccessibleInterface(footer.chip())->text(QAccessible::Name),
            credit.isEmpty() ? name : name + QStringLiteral(", ") + credit);
        if (credit.isEmpty()) {
            // One line of text sits on the chip's middle, level with the avatar.
            const auto* chip = footer.findChild<QAbstractButton*>();
            const QLabel* line = nullptr;
            for (const QLabel* label : footer.findChildren<QLabel*>())
                if (label->text() == name)
                    line = label;
            QVERIFY(chip && line);
            const int lineMiddle = line->mapTo(chip, line->rect().center()).y();
            QVERIFY2(std::abs(lineMiddle - chip->rect().center().y()) <= 1, qPrintable(QString::number(lineMiddle)));
        }
        std::unique_ptr<QMenu> opened(footer.makeMenu(nullptr));
        QCOMPARE(entries(*opened), menu);

        // Every way to the settings page goes there.
        for (const QString& text : { QStringLiteral("Sign in…"), QStringLiteral("Settings…") })
            if (QAction* action = entry(*opened, text))
                action->trigger();
        QCOMPARE(settingsOpened, int(menu.count(QStringLiteral("Settings…")) + menu.count(QStringLiteral("Sign in…"))));
        if (QAction* signOut = entry(*opened, QStringLiteral("Sign Out")))
            QVERIFY(isDestructive(*signOut));
    }

    // "Sign Out" asks nothing: the server hears of it and the chip turns to "Sign in".
    void signOut()
    {
        Rig rig;
        AccountService& account = rig.start(Account::providerWithBalance);
        SidebarAccountFooter footer(account, [] {});
        footer.show();
        std::unique_ptr<QMenu> menu(footer.makeMenu(nullptr));
        entry(*menu, QStringLiteral("Sign Out"))->trigger();
        QTRY_COMPARE(footer.nameText(), QStringLiteral("Sign in"));
        QCOMPARE(footer.creditText(), QString());
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        bool heard = false;
        for (const FakeHttpServer::Request& request : rig.rig.cloudServer.requests())
            heard = heard || request.path == "/v1/auth/signout";
        QVERIFY(heard);
    }

    // Which strip the fix-it banner shows, and that it takes no height without one.
    void fixIt_data()
    {
        QTest::addColumn<Status>("microphone");
        QTest::addColumn<Account>("state");
        QTest::addColumn<FixItBanner::Strip>("expected");
        using Strip = FixItBanner::Strip;
        QTest::newRow("denied, signed out") << Status::Denied << Account::signedOut << Strip::microphone;
        QTest::newRow("not asked, signed out") << Status::NotDetermined << Account::signedOut << Strip::signIn;
        QTest::newRow("provider sign-in only") << Status::Authorized << Account::provider << Strip::none;
        QTest::newRow("own key of spaces") << Status::Authorized << Account::ownKeyOfSpaces << Strip::signIn;
        QTest::newRow("own key") << Status::Authorized << Account::ownKey << Strip::none;
        QTest::newRow("signed in, allowed") << Status::Authorized << Account::cloudUnloaded << Strip::none;
    }
    void fixIt()
    {
        QFETCH(Status, microphone);
        QFETCH(Account, state);
        QFETCH(FixItBanner::Strip, expected);
        Rig rig;
        FakeMicrophonePermission permission(microphone);
        RecordingSettingsOpener opener;
        int signIns = 0;
        QWidget column;
        auto* layout = new QVBoxLayout(&column);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        auto* banner = new FixItBanner(rig.start(state), permission, opener, [&] { ++signIns; });
        layout->addWidget(banner);
        layout->addStretch();
        column.resize(700, 400);
        column.show();
        QVERIFY(QTest::qWaitForWindowExposed(&column));

        QCOMPARE(banner->strip(), expected);
        if (expected == FixItBanner::Strip::none) {
            QCOMPARE(banner->height(), 0);
            // Nothing of it takes the focus either.
            QVERIFY(!banner->button()->isVisible());
            return;
        }
        QVERIFY(banner->height() > 20);
        banner->button()->click();
        if (expected == FixItBanner::Strip::microphone) {
            QCOMPARE(banner->message(),
                QStringLiteral("No microphone found — connect one, or turn it on in the sound settings."));
            QCOMPARE(banner->button()->text(), QStringLiteral("Open Settings"));
            QCOMPARE(opener.opened, QList { DesktopSettingsOpener::Pane::Microphone });
            // Access granted in the desktop's settings, then Quillet becomes active again.
            permission.setStatus(Status::Authorized);
            QCOMPARE(banner->strip(), FixItBanner::Strip::microphone);
            banner->recheckMicrophone();
            QCOMPARE(banner->strip(), FixItBanner::Strip::signIn);
            // A look at the desktop that finds the microphone gone shows at once.
            permission.findStatus(Status::Denied);
            QCOMPARE(banner->strip(), FixItBanner::Strip::microphone);
        } else {
            QCOMPARE(
                banner->message(), QStringLiteral("Sign in to start transcribing — your free minutes are waiting."));
            QCOMPARE(signIns, 1);
            // A sign-in elsewhere takes the strip away at once.
            rig.rig.keychain.set(QStringLiteral("tq-new"), AccountService::kByoKeyAccount);
            rig.rig.account->setByoKey(QStringLiteral("tq-new"));
            QCOMPARE(banner->strip(), FixItBanner::Strip::none);
            QTRY_COMPARE(banner->height(), 0);
            QVERIFY(!banner->button()->isVisible());
        }
    }

    // Removed from its place and put back (the settings page and back), the banner forgets a
    // refusal and looks again.
    void putBackInPlace()
    {
        Rig rig;
        FakeMicrophonePermission permission(Status::Denied);
        RecordingSettingsOpener opener;
        FixItBanner banner(rig.start(Account::cloudUnloaded), permission, opener, {});
        banner.show();
        QCOMPARE(banner.strip(), FixItBanner::Strip::microphone);
        banner.hide();
        permission.setStatus(Status::Authorized);
        banner.show();
        QCOMPARE(banner.strip(), FixItBanner::Strip::none);
    }
};

QUILLET_WIDGET_TEST_MAIN(TestSidebarFooter)
#include "TestSidebarFooter.moc"
