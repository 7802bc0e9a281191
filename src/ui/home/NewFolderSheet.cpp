#include "ui/home/NewFolderSheet.h"

#include "storage/Folder.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"
#include "ui/design/EditorialLabel.h"
#include "ui/design/FocusRing.h"
#include "ui/design/Quillet.h"
#include "ui/design/Symbols.h"
#include "ui/design/TextLines.h"
#include "ui/home/MeetingMenu.h"

#include <QHBoxLayout>
#include <QHash>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

namespace {

constexpr int kWidth = 440;
constexpr int kPadding = 22;
constexpr int kSpacing = 18;
constexpr int kMinimumDescriptionLines = 2;
constexpr int kMaximumDescriptionLines = 4;

// The chosen symbol on a card-tinted rounded rectangle; its menu offers the others.
class SymbolPicker final : public QToolButton
{
public:
    explicit SymbolPicker(QWidget* parent)
        : QToolButton(parent)
    {
        setPopupMode(QToolButton::InstantPopup);
        setAccessibleName(NewFolderSheet::tr("Icon"));
        setFixedSize(34, 28);
        setCursor(Qt::PointingHandCursor);
    }

    void setSymbol(const QString& symbol)
    {
        m_symbol = symbol;
        setToolTip(NewFolderSheet::iconName(symbol));
        setAccessibleDescription(NewFolderSheet::iconName(symbol));
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), 8, 8);
        painter.fillPath(shape, Quillet::cardFill(palette()));
        if (FocusRing::shows(*this))
            FocusRing::paint(painter, QRectF(rect()), 8);
        const qreal side = Symbols::sideFor(13.5);
        Symbols::paint(painter, m_symbol,
            QRectF(QPointF(rect().center()) - QPointF(side / 2 - 0.5, side / 2 - 0.5), QSizeF(side, side)),
            Quillet::primary(palette()));
    }

private:
    QString m_symbol;
};

// A plain-text field that grows with its text from two to four lines, then scrolls.
class DescriptionField final : public QPlainTextEdit
{
public:
    explicit DescriptionField(QWidget* parent)
        : QPlainTextEdit(parent)
    {
        setTabChangesFocus(true);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        connect(this, &QPlainTextEdit::textChanged, this, &DescriptionField::fit);
        fit();
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QPlainTextEdit::resizeEvent(event);
        fit();
    }

private:
    void fit()
    {
        int lines = 0;
        for (QTextBlock block = document()->begin(); block.isValid(); block = block.next())
            lines += std::max(block.layout() ? block.layout()->lineCount() : 1, 1);
        lines = std::clamp(lines, kMinimumDescriptionLines, kMaximumDescriptionLines);
        const QFontMetricsF metrics(font());
        // The frame is outside the viewport too: without it the last line is cut and scrolls.
        const int margins = 2 * frameWidth() + contentsMargins().top() + contentsMargins().bottom()
            + int(2 * document()->documentMargin());
        const int height = int(std::ceil(lines * metrics.lineSpacing())) + margins;
        if (height != this->height())
            setFixedHeight(height);
    }
};

} // namespace

const QStringList& NewFolderSheet::iconChoices()
{
    static const QStringList choices = { QStringLiteral("folder"), QStringLiteral("tray.full"),
        QStringLiteral("briefcase"), QStringLiteral("graduationcap"), QStringLiteral("person.2"),
        QStringLiteral("lightbulb"), QStringLiteral("star"), QStringLiteral("tag"), QStringLiteral("calendar"),
        QStringLiteral("mic"), QStringLiteral("building.2"), QStringLiteral("airplane") };
    return choices;
}

QString NewFolderSheet::iconName(const QString& symbol)
{
    static const QHash<QString, const char*> names = { { QStringLiteral("folder"), QT_TR_NOOP("Folder") },
        { QStringLiteral("tray.full"), QT_TR_NOOP("Tray") }, { QStringLiteral("briefcase"), QT_TR_NOOP("Briefcase") },
        { QStringLiteral("graduationcap"), QT_TR_NOOP("Graduation cap") },
        { QStringLiteral("person.2"), QT_TR_NOOP("People") }, { QStringLiteral("lightbulb"), QT_TR_NOOP("Light bulb") },
        { QStringLiteral("star"), QT_TR_NOOP("Star") }, { QStringLiteral("tag"), QT_TR_NOOP("Tag") },
        { QStringLiteral("calendar"), QT_TR_NOOP("Calendar") }, { QStringLiteral("mic"), QT_TR_NOOP("Microphone") },
        { QStringLiteral("building.2"), QT_TR_NOOP("Building") },
        { QStringLiteral("airplane"), QT_TR_NOOP("Airplane") } };
    const char* name = names.value(symbol);
    return name ? tr(name) : symbol;
}

