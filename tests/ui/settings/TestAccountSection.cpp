#include "platform/DesktopUrlOpener.h"
#include "support/AccessibleNames.h"
#include "support/AccessibleTree.h"
#include "support/AccountRig.h"
#include "support/DesktopOpenerStandIn.h"
#include "support/TestMain.h"
#include "support/ViewProbe.h"
#include "ui/design/Availability.h"
#include "ui/design/ThemeController.h"
#include "ui/design/ToneLabel.h"
#include "ui/settings/AccountSectionView.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>

using Reply = FakeHttpServer::Reply;
using Face = AccountSectionView::Face;

namespace {

QByteArray accountJson(const QByteArray& usage = R"("minutesUsed":10,"quotaMinutes":300)")
{
    return R"({"userId":"u-1","email":"ann@example.com","emailOptIn":false,"usage":{)" + usage
        + R"(,"resetsAt":1},"config":{"quotaMinutes":300,"analyticsEnabled":false,"analyticsFree":false}})";
}

// Types each character as its own key press, whatever its script (QTest::keyClicks takes
// Latin-1 only).
void type(QWidget* field, const QString& text)
{
    for (const uint codePoint : text.toUcs4()) {
        const auto character = char32_t(codePoint);
        QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString::fromUcs4(&character, 1), Qt::NoModifier);
    }
}

struct Card
{
    AccountRig rig;
    std::unique_ptr<AccountSectionView> view;

    explicit Card(
        const std::function<void(AccountRig&)>& setUp = {}, bool compact = false, UrlOpener* desktopOpener = nullptr)
        : rig(desktopOpener)
    {
        rig.cloudServer.on("POST", "/v1/auth/request", Reply::json(200, "{}"));
        rig.cloudServer.on("POST", "/v1/auth/verify", [](const FakeHttpServer::Request& request) {
            return request.json().value(QLatin1String("code")) == QLatin1String("123456")
                ? Reply::json(200, R"({"sessionToken":"s-1","userId":"u-1","email":"ann@example.com"})")
                : Reply::json(400, R"({"error":{"code":"bad_code","message":"That <b>code</b> is wrong."}})");
        });
        rig.cloudServer.on("GET", "/v1/me", Reply::json(200, accountJson()));
        rig.cloudServer.on("POST", "/v1/auth/signout", Reply::json(200, "{}"));
        if (setUp)
            setUp(rig);
        view = std::make_unique<AccountSectionView>(rig.start(), compact);
        view->resize(420, 200);
        view->show();
    }

    AccountService& account() { return *rig.account; }
    QLineEdit* emailField() const { return ViewProbe::field(*view, QStringLiteral("name@example.com")); }
    QLineEdit* codeField() const { return ViewProbe::field(*view, QStringLiteral("6-digit code")); }
    QAbstractButton* verify() const { return ViewProbe::button(*view, QStringLiteral("Verify")); }

    bool reachCodeEntry()
    {
        emailField()->setText(QStringLiteral("Ann@Example.com"));
        QTest::keyClick(emailField(), Qt::Key_Return);
        return QTest::qWaitFor([&] { return view->face() == Face::codeEntry; }, 30'000);
    }
};

} // namespace

