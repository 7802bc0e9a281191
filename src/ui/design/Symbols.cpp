#include "ui/design/Symbols.h"

#include <QGuiApplication>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPixmapCache>
#include <QSvgRenderer>
#include <algorithm>
#include <cmath>
#include <memory>

namespace {

struct SymbolFile
{
    const char* name;
    const char* file; // in data/icons
};

// One row per symbol; the file goes into data/icons, which is compiled in whole.
constexpr SymbolFile kSymbols[] = {
    { "record.circle", "record-circle.svg" },
    { "record.circle.fill", "record-circle-fill.svg" },
    { "waveform", "waveform.svg" },
    { "house", "go-home-symbolic.svg" },
    { "square.and.pencil", "square-and-pencil.svg" },
    { "gearshape", "emblem-system-symbolic.svg" },
    { "speaker.wave.2", "audio-volume-high-symbolic.svg" },
    { "play.fill", "media-playback-start-symbolic.svg" },
    { "pause.fill", "media-playback-pause-symbolic.svg" },
    { "stop.fill", "media-playback-stop-symbolic.svg" },
    { "checkmark", "object-select-symbolic.svg" },
    { "doc.on.doc", "edit-copy-symbolic.svg" },
    { "doc.on.clipboard", "edit-paste-symbolic.svg" },
    { "doc.plaintext", "text-x-generic-symbolic.svg" },
    { "chevron.up", "go-up-symbolic.svg" },
    { "chevron.down", "go-down-symbolic.svg" },
    { "arrow.down", "arrow-down.svg" },
    { "arrow.clockwise", "view-refresh-symbolic.svg" },
    { "arrow.up.circle.fill", "arrow-up-circle-fill.svg" },
    { "stop.circle.fill", "stop-circle-fill.svg" },
    { "calendar", "x-office-calendar-symbolic.svg" },
    { "sparkles", "sparkles.svg" },
    { "square.and.arrow.up", "square-and-arrow-up.svg" },
    { "bubble.left.and.text.bubble.right", "bubble-left-and-text-bubble-right.svg" },
    { "mic", "audio-input-microphone-symbolic.svg" },
    { "checkmark.circle.fill", "checkmark-circle-fill.svg" },
    { "person.crop.circle", "person-crop-circle.svg" },
    { "person.crop.circle.badge.checkmark", "person-crop-circle-badge-checkmark.svg" },
    { "circle.lefthalf.filled", "circle-lefthalf-filled.svg" },
    { "character.bubble", "character-bubble.svg" },
    { "text.viewfinder", "text-viewfinder.svg" },
    { "waveform.badge.exclamationmark", "waveform-badge-exclamationmark.svg" },
    { "bell", "preferences-system-notifications-symbolic.svg" },
    { "power", "system-shutdown-symbolic.svg" },
    { "xmark", "window-close-symbolic.svg" },
    { "plus", "list-add-symbolic.svg" },
    { "text.alignleft", "format-justify-left-symbolic.svg" },
    { "ellipsis", "view-more-horizontal-symbolic.svg" },
    // The folder symbols the new-folder sheet offers ("calendar" and "mic" are above).
    { "folder", "folder-symbolic.svg" },
    { "tray.full", "tray-full.svg" },
    { "briefcase", "briefcase.svg" },
    { "graduationcap", "graduationcap.svg" },
    { "person.2", "system-users-symbolic.svg" },
    { "lightbulb", "lightbulb.svg" },
    { "star", "star.svg" },
    { "tag", "tag.svg" },
    { "building.2", "building-2.svg" },
    { "airplane", "airplane-mode-symbolic.svg" },
    // The sidebar, its foot and the fix-it banner.
    { "magnifyingglass", "system-search-symbolic.svg" },
    { "arrow.down.circle.fill", "arrow-down-circle-fill.svg" },
    { "chevron.up.chevron.down", "chevron-up-chevron-down.svg" },
    { "person.fill", "avatar-default-symbolic.svg" },
    { "person", "person.svg" },
    { "creditcard", "creditcard.svg" },
    { "rectangle.portrait.and.arrow.right", "system-log-out-symbolic.svg" },
    { "exclamationmark.circle", "exclamationmark-circle.svg" },
};

// Renderers are made once per symbol and kept; everything here runs on the main thread.
QSvgRenderer* renderer(const QString& name)
{
    static QHash<QString, std::shared_ptr<QSvgRenderer>> renderers;
    if (const auto found = renderers.constFind(name); found != renderers.constEnd())
        return found->get();
    for (const auto& symbol : kSymbols) {
        if (name == QLatin1String(symbol.name)) {
            auto made = std::make_shared<QSvgRenderer>(QStringLiteral(":/icons/") + QLatin1String(symbol.file));
            return renderers.insert(name, made->isValid() ? made : nullptr)->get();
        }
    }
    qWarning("No symbol named %s in the symbol table", qPrintable(name));
    return renderers.insert(name, nullptr)->get();
}

// The symbol at a size in device pixels, in the colour: the SVG's own colours only give the
// shape (and its partial opacities); the colour is laid over them.
QPixmap tinted(const QString& name, QSize devicePixels, const QColor& color)
{
    const QString key = QStringLiteral("quillet-symbol:%1:%2x%3:%4")
                            .arg(name)
                            .arg(devicePixels.width())
                            .arg(devicePixels.height())
                            .arg(color.rgba(), 8, 16);
    QPixmap cached;
    if (QPixmapCache::find(key, &cached))
        return cached;
    QSvgRenderer* svg = renderer(name);
    if (!svg || devicePixels.isEmpty())
        return {};
    QImage image(devicePixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        svg->render(&painter);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), color);
    }
    cached = QPixmap::fromImage(std::move(image));
    QPixmapCache::insert(key, cached);
    return cached;
}

