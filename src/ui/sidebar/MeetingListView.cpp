#include "ui/sidebar/MeetingListView.h"

#include "account/AccountService.h"
#include "library/MeetingDateGroup.h"
#include "library/MeetingSearchFilter.h"
#include "library/MeetingSearchIndex.h"
#include "platform/Clock.h"
#include "platform/Scheduler.h"
#include "storage/FolderListModel.h"
#include "storage/MeetingListModel.h"
#include "storage/ModelContext.h"
#include "system/UpdateChecker.h"
#include "ui/design/Announcement.h"
#include "ui/design/EditorialLabel.h"
#include "ui/design/FocusRing.h"
#include "ui/design/Quillet.h"
#include "ui/design/ScrollIndicator.h"
#include "ui/design/Symbols.h"
#include "ui/design/TextLines.h"
#include "ui/home/MeetingMenu.h"
#include "ui/sidebar/MeetingRow.h"
#include "ui/sidebar/SidebarAccountFooter.h"
#include "ui/sidebar/UpdateBanner.h"

#include <QAction>
#include <QDialog>
#include <QIdentityProxyModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <cmath>

namespace {

using RowKind = MeetingListView::RowKind;

constexpr int kRowInset = 8; // from the column's edges to a row's highlight
constexpr int kContentInset = 8; // from the highlight to the row's content
constexpr int kRowVerticalInset = 1;
constexpr qreal kHighlightRadius = 6;
constexpr int kHalfCycleMs = 900;
constexpr qreal kFadedOpacity = 0.45;
constexpr int kPulseRepaintMs = 33;
// After the arrow keys are let go: long enough for a screen reader to read the row, and
// for keys pressed about twice a second to pass rows without a page between them.
constexpr std::chrono::milliseconds kPageFollowsKeys { 500 };

QFont listFont()
{
    return Quillet::font(13);
}

QObject* recordOf(const QModelIndex& index)
{
    return index.data(SidebarSections::RecordRole).value<QObject*>();
}

} // namespace

// The rows as the list shows them, each that can be chosen naming the page it chooses.
class MeetingListView::Rows final : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != ItemRole)
            return QIdentityProxyModel::data(index, role);
        switch (index.data(KindRole).value<RowKind>()) {
        case RowKind::home:
            return QVariant::fromValue(SidebarItem::home());
        case RowKind::folder:
            return QVariant::fromValue(SidebarItem::folder(static_cast<Folder*>(recordOf(index))));
        case RowKind::meeting:
            return QVariant::fromValue(SidebarItem::meeting(static_cast<Meeting*>(recordOf(index))));
        default:
            return QVariant::fromValue(SidebarItem());
        }
    }
};

// Paints every kind of row; a row's height depends on its kind only.
class MeetingListView::Delegate final : public QStyledItemDelegate
{
public:
    explicit Delegate(MeetingListView& view)
        : QStyledItemDelegate(&view)
        , m_view(view)
    { }

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const override
    {
        // Asked of every row at each layout: the list's rows are the sections' own, one for one.
        switch (m_view.m_sections->kindAt(index.row())) {
        case RowKind::home:
        case RowKind::folder:
            return { 0, 28 };
        case RowKind::newFolder:
            return { 0, 26 };
        case RowKind::spacesHeading:
            return { 0, 30 };
        case RowKind::dateHeading:
            return { 0, 28 };
        case RowKind::meeting:
            return { 0, m_view.m_meetingRowHeight };
        case RowKind::noResults:
            return { 0, noResultsHeight(index) };
        }
        return {};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const auto kind = index.data(KindRole).value<RowKind>();
        const QPalette& palette = m_view.palette();
        const QRect row = option.rect.adjusted(kRowInset, kRowVerticalInset, -kRowInset, -kRowVerticalInset);
        if (option.state & QStyle::State_Selected) {
            painter->save();
            painter->setRenderHint(QPainter::Antialiasing);
            Quillet::fillRoundedRect(*painter, row, kHighlightRadius, Quillet::withOpacity(Quillet::accent(), 0.16));
            painter->restore();
        }
        // The keyboard's place in the list: the current row, while the list has the focus.
        if ((option.state & QStyle::State_HasFocus) && option.widget && FocusRing::shows(*option.widget))
            FocusRing::paint(*painter, QRectF(row), kHighlightRadius);
        const QRect content = row.adjusted(kContentInset, 0, -kContentInset, 0);
        switch (kind) {
        case RowKind::home:
            paintLabel(*painter, content, QStringLiteral("house"), index.data().toString(), {}, palette);
            break;
        case RowKind::folder: {
            const int count = index.data(CountRole).toInt();
            paintLabel(*painter, content, Symbols::forFolder(static_cast<Folder*>(recordOf(index))->icon()),
                index.data().toString(), count > 0 ? QString::number(count) : QString(), palette);
            break;
        }
        case RowKind::newFolder:
            paintNewFolder(*painter, content, palette, option.state & QStyle::State_MouseOver);
            break;
        case RowKind::spacesHeading:
        case RowKind::dateHeading:
            paintHeading(*painter, content, index.data().toString(), palette);
            break;
        case RowKind::meeting: {
            const auto* meeting = static_cast<const Meeting*>(recordOf(index));
            MeetingRow::paint(*painter, content, MeetingRow::content(*meeting), palette, m_view.m_dotOpacity);
            break;
        }
        case RowKind::noResults:
            paintNoResults(*painter, option.rect, index.data().toString(), palette);
            break;
        }
    }

private:
    static constexpr qreal kNoResultsSymbol = 22;

