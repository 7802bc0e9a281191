#include "ui/design/Announcement.h"

#include "ui/design/AccessibleRole.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <array>

namespace {

// The notifications of one window, taken in turn: the screen reader asks a shown
// notification for its name a moment later, by which time the next text has been given to
// the next one, not to the one it asks.
class Announcer final : public QObject
{
public:
    static constexpr int kNotices = 4;

    explicit Announcer(QWidget& window)
        : QObject(&window)
        , m_window(window)
    {
        setObjectName(QStringLiteral("quilletAnnouncer"));
        m_settle.setSingleShot(true);
        m_settle.setInterval(kSettle);
        connect(&m_settle, &QTimer::timeout, this, &Announcer::flush);
        connect(qApp, &QApplication::focusChanged, this, [this] {
            if (m_settle.isActive() && m_waits++ < kMostWaits)
                m_settle.start();
        });
    }

    static Announcer& of(QWidget& window)
    {
        if (auto* found = window.findChild<Announcer*>(QStringLiteral("quilletAnnouncer"), Qt::FindDirectChildrenOnly))
            return *found;
        return *new Announcer(window);
    }

    void add(const QWidget& near, const QString& text, bool staleBefore)
    {
        // Alone again, it waits afresh: a search still being typed is said once it rests.
        if (staleBefore)
            m_pending.removeIf([&near](const News& news) { return news.near == &near; });
        if (text.isEmpty())
            return;
        if (std::any_of(m_pending.cbegin(), m_pending.cend(), [&text](const News& news) { return news.text == text; }))
            return;
        m_pending.append({ &near, text });
        if (m_pending.size() == 1) {
            m_waits = 0;
            m_settle.start();
        }
    }

private:
    // Said once the focus has rested this long, a few rests at most. A page that comes moves
    // the focus and shows many things at once; Orca, in such a flood, drops the notifications
    // it holds when the next focus comes, and those it reaches while many changes still wait.
    static constexpr std::chrono::milliseconds kSettle { 300 };
    static constexpr int kMostWaits = 4;

    void flush()
    {
        QStringList texts;
        for (const News& news : std::as_const(m_pending))
            texts << news.text;
        m_pending.clear();
        const QString text = texts.join(QLatin1Char(' '));
        if (!m_window.isVisible())
            return;
        QWidget& notice = next();
        notice.hide();
        notice.setAccessibleName(text);
        notice.show();
    }

    QWidget& next()
    {
        m_turn = (m_turn + 1) % kNotices;
        QPointer<QWidget>& notice = m_notices[size_t(m_turn)];
        if (!notice) {
            notice = new QWidget(&m_window);
            AccessibleRole::set(*notice, QAccessible::Notification);
            notice->setObjectName(QStringLiteral("quilletNotice"));
            notice->setAttribute(Qt::WA_TransparentForMouseEvents);
            notice->setFocusPolicy(Qt::NoFocus);
            // Nothing to see: it paints nothing and takes no room from anything.
            notice->setGeometry(0, 0, 0, 0);
            notice->hide();
        }
        return *notice;
    }

    struct News
    {
        const QWidget* near; // only compared, never followed
        QString text;
    };

    QWidget& m_window;
    QList<News> m_pending;
    QTimer m_settle;
    int m_waits = 0;
    std::array<QPointer<QWidget>, kNotices> m_notices;
    int m_turn = 0;
};

} // namespace

void Announcement::marks(QLabel& label, QAccessible::Role role)
{
    AccessibleRole::set(label, role);
}

void Announcement::setText(QLabel& label, const QString& text)
{
    if (label.text() == text)
        return;
    label.setText(text);
    // The line itself may come into view only after its text: what holds it must be shown.
    if (!text.isEmpty())
        say(label.parentWidget() ? *label.parentWidget() : label, text);
}

namespace {

void tell(QWidget& near, const QString& text, bool staleBefore)
{
    const QString said = text.trimmed();
    // A view out of sight has nothing to tell.
    if ((said.isEmpty() && !staleBefore) || !near.isVisible())
        return;
    if (QWidget* window = near.window())
        Announcer::of(*window).add(near, said, staleBefore);
}

} // namespace

void Announcement::say(QWidget& near, const QString& text)
{
    tell(near, text, false);
}

void Announcement::sayLatest(QWidget& near, const QString& text)
{
    tell(near, text, true);
}
