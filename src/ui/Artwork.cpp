#include "Artwork.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <utility>

namespace Artwork {

namespace {

const QColor kDeep(31, 58, 104);
const QColor kDeepTop(47, 86, 146);
const QColor kLight(241, 245, 251);
const QColor kAccent(255, 192, 128);
const QColor kMist(182, 201, 230);
const QColor kSurfaceTop(251, 252, 254);
const QColor kSurfaceBottom(224, 231, 242);

const QString kName = QStringLiteral("Quillor");

// Whole ratios only: a fractional one would not give the pictures their exact sizes.
qreal screenRatio()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? std::max<qreal>(1, std::ceil(screen->devicePixelRatio())) : 1;
}

QPixmap canvas(int w, int h, qreal ratio = screenRatio())
{
    QPixmap p(QSize(w, h) * ratio);
    p.setDevicePixelRatio(ratio);
    p.fill(Qt::transparent);
    return p;
}

void prepare(QPainter& p)
{
    p.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                     QPainter::SmoothPixmapTransform);
}

// The motif's parts, in its own units. The key lies along the x axis, ring to the left; the
// quill's nib to the left, feather to the right. Path arithmetic is slow, so the parts are
// painted over and cut out of each other instead of being joined as paths.
struct Motif {
    QPainterPath ring, hole, blade;    // the key
    QPainterPath vane, barrel, rachis; // the quill
    QTransform keyTurn, quillTurn;
    QRectF bounds;
};

const Motif& motif()
{
    static const Motif m = [] {
        Motif m;
        m.ring.addEllipse(QPointF(-30, 0), 18, 18);
        m.hole.addEllipse(QPointF(-30, 0), 7.5, 7.5);
        m.blade.setFillRule(Qt::WindingFill); // the teeth overlap the blade
        m.blade.addRect(-16, -5.5, 62, 11);
        m.blade.addRect(28, 5, 8, 12);
        m.blade.addRect(39, 5, 7, 8);
        m.vane.moveTo(-18, 2);
        m.vane.cubicTo(-4, -18, 30, -24, 56, -10);
        m.vane.cubicTo(38, 4, 12, 14, -18, 2);
        m.barrel.moveTo(-54, 3);
        m.barrel.lineTo(-16, -3);
        m.barrel.lineTo(-14, 4.5);
        m.barrel.closeSubpath();
        m.rachis.moveTo(-16, 1);
        m.rachis.quadTo(18, -4, 50, -9);
        m.keyTurn.rotate(45);
        m.quillTurn.rotate(-45);
        m.bounds = m.keyTurn.map(m.ring)
                       .boundingRect()
                       .united(m.keyTurn.map(m.blade).boundingRect())
                       .united(m.quillTurn.map(m.vane).boundingRect())
                       .united(m.quillTurn.map(m.barrel).boundingRect());
        return m;
    }();
    return m;
}

// A key and a quill crossed, fitted into box; the quill lies on top, set off by a thin gap.
void paintMotif(QPainter& p, const QRectF& box, const QColor& keyColour, const QColor& quillColour)
{
    const Motif& m = motif();
    const QRect area = box.toAlignedRect();
    const qreal ratio = p.device()->devicePixelRatioF();
    QImage layer(area.size() * ratio, QImage::Format_ARGB32_Premultiplied);
    layer.setDevicePixelRatio(ratio);
    layer.fill(Qt::transparent);

    const qreal scale = std::min(box.width() / m.bounds.width(), box.height() / m.bounds.height());
    QPainter lp(&layer);
    prepare(lp);
    lp.translate(box.center() - area.topLeft());
    lp.scale(scale, scale);
    lp.translate(-m.bounds.center());
    lp.setPen(Qt::NoPen);

    lp.setTransform(m.keyTurn, true);
    lp.fillPath(m.ring, keyColour);
    lp.fillPath(m.blade, keyColour);
    lp.setCompositionMode(QPainter::CompositionMode_Clear);
    lp.fillPath(m.hole, Qt::black);

    // The gap around the quill is cut out of the key: a pixel wide at least.
    lp.setTransform(m.quillTurn * m.keyTurn.inverted() * lp.transform());
    QPen gap(Qt::black, 2 * std::max(3.5, 1.0 / scale));
    gap.setJoinStyle(Qt::RoundJoin);
    for (const QPainterPath* part : {&m.vane, &m.barrel}) {
        lp.strokePath(*part, gap);
        lp.fillPath(*part, Qt::black);
    }
    lp.setCompositionMode(QPainter::CompositionMode_SourceOver);
    lp.fillPath(m.vane, quillColour);
    lp.fillPath(m.barrel, quillColour);
    lp.setCompositionMode(QPainter::CompositionMode_Clear);
    QPen groove(Qt::black, 2.5);
    groove.setCapStyle(Qt::RoundCap);
    lp.strokePath(m.rachis, groove);
    lp.end();

    p.drawImage(area.topLeft(), layer);
}