    int noResultsHeight(const QModelIndex& index) const
    {
        const int width = qMax(80, m_view.m_list->viewport()->width() - 2 * (kRowInset + kContentInset));
        const QFont font = Quillet::font(12);
        const int lines = TextLines::count(index.data().toString(), font, width, 3);
        return int(24 + Symbols::sideFor(kNoResultsSymbol) + 8 + lines * QFontMetricsF(font).height() + 20);
    }

    static void paintLabel(QPainter& painter, const QRect& rect, const QString& symbol, const QString& text,
        const QString& trailing, const QPalette& palette)
    {
        const qreal side = Symbols::sideFor(13);
        Symbols::paint(
            painter, symbol, QRectF(rect.left(), rect.center().y() - side / 2 + 0.5, side, side), Quillet::accent());
        QRectF textBox(rect.left() + side + 8, rect.top(), rect.width() - side - 8, rect.height());
        if (!trailing.isEmpty()) {
            const QFont countFont = Quillet::font(10.5);
            const qreal countWidth = QFontMetricsF(countFont).horizontalAdvance(trailing);
            painter.setFont(countFont);
            painter.setPen(Quillet::secondary(palette));
            painter.drawText(QRectF(rect.right() + 1 - countWidth - 1, rect.top(), countWidth + 1, rect.height()),
                Qt::AlignRight | Qt::AlignVCenter, trailing);
            textBox.setRight(rect.right() - countWidth - 8);
        }
        painter.setFont(listFont());
        painter.setPen(Quillet::primary(palette));
        painter.drawText(textBox, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
            QFontMetricsF(listFont()).elidedText(text, Qt::ElideRight, textBox.width()));
    }

    static void paintNewFolder(QPainter& painter, const QRect& rect, const QPalette& palette, bool hovered)
    {
        const QFont font = Quillet::font(12);
        const QColor color = hovered ? Quillet::primary(palette) : Quillet::secondary(palette);
        const qreal side = Symbols::sideFor(12);
        Symbols::paint(painter, QStringLiteral("plus"),
            QRectF(rect.left(), rect.center().y() - side / 2 + 0.5, side, side), color);
        painter.setFont(font);
        painter.setPen(color);
        painter.drawText(QRectF(rect.left() + side + 6, rect.top(), rect.width() - side - 6, rect.height()),
            Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, QStringLiteral("New Folder"));
    }

    static void paintHeading(QPainter& painter, const QRect& rect, const QString& text, const QPalette& palette)
    {
        const QFont font = EditorialLabel::trackedFont();
        painter.setFont(font);
        painter.setPen(Quillet::secondary(palette));
        // Headings sit on the rows they name, the 2 of space above them included.
        painter.drawText(
            rect.adjusted(0, 2, 0, -3), Qt::AlignLeft | Qt::AlignBottom | Qt::TextSingleLine, text.toUpper());
    }