class SymbolIconEngine final : public QIconEngine
{
public:
    SymbolIconEngine(QString name, Quillet::Tone tone)
        : m_name(std::move(name))
        , m_tone(tone)
    { }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override
    {
        Symbols::paint(*painter, m_name, rect, colorFor(mode));
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) override
    {
        QPixmap pixmap(size * scale);
        pixmap.fill(Qt::transparent);
        pixmap.setDevicePixelRatio(scale);
        QPainter painter(&pixmap);
        Symbols::paint(painter, m_name, QRectF(QPointF(0, 0), QSizeF(size)), colorFor(mode));
        return pixmap;
    }

    QIconEngine* clone() const override { return new SymbolIconEngine(m_name, m_tone); }
    QString key() const override { return QStringLiteral("quillet-symbol"); }
    bool isNull() override { return !Symbols::contains(m_name); }

private:
    QColor colorFor(QIcon::Mode mode) const
    {
        QPalette palette = QGuiApplication::palette();
        palette.setCurrentColorGroup(mode == QIcon::Disabled ? QPalette::Disabled : QPalette::Active);
        return Quillet::color(m_tone, palette);
    }

    QString m_name;
    Quillet::Tone m_tone;
};

} // namespace

namespace Symbols {

bool contains(const QString& name)
{
    return std::any_of(std::begin(kSymbols), std::end(kSymbols),
        [&](const SymbolFile& symbol) { return name == QLatin1String(symbol.name); });
}

QString forFolder(const QString& icon)
{
    return contains(icon) ? icon : QStringLiteral("folder");
}

qreal sideFor(qreal fontPixels)
{
    return std::round(fontPixels * 1.2);
}

void paint(QPainter& painter, const QString& name, const QRectF& box, const QColor& color)
{
    QSvgRenderer* svg = renderer(name);
    if (!svg || box.isEmpty())
        return;
    QSizeF size = svg->defaultSize();
    if (size.isEmpty())
        size = box.size();
    size.scale(box.size(), Qt::KeepAspectRatio);
    // Whole device pixels, placed on the pixel grid, so that thin strokes stay sharp.
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QSize devicePixels(qRound(size.width() * ratio), qRound(size.height() * ratio));
    QPixmap pixmap = tinted(name, devicePixels, color);
    if (pixmap.isNull())
        return;
    pixmap.setDevicePixelRatio(ratio);
    const QPointF topLeft(std::round(box.center().x() * ratio - devicePixels.width() / 2.0) / ratio,
        std::round(box.center().y() * ratio - devicePixels.height() / 2.0) / ratio);
    painter.drawPixmap(topLeft, pixmap);
}

QIcon icon(const QString& name, Quillet::Tone tone)
{
    return QIcon(new SymbolIconEngine(name, tone));
}

} // namespace Symbols