// The deep blue ground shared by the badge, the bands and the cover's disc.
void paintGround(QPainter& p, const QRectF& r, qreal radius)
{
    QLinearGradient shade(r.topLeft(), r.bottomLeft());
    shade.setColorAt(0, kDeepTop);
    shade.setColorAt(1, kDeep);
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(shade);
    p.drawRoundedRect(r, radius, radius);
    p.restore();
}

// The size last chosen at each weight. Its font is loaded already, so a search that starts
// from its measure loads only the sizes it must try: each size tried anew loads a font of its
// own, the dearest part of painting the pictures.
int& lastSize(QFont::Weight weight)
{
    static std::map<QFont::Weight, int> sizes;
    return sizes[weight];
}

// The largest bold sans font, no bigger than maxPixels, in which text fits box (or the smallest
// tried, 7 pixels, where none does). A larger size never takes less room.
QFont fittedFont(const QString& text, const QSizeF& box, int maxPixels, const QPaintDevice* device,
                 QFont::Weight weight = QFont::Bold)
{
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setWeight(weight);
    constexpr int kSmallest = 7;
    if (maxPixels < kSmallest)
        return font;
    QSizeF needed;
    const auto fits = [&](int px) {
        font.setPixelSize(px);
        const QFontMetricsF fm(font, device);
        needed = QSizeF(std::max(fm.horizontalAdvance(text), fm.boundingRect(text).width()),
                        fm.ascent() + fm.descent());
        return needed.width() <= box.width() && needed.height() <= box.height();
    };
    int& last = lastSize(weight);
    const int reference = last > 0 ? last : maxPixels;
    bool fitting = fits(reference);
    int px = reference;
    if (reference != maxPixels || !fitting) {
        const qreal estimate =
            reference * std::min(box.width() / needed.width(), box.height() / needed.height());
        // Compared, not converted first: the estimate may be infinite for an empty text.
        px = estimate >= maxPixels  ? maxPixels
             : estimate > kSmallest ? int(std::floor(estimate))
                                    : kSmallest;
        if (px != reference)
            fitting = fits(px);
        if (fitting) {
            while (px < maxPixels && fits(px + 1))
                ++px;
        } else {
            while (px > kSmallest && !fits(--px)) {
            }
        }
    }
    font.setPixelSize(px);
    last = px;
    return font;
}

// Text set on the optical middle of box: half the cap height above and below.
void drawCentredLine(QPainter& p, const QRectF& box, const QString& text, Qt::Alignment align)
{
    const QFontMetricsF fm(p.font(), p.device());
    const qreal width = fm.horizontalAdvance(text);
    const qreal x = align & Qt::AlignRight ? box.right() - width : box.left();
    p.drawText(QPointF(x, box.center().y() + fm.capHeight() / 2), text);
}

// A band carrying the motif and the name, as the small logo and the panel's title show it.
void paintBanner(QPainter& p, const QRectF& r, qreal radius)
{
    paintGround(p, r, radius);
    const qreal inset = r.height() * 0.12;
    const QRectF motif(r.left() + inset * 1.5, r.top() + inset, r.height() - 2 * inset,
                       r.height() - 2 * inset);
    paintMotif(p, motif, kLight, kAccent);
    const QRectF text(motif.right() + inset, r.top(), r.right() - motif.right() - 2.5 * inset,
                      r.height());
    p.setFont(fittedFont(kName, QSizeF(text.width(), text.height() * 0.8),
                         qRound(r.height() * 0.62), p.device()));
    p.setPen(kLight);
    drawCentredLine(p, text, kName, Qt::AlignLeft);
}