    static void paintNoResults(QPainter& painter, const QRect& rect, const QString& text, const QPalette& palette)
    {
        const qreal side = Symbols::sideFor(kNoResultsSymbol);
        const QRectF symbol(rect.center().x() - side / 2, rect.top() + 24, side, side);
        Symbols::paint(painter, QStringLiteral("magnifyingglass"), symbol, Quillet::tertiary(palette));
        const QFont font = Quillet::font(12);
        const qreal width = rect.width() - 2 * (kRowInset + kContentInset);
        const QFontMetricsF metrics(font);
        painter.setFont(font);
        painter.setPen(Quillet::secondary(palette));
        qreal y = symbol.bottom() + 8;
        for (const QString& line : TextLines::wrap(text, font, width, 3)) {
            painter.drawText(QRectF(rect.left(), y, rect.width(), metrics.height()),
                Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine, line);
            y += metrics.height();
        }
    }

    MeetingListView& m_view;
};

MeetingListView::MeetingListView(
    const Services& services, MeetingAction onNewFolder, MeetingAction onDelete, QWidget* parent)
    : QWidget(parent)
    , m_store(services.store)
    , m_clock(services.clock)
    , m_scheduler(services.scheduler)
    , m_updater(services.updater)
    , m_onNewFolder(std::move(onNewFolder))
    , m_onDelete(std::move(onDelete))
    , m_index(services.search)
    , m_meetings(new MeetingListModel(services.store, this))
    , m_folders(new FolderListModel(services.store, this))
    , m_filter(new MeetingSearchFilter(*m_meetings, services.search, this))
    , m_sections(new SidebarSections(*m_filter, *m_folders, services.clock, this))
    , m_rows(new Rows(this))
    , m_search(new QLineEdit)
    , m_list(new QListView)
    , m_updateBanner(new UpdateBanner(services.updater))
    , m_footer(new SidebarAccountFooter(services.account, [this] { choose(SidebarItem::settings()); }))
    , m_accessible(*m_list,
          { [this] { return m_rows->rowCount(); }, [this](int row) { return accessibleRow(row); },
              [this] { return m_list->currentIndex().row(); },
              [this](int row, const QString& action) { accessibleAction(row, action); },
              [this](int row) {
                  return m_list->visualRect(m_rows->index(row, 0)).translated(m_list->viewport()->pos());
              } })
{
    m_search->setPlaceholderText(QStringLiteral("Search meetings"));
    // A placeholder is only a description to a screen reader, and goes once a word is typed.
    m_search->setAccessibleName(m_search->placeholderText());
    m_search->setClearButtonEnabled(true);
    if (auto* clear = m_search->findChild<QAction*>(QStringLiteral("_q_qlineeditclearaction")))
        clear->setText(QStringLiteral("Clear"));
    m_search
        ->addAction(
            Symbols::icon(QStringLiteral("magnifyingglass"), Quillet::Tone::secondary), QLineEdit::LeadingPosition)
        ->setText(QStringLiteral("Search"));

    // Row heights are known before the list lays its rows out.
    measureRows();
    m_rows->setSourceModel(m_sections);
    m_list->setAccessibleName(QStringLiteral("Sidebar"));
    m_list->setModel(m_rows);
    m_list->setItemDelegate(new Delegate(*this));
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setVerticalScrollBar(new ScrollIndicator(Qt::Vertical));
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->setMouseTracking(true);
    m_list->viewport()->setAutoFillBackground(false);
    m_list->setAutoFillBackground(false);
    m_list->installEventFilter(this);
    m_list->viewport()->installEventFilter(this);
    m_search->installEventFilter(this);

    auto* foot = new QWidget;
    auto* footLayout = new QVBoxLayout(foot);
    footLayout->setContentsMargins(0, 0, 0, 0);
    footLayout->setSpacing(0);
    footLayout->addWidget(m_updateBanner);
    footLayout->addWidget(m_footer);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 8, 0, 0);
    layout->setSpacing(0);
    auto* searchRow = new QHBoxLayout;
    searchRow->setContentsMargins(kRowInset, 0, kRowInset, 0);
    searchRow->addWidget(m_search);
    layout->addLayout(searchRow);
    layout->addWidget(m_list, 1);
    layout->addWidget(foot);
    layout->insertSpacing(1, 6);

    connect(m_search, &QLineEdit::textChanged, m_filter, &MeetingSearchFilter::setSearchText);
    // A new layout of the rows clears the list's selection; the highlight comes back after it.
    connect(m_rows, &QAbstractItemModel::modelAboutToBeReset, this, [this] { m_applying = true; });
    connect(m_rows, &QAbstractItemModel::modelReset, this, [this] {
        m_applying = false;
        applyHighlight();
        updatePulse();
    });
    connect(m_rows, &QAbstractItemModel::dataChanged, this, &MeetingListView::updatePulse);
    connect(m_rows, &QAbstractItemModel::dataChanged, this, [this] { m_accessible.changed(); });
    for (const auto moved : { &QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved })
        connect(m_rows, moved, this, [this] { m_accessible.reset(); });
    connect(m_rows, &QAbstractItemModel::rowsMoved, this, [this] { m_accessible.reset(); });
    connect(m_rows, &QAbstractItemModel::modelReset, this, [this] { m_accessible.reset(); });
    connect(m_rows, &QAbstractItemModel::layoutChanged, this, [this] { m_accessible.reset(); });
    connect(m_rows, &QAbstractItemModel::modelReset, this, &MeetingListView::tellSearchVerdict);
    connect(m_rows, &QAbstractItemModel::layoutChanged, this, &MeetingListView::tellSearchVerdict);
    for (const auto moved : { &QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved })
        connect(m_rows, moved, this, &MeetingListView::tellSearchVerdict);

    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { m_accessible.changed(); });
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this, &MeetingListView::userSelected);
    connect(m_list, &QListView::clicked, this, &MeetingListView::rowClicked);
    connect(m_list, &QWidget::customContextMenuRequested, this, &MeetingListView::showContextMenu);

    const auto showBanner = [this] { m_updateBanner->setVisible(m_updater.updateAvailable()); };
    connect(&m_updater, &UpdateChecker::latestVersionChanged, this, showBanner);
    showBanner();

    m_pulse.setStartValue(0.0);
    m_pulse.setEndValue(2.0);
    m_pulse.setDuration(2 * kHalfCycleMs);
    m_pulse.setLoopCount(-1);
    connect(&m_pulse, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        const qreal phase = value.toReal();
        static const QEasingCurve curve = Quillet::easeInOut();
        const qreal opacity = 1 - (1 - kFadedOpacity) * curve.valueForProgress(phase <= 1 ? phase : 2 - phase);
        if (std::abs(opacity - m_dotOpacity) * kHalfCycleMs < (1 - kFadedOpacity) * kPulseRepaintMs)
            return;
        m_dotOpacity = opacity;
        for (int row : std::as_const(m_recordingRows))
            m_list->viewport()->update(MeetingRow::dotRect(
                m_list->visualRect(m_rows->index(row, 0)).adjusted(kRowInset + kContentInset, 0, 0, 0)));
    });

    applyHighlight();
    updatePulse();
    m_index.start();
}