class TestAccountSection final : public QObject
{
    Q_OBJECT

private slots:
    // Every face as the real service reaches it, with the server's error as it came, under it.
    void facesFollowService()
    {
        Card card;
        FakeHttpServer& cloud = card.rig.cloudServer;
        QCOMPARE(card.view->face(), Face::emailEntry);
        QVERIFY(!ViewProbe::label(*card.view, QStringLiteral("That <b>code</b> is wrong.")));

        cloud.hold("POST", "/v1/auth/request");
        // Shown in bold as the text it is, not as markup.
        card.emailField()->setText(QStringLiteral("a&b<i>@example.com"));
        QVERIFY(ViewProbe::click(*card.view, QStringLiteral("Send link")));
        QCOMPARE(card.view->face(), Face::emailEntry);
        QVERIFY(!ViewProbe::button(*card.view, QStringLiteral("Send link"))); // a spinner instead
        cloud.release("POST", "/v1/auth/request");
        QTRY_COMPARE(card.view->face(), Face::codeEntry);
        QVERIFY(ViewProbe::texts(*card.view)
                    .contains(QStringLiteral("We sent a sign-in link to <b>a&amp;b&lt;i&gt;@example.com</b>. Click "
                                             "it on this computer — or type the 6-digit code here.")));

        QTest::keyClicks(card.codeField(), QStringLiteral("000000"));
        QTest::keyClick(card.codeField(), Qt::Key_Return);
        QTRY_VERIFY(ViewProbe::label(*card.view, QStringLiteral("That <b>code</b> is wrong.")));
        QCOMPARE(card.view->face(), Face::codeEntry);

        cloud.hold("POST", "/v1/auth/verify");
        card.codeField()->clear();
        QTest::keyClicks(card.codeField(), QStringLiteral("123456"));
        QVERIFY(ViewProbe::click(*card.view, QStringLiteral("Verify")));
        QCOMPARE(card.view->face(), Face::signingIn);
        QVERIFY(ViewProbe::label(*card.view, QStringLiteral("Signing you in…")));
        cloud.release("POST", "/v1/auth/verify");
        QTRY_COMPARE(card.view->face(), Face::signedIn);
        QTRY_VERIFY(ViewProbe::label(*card.view, QStringLiteral("ann@example.com")));

        // A link that fails while signed in: its message shows under the signed-in face.
        cloud.on("POST", "/v1/auth/verify", Reply::json(400, R"({"error":{"code":"x","message":"Link expired"}})"));
        card.account().handleOpenURL(QUrl(QStringLiteral("quillet://auth?token=old")));
        QTRY_VERIFY(ViewProbe::label(*card.view, QStringLiteral("Link expired")));
        QCOMPARE(card.view->face(), Face::signedIn);

        QVERIFY(finishes([&](auto done) { card.account().signOut(done); }));
        QCOMPARE(card.view->face(), Face::emailEntry);
        QCOMPARE(card.emailField()->text(), QStringLiteral("a&b<i>@example.com"));
    }

    void sendLinkKeepsTheKeyboard_data()
    {
        QTest::addColumn<bool>("sent");
        QTest::newRow("sent") << true;
        QTest::newRow("refused") << false;
    }