NewFolderSheet::NewFolderSheet(ModelContext& context, Meeting* assignMeeting, QWidget* parent)
    : QDialog(parent)
    , m_assignMeeting(assignMeeting)
    , m_context(context)
{
    setWindowTitle(tr("Create folder"));
    setWindowModality(Qt::WindowModal);
    setFixedWidth(kWidth);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    layout->setSpacing(kSpacing);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    auto* title = new ToneLabel(
        tr("Create folder"), Quillet::font(18, QFont::Medium, Quillet::Design::serif), Quillet::Tone::primary);
    layout->addWidget(title);

    auto* nameSection = new QVBoxLayout;
    nameSection->setSpacing(6);
    nameSection->addWidget(new EditorialLabel(tr("Title and icon"), Quillet::Tone::secondary));
    auto* nameRow = new QHBoxLayout;
    nameRow->setSpacing(10);
    m_picker = new SymbolPicker(this);
    auto* symbols = new QMenu(m_picker);
    for (const QString& symbol : iconChoices()) {
        QAction* choice = symbols->addAction(Symbols::icon(symbol), iconName(symbol));
        choice->setData(symbol);
        connect(choice, &QAction::triggered, this, [this, symbol] { setIcon(symbol); });
    }
    m_picker->setMenu(symbols);
    nameRow->addWidget(m_picker);
    m_name = new QLineEdit(this);
    m_name->setPlaceholderText(tr("Folder name"));
    m_name->setAccessibleName(m_name->placeholderText());
    nameRow->addWidget(m_name, 1);
    nameSection->addLayout(nameRow);
    layout->addLayout(nameSection);

    auto* descriptionSection = new QVBoxLayout;
    descriptionSection->setSpacing(6);
    descriptionSection->addWidget(new EditorialLabel(tr("Description"), Quillet::Tone::secondary));
    m_detail = new DescriptionField(this);
    m_detail->setPlaceholderText(tr("Describe the purpose of this folder"));
    m_detail->setAccessibleName(tr("Description"));
    descriptionSection->addWidget(m_detail);
    layout->addLayout(descriptionSection);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_cancel = new QPushButton(tr("Cancel"), this);
    m_cancel->setAutoDefault(false);
    m_create = new QPushButton(tr("Create"), this);
    m_create->setDefault(true);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_create);
    layout->addLayout(buttons);

    const int contentWidth = kWidth - 2 * kPadding;
    title->setFixedWidth(contentWidth);
    m_detail->setFixedWidth(contentWidth);

    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_create, &QPushButton::clicked, this, &NewFolderSheet::create);
    connect(m_name, &QLineEdit::textChanged, this, &NewFolderSheet::updateCreate);
    setIcon(QStringLiteral("folder"));
    updateCreate();
}

void NewFolderSheet::setIcon(const QString& icon)
{
    m_icon = icon;
    static_cast<SymbolPicker*>(m_picker)->setSymbol(icon);
}

void NewFolderSheet::open()
{
    m_name->clear();
    m_detail->clear();
    setIcon(QStringLiteral("folder"));
    m_name->setFocus();
    QDialog::open();
}

void NewFolderSheet::updateCreate()
{
    // Line breaks count as a name, so "Create" stays enabled for them (and then does nothing,
    // the name trimmed being empty).
    m_create->setEnabled(!TextLines::isBlank(m_name->text()));
}

void NewFolderSheet::create()
{
    const QString name = m_name->text().trimmed();
    if (name.isEmpty())
        return;
    auto* folder = new Folder(name, m_icon, m_detail->toPlainText().trimmed());
    m_context.insert(folder);
    if (isInStore(m_assignMeeting, m_context))
        m_assignMeeting->setFolder(folder);
    accept();
}