// A layout asks for every row's height; fonts are measured once, not for each of them.
void MeetingListView::tellSearchVerdict()
{
    // The verdict sits above the meetings, after the folders: the rows before the first
    // meeting are all there is to look at.
    QString verdict;
    for (int row = 0, count = m_sections->rowCount(); row < count; ++row) {
        const SidebarSections::RowKind kind = m_sections->kindAt(row);
        if (kind == SidebarSections::RowKind::dateHeading || kind == SidebarSections::RowKind::meeting)
            break;
        if (kind == SidebarSections::RowKind::noResults) {
            verdict = m_sections->index(row, 0).data().toString();
            break;
        }
    }
    if (verdict != std::exchange(m_toldVerdict, verdict))
        Announcement::sayLatest(*m_search, verdict);
}

void MeetingListView::measureRows()
{
    m_meetingRowHeight = MeetingRow::height() + 2 * kRowVerticalInset + 2;
}

void MeetingListView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::ApplicationFontChange) {
        measureRows();
        m_list->doItemsLayout();
    }
}

MeetingListView::~MeetingListView() = default;

void MeetingListView::updatePulse()
{
    // Asked at every layout and every row that changes: the store's list is read directly, and
    // only a meeting that records is looked up among the rows, not every row read through the
    // models.
    QList<int> recording;
    for (int i = 0; i < m_meetings->rowCount(); ++i) {
        const Meeting* meeting = m_meetings->meetingAt(i);
        if (!meeting->isRecording())
            continue;
        if (const int row = m_sections->rowOf(meeting); row >= 0)
            recording.append(row);
    }
    m_recordingRows = recording;
    if (recording.isEmpty()) {
        m_pulse.stop();
        m_dotOpacity = 1;
    } else if (m_pulse.state() != QAbstractAnimation::Running) {
        m_dotOpacity = 1;
        m_pulse.start();
    }
}