    // "Send link" pressed from the keyboard keeps the focus while the link goes out, and the
    // outcome is said once: the code field then has the keyboard, or the button again.
    void sendLinkKeepsTheKeyboard()
    {
        QFETCH(bool, sent);
        Card card([&](AccountRig& rig) {
            if (!sent)
                rig.cloudServer.on("POST", "/v1/auth/request", Reply::json(500, "{}"));
        });
        FakeHttpServer& cloud = card.rig.cloudServer;
        card.view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(card.view.get()));
        AccessibleTree::EventSpy events;
        card.emailField()->setText(QStringLiteral("ann@example.com"));
        QAbstractButton* send = ViewProbe::button(*card.view, QStringLiteral("Send link"));
        send->setFocus(Qt::TabFocusReason);
        cloud.hold("POST", "/v1/auth/request");
        QTest::keyClick(send, Qt::Key_Space);
        QCOMPARE(QApplication::focusWidget(), send);
        QVERIFY(!Availability::isAvailable(*send));
        QCOMPARE(AccessibleNames::unnamed(*card.view), QStringList {}); // the spinner keeps its name
        QTest::keyClick(send, Qt::Key_Space); // a second press while it works does nothing
        cloud.release("POST", "/v1/auth/request");
        if (sent) {
            QTRY_COMPARE(card.view->face(), Face::codeEntry);
            QCOMPARE(QApplication::focusWidget(), card.codeField());
            QTRY_COMPARE(events.announcements(),
                QStringList { QStringLiteral("Check your email. We sent a sign-in link to ann@example.com.") });
        } else {
            QTRY_VERIFY(card.account().flowError().has_value());
            QCOMPARE(QApplication::focusWidget(), send);
            QVERIFY(Availability::isAvailable(*send));
            QTRY_COMPARE(events.announcements(), QStringList { *card.account().flowError() });
        }
        QCOMPARE(cloud.requestsTo("POST", "/v1/auth/request").size(), 1);
        QTest::qWait(0);
        QCOMPARE(events.announcements().size(), 1);
    }

    // A sign-in the keyring did not keep is said under the account, in words.
    void signInTheKeyringRefusedIsSaid_data()
    {
        QTest::addColumn<bool>("refuseWrites");
        QTest::newRow("kept") << false;
        QTest::newRow("refused") << true;
    }
    void signInTheKeyringRefusedIsSaid()
    {
        QFETCH(bool, refuseWrites);
        const QString unkept = QStringLiteral("No keyring could keep this sign-in: it works until Quillet quits.");
        Card card([&](AccountRig& rig) { rig.keyring.refuseWrites = refuseWrites; });
        QVERIFY(card.reachCodeEntry());
        QTest::keyClicks(card.codeField(), QStringLiteral("123456"));
        QTest::keyClick(card.codeField(), Qt::Key_Return);
        QTRY_COMPARE(card.view->face(), Face::signedIn);
        QCOMPARE(ViewProbe::label(*card.view, unkept) != nullptr, refuseWrites);
        QVERIFY(finishes([&](auto done) { card.account().signOut(done); }));
        QVERIFY(!ViewProbe::label(*card.view, unkept));
    }

    // Without a browser that opens, "Continue with Google" says so at once instead of waiting
    // for a page nobody sees.
    void providerSignInWithoutABrowser()
    {
        DesktopOpenerStandIn desktop(4, 4);
        DesktopUrlOpener opener;
        Card card({}, false, &opener);
        QAbstractButton* provider = ViewProbe::button(*card.view, QStringLiteral("Continue with Google"));
        QVERIFY(provider);
        provider->click();
        QVERIFY(card.account().tessraSigningIn());
        QTRY_VERIFY(!card.account().tessraSigningIn());
        QCOMPARE(desktop.runs().size(), 1);
        QCOMPARE(provider->text(), QStringLiteral("Continue with Google"));
        QVERIFY(provider->isEnabled());
        QVERIFY(ViewProbe::label(*card.view, QStringLiteral("No web browser could be opened for the sign-in.")));
        QCOMPARE(card.rig.providerServer.requestCount(), 0);
    }

    void emailPlausibility_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("sent"); // null: not offered
        QTest::newRow("six") << "a@b.cd"
                             << "a@b.cd";
        QTest::newRow("five") << "a@b.c" << QString();
        QTest::newRow("only presence counts") << "@.abcd"
                                              << "@.abcd";
        QTest::newRow("blanks around") << " \n a@b.c \t\n" << QString();
        QTest::newRow("blanks around, trimmed by the service") << "  A@B.cd\n"
                                                               << "a@b.cd";
        // Five characters as the user sees them, six UTF-16 units.
        QTest::newRow("combining accent") << "a@b.e\u0301" << QString();
        QTest::newRow("no dot") << "ann@example" << QString();
    }
    void emailPlausibility()
    {
        QFETCH(QString, typed);
        QFETCH(QString, sent);
        Card card;
        card.emailField()->setText(typed);
        QCOMPARE(ViewProbe::button(*card.view, QStringLiteral("Send link"))->isEnabled(), !sent.isNull());
        QTest::keyClick(card.emailField(), Qt::Key_Return);
        if (sent.isNull()) {
            QCOMPARE(card.account().flowKind(), AccountService::FlowKind::Idle);
            return;
        }
        QTRY_COMPARE(card.rig.cloudServer.requestCount(), 1);
        QCOMPARE(card.rig.cloudServer.requests().first().json().value(QLatin1String("email")).toString(), sent);
    }

    void codeFilter_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("pasted");
        QTest::addColumn<QString>("kept");
        QTest::newRow("typed with blanks and a hyphen") << "12 34-56 78" << false << "123456";
        QTest::newRow("pasted with blanks and a hyphen") << "12 34-56 78" << true << "123456";
        QTest::newRow("letters vanish") << "1a2b3c" << false << "123";
        QTest::newRow("a seventh digit") << "1234567" << false << "123456";
        QTest::newRow("Arabic-Indic digits") << "١٢٣٤٥٦" << false << "١٢٣٤٥٦";
        QTest::newRow("beyond the BMP, pasted") << "12345\U0001D7CF9" << true << "12345\U0001D7CF";
        QTest::newRow("beyond the BMP, typed") << "1\U0001D7CF" << false << "1\U0001D7CF";
        QTest::newRow("five") << "12345" << false << "12345";
    }
    void codeFilter()
    {
        QFETCH(QString, input);
        QFETCH(bool, pasted);
        QFETCH(QString, kept);
        Card card;
        QVERIFY(card.reachCodeEntry());
        if (pasted) {
            QApplication::clipboard()->setText(input);
            card.codeField()->setFocus();
            card.codeField()->paste();
        } else {
            type(card.codeField(), input);
        }
        QCOMPARE(card.codeField()->text(), kept);
        const bool complete = kept.toUcs4().size() == 6;
        QCOMPARE(card.verify()->isEnabled(), complete);
        QTest::keyClick(card.codeField(), Qt::Key_Return);
        QCOMPARE(card.account().flowKind(),
            complete ? AccountService::FlowKind::Verifying : AccountService::FlowKind::CodeSent);
    }

    void resendCountsDown()
    {
        Card card;
        QVERIFY(card.reachCodeEntry());
        QAbstractButton* resend = ViewProbe::button(*card.view, QStringLiteral("Resend (60s)"));
        QVERIFY(resend && !resend->isEnabled());
        card.rig.clock.advanceMs(18'000);
        QTRY_COMPARE(resend->text(), QStringLiteral("Resend (42s)"));
        QVERIFY(!resend->isEnabled());
        card.rig.clock.advanceMs(42'000);
        QTRY_COMPARE(resend->text(), QStringLiteral("Resend"));
        QVERIFY(ViewProbe::click(*card.view, QStringLiteral("Resend")));
        QTRY_COMPARE(card.rig.cloudServer.requestsTo("POST", "/v1/auth/request").size(), 2);
        QCOMPARE(card.rig.cloudServer.requests().last().json().value(QLatin1String("email")).toString(),
            QStringLiteral("ann@example.com"));
        QTRY_COMPARE(card.view->face(), Face::codeEntry);

        QLineEdit* code = card.codeField();
        QTest::keyClicks(code, QStringLiteral("12"));
        QVERIFY(ViewProbe::click(*card.view, QStringLiteral("Use a different email")));
        QCOMPARE(card.view->face(), Face::emailEntry);
        QCOMPARE(card.emailField()->text(), QStringLiteral("Ann@Example.com"));
        QVERIFY(code->text().isEmpty());
    }

    void signOutAsksFirst()
    {
        Card card(
            [](AccountRig& rig) { rig.keychain.set(QStringLiteral("s-1"), AccountService::kSessionTokenAccount); });
        QCOMPARE(card.view->face(), Face::signedIn);
        const auto answer = [&](const QString& choice) {
            QVERIFY(ViewProbe::click(*card.view, QStringLiteral("Sign out")));
            auto* box = card.view->findChild<QMessageBox*>();
            QVERIFY(box && box->isVisible() && box->windowModality() == Qt::WindowModal);
            QCOMPARE(box->text(), QStringLiteral("Sign out of Quillet?"));
            QCOMPARE(
                box->informativeText(), QStringLiteral("Your notes, archive, and settings stay on this computer."));
            QVERIFY(ViewProbe::click(*box, choice));
        };
        answer(QStringLiteral("Cancel"));
        QTRY_VERIFY(!card.view->findChild<QMessageBox*>());
        QVERIFY(card.account().isSignedIn());
        answer(QStringLiteral("Sign Out"));
        QTRY_COMPARE(card.view->face(), Face::emailEntry);
        QCOMPARE(card.rig.cloudServer.requestsTo("POST", "/v1/auth/signout").size(), 1);
    }

    void usageBlock_data()
    {
        QTest::addColumn<QByteArray>("usage");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("bar"); // per mille
        QTest::addColumn<bool>("warning");
        QTest::newRow("40 %") << QByteArray(R"("minutesUsed":40.7,"quotaMinutes":100)") << "40 of 100" << 407 << false;
        QTest::newRow("89.9 %") << QByteArray(R"("minutesUsed":89.9,"quotaMinutes":100)") << "89 of 100" << 899
                                << false;
        QTest::newRow("90 %") << QByteArray(R"("minutesUsed":90,"quotaMinutes":100)") << "90 of 100" << 900 << true;
        QTest::newRow("95 %") << QByteArray(R"("minutesUsed":95,"quotaMinutes":100)") << "95 of 100" << 950 << true;
        QTest::newRow("120 %") << QByteArray(R"("minutesUsed":120,"quotaMinutes":100)") << "120 of 100" << 1000 << true;
        QTest::newRow("no quota") << QByteArray(R"("minutesUsed":5,"quotaMinutes":0)") << "5 of 0" << 0 << false;
        QTest::newRow("beyond 64 bits") << QByteArray(R"("minutesUsed":1e30,"quotaMinutes":-1e30)") << "0 of 0" << 0
                                        << false;
    }
    void usageBlock()
    {
        QFETCH(QByteArray, usage);
        QFETCH(QString, text);
        QFETCH(int, bar);
        QFETCH(bool, warning);
        Card card([&](AccountRig& rig) {
            rig.keychain.set(QStringLiteral("s-1"), AccountService::kSessionTokenAccount);
            rig.keychain.set(QStringLiteral("tq-own"), AccountService::kByoKeyAccount);
            rig.cloudServer.on("GET", "/v1/me", Reply::json(200, accountJson(usage)));
        });
        const QString line = text + QStringLiteral(" minutes used this month");
        QTRY_VERIFY(ViewProbe::label(*card.view, line));
        auto* label = static_cast<ToneLabel*>(ViewProbe::label(*card.view, line));
        QCOMPARE(label->accessibleName(), text + QStringLiteral(" minutes used"));
        QCOMPARE(label->tone(), warning ? Quillet::Tone::accent : Quillet::Tone::secondary);
        auto* progress = card.view->findChild<QProgressBar*>();
        QCOMPARE(progress->value() * 1000 / progress->maximum(), bar);
        // The warning shows in the accent and the normal state in a grey, in either theme,
        // though both themes' own highlight is the accent.
        const QPalette before = QApplication::palette();
        for (const QPalette& theme : { ThemeController::lightPalette(), ThemeController::darkPalette() }) {
            QApplication::setPalette(theme);
            const QColor fill = progress->grab().toImage().pixelColor(
                std::max(progress->width() * bar / 2000, progress->height()), progress->height() / 2);
            if (bar == 0)
                continue;
            const bool reddish = fill.red() > fill.green() + 40;
            QCOMPARE(reddish, warning);
        }
        QApplication::setPalette(before);
        // The own key is mentioned besides the usage.
        QVERIFY(
            ViewProbe::label(*card.view, QStringLiteral("Using your own Tessra key — the free allowance isn't used.")));
    }

    // The provider's credit comes first, with or without a cloud account.
    void creditLine()
    {
        Card credit([](AccountRig& rig) {
            rig.keychain.set(QStringLiteral("s-1"), AccountService::kSessionTokenAccount);
            rig.keychain.set(QStringLiteral("tq-oauth"), AccountService::kOAuthKeyAccount);
            rig.providerServer.on("GET", "/v1/credits/balance", Reply::json(200, R"({"balance":12.5})"));
            rig.providerServer.hold("GET", "/v1/credits/balance");
        });
        QVERIFY(ViewProbe::label(*credit.view, QStringLiteral("Using your Tessra account credit")));
        QVERIFY(ViewProbe::label(*credit.view, QStringLiteral("Signed in")));
        credit.rig.providerServer.release("GET", "/v1/credits/balance");
        QTRY_VERIFY(credit.account().account());
        QVERIFY(ViewProbe::label(*credit.view, QStringLiteral("Tessra balance: $12.50 — pay-as-you-go")));
        QVERIFY(!credit.view->findChild<QProgressBar*>()->isVisibleTo(credit.view.get()));
        // Two decimals as printf writes them: a half rounds to even.
        credit.rig.providerServer.on("GET", "/v1/credits/balance", Reply::json(200, R"({"balance":0.125})"));
        QVERIFY(finishes([&](auto done) { credit.account().refresh(done); }));
        QVERIFY(ViewProbe::label(*credit.view, QStringLiteral("Tessra balance: $0.12 — pay-as-you-go")));
    }

    void unlimitedLine()
    {
        Card unlimited([](AccountRig& rig) {
            rig.keychain.set(QStringLiteral("s-1"), AccountService::kSessionTokenAccount);
            rig.cloudServer.on(
                "GET", "/v1/me", Reply::json(200, accountJson(R"("minutesUsed":1,"quotaMinutes":0,"unlimited":true)")));
        });
        QTRY_VERIFY(ViewProbe::label(*unlimited.view, QStringLiteral("Unlimited minutes")));
        QVERIFY(!unlimited.view->findChild<QProgressBar*>()->isVisibleTo(unlimited.view.get()));
        QVERIFY(!ViewProbe::label(
            *unlimited.view, QStringLiteral("Using your own Tessra key — the free allowance isn't used.")));
    }

    // The signed-in face refreshes the account each time it comes into view, never on a repaint.
    void refreshOnEachShowing()
    {
        Card card(
            [](AccountRig& rig) { rig.keychain.set(QStringLiteral("s-1"), AccountService::kSessionTokenAccount); });
        QTRY_COMPARE(card.rig.cloudServer.requestsTo("GET", "/v1/me").size(), 1);
        for (int i = 0; i < 3; ++i)
            card.view->repaint();
        card.view->hide();
        card.view->show();
        QTRY_COMPARE(card.rig.cloudServer.requestsTo("GET", "/v1/me").size(), 2);
        QVERIFY(finishes([&](auto done) { card.account().refresh(done); }));
        QCOMPARE(card.rig.cloudServer.requestsTo("GET", "/v1/me").size(), 3);
    }

    void compactLacksOnlyTheExplanation()
    {
        Card full;
        Card compact({}, true);
        QStringList missing = ViewProbe::texts(*full.view);
        for (const QString& text : ViewProbe::texts(*compact.view))
            missing.removeOne(text);
        QCOMPARE(missing,
            QStringList { "One tap, no password — or use email below. Free monthly transcription, no API key." });
    }
};

QUILLET_WIDGET_TEST_MAIN(TestAccountSection)
#include "TestAccountSection.moc"