QPixmap badge(int size)
{
    QPixmap pix = canvas(size, size, 1);
    QPainter p(&pix);
    prepare(p);
    const QRectF square(0, 0, size, size);
    paintGround(p, square, size * 0.22);
    const qreal inset = size * (size <= 24 ? 0.1 : 0.14);
    paintMotif(p, square.adjusted(inset, inset, -inset, -inset), kLight, kAccent);
    return pix;
}

} // namespace

QIcon programIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128})
        icon.addPixmap(badge(size));
    return icon;
}

void useProgramIcon()
{
    static bool used = false;
    if (!std::exchange(used, true))
        QGuiApplication::setWindowIcon(programIcon());
}

QPixmap smallLogo()
{
    QPixmap pix = canvas(144, 34);
    QPainter p(&pix);
    prepare(p);
    paintBanner(p, QRectF(0, 0, 144, 34), 6);
    return pix;
}

QPixmap banner(const QSize& size)
{
    QPixmap pix = canvas(size.width(), size.height());
    QPainter p(&pix);
    prepare(p);
    paintBanner(p, QRectF(QPointF(0, 0), size), 0);
    p.fillRect(QRectF(0, size.height() - 1, size.width(), 1), kAccent);
    return pix;
}

QPixmap panelLogo()
{
    const QRectF whole(0, 0, 369, 160);
    constexpr qreal bandHeight = 48;
    QPixmap pix = canvas(369, 160);
    QPainter p(&pix);
    prepare(p);

    QLinearGradient surface(0, bandHeight, 0, whole.bottom());
    surface.setColorAt(0, kSurfaceTop);
    surface.setColorAt(1, kSurfaceBottom);
    p.fillRect(whole, surface);

    const QRectF band(0, 0, whole.width(), bandHeight);
    paintBanner(p, band, 0);
    const QString tagline = QStringLiteral("Password Keeper");
    const QRectF taglineBox = band.adjusted(230, 0, -14, 0);
    p.setFont(fittedFont(tagline, taglineBox.size(), 13, p.device(), QFont::Normal));
    p.setPen(kMist);
    drawCentredLine(p, taglineBox, tagline, Qt::AlignRight);

    p.fillRect(QRectF(0, bandHeight, whole.width(), 1), kMist);
    p.setPen(QPen(kDeep, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(whole.adjusted(0.5, 0.5, -0.5, -0.5));
    return pix;
}

QPixmap coverLogo()
{
    QPixmap pix = canvas(100, 100);
    QPainter p(&pix);
    prepare(p);
    const QRectF disc(4, 4, 92, 92);
    paintGround(p, disc, disc.width() / 2);
    p.setPen(QPen(kMist, 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(disc.adjusted(4, 4, -4, -4));
    paintMotif(p, disc.adjusted(20, 20, -20, -20), kLight, kAccent);
    return pix;
}

QPixmap passwordPrompt()
{
    const QString ask = QStringLiteral("Type Your Password");
    const QString limit = QStringLiteral("  (96 Characters Max.)");
    const QRectF box(4, 0, 312, 26);
    QPixmap pix = canvas(320, 26);
    QPainter p(&pix);
    prepare(p);

    QFont bold = fittedFont(ask + limit, box.size(), 16, p.device());
    QFont plain = bold;
    plain.setWeight(QFont::Normal);
    p.setPen(kDeep);
    p.setFont(bold);
    drawCentredLine(p, box, ask, Qt::AlignLeft);
    const qreal askWidth = QFontMetricsF(bold, p.device()).horizontalAdvance(ask);
    p.setFont(plain);
    drawCentredLine(p, box.adjusted(askWidth, 0, 0, 0), limit, Qt::AlignLeft);
    return pix;
}

QPixmap rowPicture()
{
    // Drawn pixel by pixel so that it stays sharp at its tiny size; '+' softens the ring's corners.
    static const char* const kGlyph[] = {
        " +###+       ", //
        "+#####+      ", //
        "##   ##      ", //
        "##   ########", //
        "##   ##   # #", //
        "+#####+   # #", //
        " +###+      #", //
    };
    QPixmap pix = canvas(13, 13);
    QPainter p(&pix);
    QColor soft = kDeep;
    soft.setAlphaF(0.35f);
    for (int y = 0; y < int(std::size(kGlyph)); ++y) {
        for (int x = 0; x < 13; ++x) {
            if (kGlyph[y][x] != ' ')
                p.fillRect(QRect(x, y + 3, 1, 1), kGlyph[y][x] == '#' ? kDeep : soft);
        }
    }
    return pix;
}

} // namespace Artwork