void MeetingListView::setSelection(const SidebarItem& item)
{
    m_selection = item;
    applyHighlight();
}

void MeetingListView::applyHighlight(bool keepCurrent)
{
    int row = -1;
    if (m_selection.kind() == SidebarItem::Kind::home) {
        row = 0;
    } else if (const QObject* record = m_selection.kind() == SidebarItem::Kind::folder
            ? static_cast<const QObject*>(m_selection.folder())
            : static_cast<const QObject*>(m_selection.meeting())) {
        row = m_sections->rowOf(record);
    }
    m_applying = true;
    if (row >= 0 && keepCurrent)
        m_list->selectionModel()->select(m_rows->index(row, 0), QItemSelectionModel::ClearAndSelect);
    else if (row >= 0)
        m_list->selectionModel()->setCurrentIndex(m_rows->index(row, 0), QItemSelectionModel::ClearAndSelect);
    else
        m_list->selectionModel()->clearSelection();
    m_applying = false;
}

void MeetingListView::userSelected()
{
    if (m_applying)
        return;
    const QModelIndexList selected = m_list->selectionModel()->selectedIndexes();
    if (selected.isEmpty()) {
        // A click on a heading takes nothing away. The arrow keys stop on "New Folder", which
        // is a button and no page: the highlight stays on the page shown, the keyboard's place
        // on the button, for Enter.
        const QModelIndex current = m_list->currentIndex();
        applyHighlight(current.isValid() && current.data(KindRole).value<RowKind>() == RowKind::newFolder);
        return;
    }
    const auto item = selected.first().data(ItemRole).value<SidebarItem>();
    // An arrow key passes rows faster than pages are made: the page follows once the key is
    // let go, and only the highlight moves meanwhile.
    if (m_arrowHeld) {
        m_heldChoice = item;
        return;
    }
    choose(item);
}

void MeetingListView::chooseHeldRow()
{
    if (const std::optional<SidebarItem> item = std::exchange(m_heldChoice, std::nullopt))
        choose(*item);
}

void MeetingListView::choose(const SidebarItem& item)
{
    const bool changed = !(item == m_selection);
    m_selection = item;
    applyHighlight();
    if (changed)
        emit selectionChanged(item);
}

void MeetingListView::rowClicked(const QModelIndex& index)
{
    if (index.data(KindRole).value<RowKind>() == RowKind::newFolder && m_onNewFolder)
        m_onNewFolder(nullptr);
}

bool MeetingListView::eventFilter(QObject* watched, QEvent* event)
{
    // A right click only opens the row's menu: the list would otherwise choose the row first.
    if (watched == m_list->viewport()
        && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease
            || event->type() == QEvent::MouseButtonDblClick)
        && static_cast<QMouseEvent*>(event)->button() == Qt::RightButton)
        return true;
    if (watched == m_list && event->type() == QEvent::FocusIn)
        m_accessible.focusedLater();
    if (watched == m_list && event->type() == QEvent::FocusOut) {
        m_arrowHeld = false;
        chooseHeldRow();
    }
    // The page follows the arrow keys once they rest: meanwhile only the highlight moves. A
    // screen reader reads the row in the pause; a new page tells it of some ninety changes,
    // which it would take in before the row of a quicker step.
    if (watched == m_list && event->type() == QEvent::KeyRelease && !static_cast<QKeyEvent*>(event)->isAutoRepeat()) {
        m_arrowHeld = false;
        if (m_heldChoice)
            m_scheduler.schedule(kPageFollowsKeys, this, [this, press = m_keyPresses] {
                if (press == m_keyPresses && !m_arrowHeld)
                    chooseHeldRow();
            });
    }
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (watched == m_list) {
        ++m_keyPresses;
        m_arrowHeld = key->modifiers() == Qt::NoModifier
            && QList<int> { Qt::Key_Up, Qt::Key_Down, Qt::Key_Home, Qt::Key_End, Qt::Key_PageUp, Qt::Key_PageDown }
                   .contains(key->key());
    }
    if (watched == m_search && key->key() == Qt::Key_Escape && !m_search->text().isEmpty()) {
        m_search->clear();
        return true;
    }
    // As in every filtered list of the desktop, Down goes from the filter to its first result,
    // which it chooses as an arrow key in the list would.
    if (watched == m_search && key->key() == Qt::Key_Down && key->modifiers() == Qt::NoModifier) {
        for (int row = 0; row < m_rows->rowCount(); ++row) {
            const QModelIndex index = m_rows->index(row, 0);
            if (index.data(KindRole).value<RowKind>() == RowKind::meeting) {
                m_list->setFocus(Qt::TabFocusReason);
                m_list->setCurrentIndex(index);
                m_list->scrollTo(index);
                return true;
            }
        }
        return true;
    }
    if (watched != m_list)
        return QWidget::eventFilter(watched, event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        activateCurrentRow();
        return true;
    }
    // Shift+F10 is the desktop's other menu key; Qt turns only the menu key into a menu request.
    if (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier) {
        showContextMenu(m_list->visualRect(m_list->currentIndex()).center());
        return true;
    }
    if (key->key() == Qt::Key_Delete) {
        const QModelIndexList selected = m_list->selectionModel()->selectedIndexes();
        if (!selected.isEmpty()) {
            if (Meeting* meeting = selected.first().data(ItemRole).value<SidebarItem>().meeting();
                meeting && m_onDelete) {
                m_onDelete(meeting);
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void MeetingListView::activateCurrentRow()
{
    activateRow(m_list->currentIndex());
}

void MeetingListView::activateRow(const QModelIndex& index)
{
    switch (index.isValid() ? index.data(KindRole).value<RowKind>() : RowKind::noResults) {
    case RowKind::newFolder:
        if (m_onNewFolder)
            m_onNewFolder(nullptr);
        break;
    case RowKind::home:
    case RowKind::folder:
    case RowKind::meeting:
        choose(index.data(ItemRole).value<SidebarItem>());
        break;
    case RowKind::spacesHeading:
    case RowKind::dateHeading:
    case RowKind::noResults:
        break;
    }
}

std::optional<AccessibleRows::Row> MeetingListView::accessibleRow(int row) const
{
    const QModelIndex index = m_rows->index(row, 0);
    AccessibleRows::Row read;
    read.rect = m_list->visualRect(index).translated(m_list->viewport()->pos());
    read.name = index.data().toString();
    read.identity = recordOf(index);
    read.selected = m_list->selectionModel()->isSelected(index);
    const QStringList choose = { QAccessibleActionInterface::pressAction() };
    const QStringList chooseOrMenu
        = { QAccessibleActionInterface::pressAction(), QAccessibleActionInterface::showMenuAction() };
    switch (index.data(KindRole).value<RowKind>()) {
    case RowKind::spacesHeading:
    case RowKind::dateHeading:
        read.role = QAccessible::Heading;
        break;
    case RowKind::newFolder:
        read.role = QAccessible::Button;
        read.name = QStringLiteral("New Folder");
        read.actions = choose;
        break;
    case RowKind::noResults:
        read.role = QAccessible::StaticText;
        break;
    case RowKind::home:
        read.actions = choose;
        break;
    case RowKind::folder:
        if (const int count = index.data(CountRole).toInt(); count > 0)
            read.description = QString::number(count);
        read.actions = chooseOrMenu;
        break;
    case RowKind::meeting: {
        const auto* meeting = static_cast<const Meeting*>(recordOf(index));
        if (!meeting)
            return std::nullopt;
        const MeetingRow::Content content = MeetingRow::content(*meeting);
        read.name = content.title;
        // The line under the title as it reads, its marks in words.
        QStringList facts;
        if (content.recording)
            facts.append(tr("Recording"));
        for (const QString& part : content.meta) {
            if (part != QStringLiteral("·"))
                facts.append(part);
        }
        if (content.summaryMark)
            facts.append(tr("Summary"));
        read.description = facts.join(QStringLiteral(", "));
        read.actions = chooseOrMenu;
        break;
    }
    }
    return read;
}

void MeetingListView::accessibleAction(int row, const QString& action)
{
    const QModelIndex index = m_rows->index(row, 0);
    if (action == QAccessibleActionInterface::showMenuAction()) {
        showContextMenu(m_list->visualRect(index).center());
        return;
    }
    activateRow(index);
}

QMenu* MeetingListView::contextMenuFor(int row, QWidget* parent)
{
    if (row < 0 || row >= m_rows->rowCount())
        return nullptr;
    const QModelIndex target = m_rows->index(row, 0);
    const auto kind = target.data(KindRole).value<RowKind>();
    if (kind == RowKind::meeting) {
        return meetingContextMenu(static_cast<Meeting*>(recordOf(target)), m_store.fetchFolders(), m_store,
            m_onNewFolder, m_onDelete, parent);
    }
    if (kind != RowKind::folder)
        return nullptr;
    const QPointer<Folder> folder(static_cast<Folder*>(recordOf(target)));
    auto* menu = new QMenu(parent);
    menu->addAction(QStringLiteral("Rename…"), this, [this, folder] {
        if (folder)
            renameFolder(folder);
    });
    QAction* remove = menu->addAction(QStringLiteral("Delete Folder"), this, [this, folder] {
        if (folder)
            deleteFolder(folder);
    });
    markDestructive(*menu, *remove);
    return menu;
}

void MeetingListView::showContextMenu(const QPoint& position)
{
    QMenu* menu = contextMenuFor(m_list->indexAt(position).row(), this);
    if (!menu)
        return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(m_list->viewport()->mapToGlobal(position));
}

void MeetingListView::renameFolder(Folder* folder)
{
    if (!folder || !isInStore(folder, m_store))
        return;
    if (m_renameDialog)
        m_renameDialog->reject();
    auto* dialog = new QDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Rename Folder"));
    dialog->setWindowModality(Qt::WindowModal);
    auto* heading = new QLabel(QStringLiteral("Rename Folder"));
    heading->setFont(Quillet::headline());
    auto* field = new QLineEdit(folder->name());
    field->setPlaceholderText(QStringLiteral("Name"));
    field->setAccessibleName(field->placeholderText());
    field->selectAll();
    field->setMinimumWidth(240);
    // Cancel, then Save, whatever the desktop's usual order of dialog buttons.
    auto* cancel = new QPushButton(QStringLiteral("Cancel"));
    auto* save = new QPushButton(QStringLiteral("Save"));
    save->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel);
    buttons->addWidget(save);
    auto* layout = new QVBoxLayout(dialog);
    // Exactly as large as its content: a window manager's smaller first size squeezed the
    // buttons onto the bottom edge.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->setContentsMargins(18, 16, 18, 16);
    layout->setSpacing(10);
    layout->addWidget(heading);
    layout->addWidget(field);
    layout->addLayout(buttons);
    connect(save, &QPushButton::clicked, dialog, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    const QPointer<Folder> target(folder);
    connect(dialog, &QDialog::accepted, this, [this, target, field] { saveRename(target, field->text()); });
    m_renameDialog = dialog;
    dialog->open();
}

void MeetingListView::saveRename(const QPointer<Folder>& folder, const QString& text)
{
    // The folder may have been deleted while the dialog was open.
    if (!folder || !isInStore(folder, m_store))
        return;
    const QString name = text.trimmed();
    if (name.isEmpty())
        return;
    folder->setName(name);
}

void MeetingListView::deleteFolder(Folder* folder)
{
    if (!folder || !isInStore(folder, m_store))
        return;
    if (const Folder* selected = m_selection.folder(); selected && selected->id() == folder->id())
        choose(SidebarItem::home());
    m_store.remove(folder);
}
