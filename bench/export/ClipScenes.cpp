#include "ClipScenes.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <memory>

namespace ClipScenes {

namespace {

constexpr double BASE_W = 640;
constexpr double BASE_H = 420;

// xorshift32: the same numbers on every machine, unlike the standard
// distributions.
class Random {
public:
    explicit Random(uint32_t seed)
        : m_state(seed ? seed : 1)
    {
    }
    uint32_t next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return m_state;
    }
    // lo to hi, both included.
    int between(int lo, int hi) { return lo + int(next() % uint32_t(hi - lo + 1)); }

private:
    uint32_t m_state;
};

std::vector<int> delays(uint32_t seed, int lo, int hi)
{
    Random random(seed);
    std::vector<int> out(FRAMES);
    for (int &d : out)
        d = random.between(lo, hi);
    return out;
}

QFont monoFont(double pixelSize)
{
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(std::max(1, int(std::lround(pixelSize))));
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

QFont sansFont(double pixelSize, bool bold = false)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(std::max(1, int(std::lround(pixelSize))));
    font.setBold(bold);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

QImage blank(QSize size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    return image;
}

// ---- typing -----------------------------------------------------------------

const char *const TYPED_TEXT = "int main(int argc, char **argv)\n"
                               "{\n"
                               "    QApplication app(argc, argv);\n"
                               "    auto window = makeWindow(tr(\"Notes\"));\n"
                               "    window->resize(800, 600);\n"
                               "    window->show();\n"
                               "    // Everything else happens in the event loop.\n"
                               "    return app.exec();\n"
                               "}\n"
                               "// Total frames: 300, delays vary with typing speed.\n";

// The window, the sidebar and everything that never changes.
QImage typingBackground(QSize size)
{
    QImage image = blank(size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size.width() / BASE_W, size.height() / BASE_H);
    p.fillRect(QRectF(0, 0, BASE_W, BASE_H), QColor(0x2e, 0x5e, 0x6e));
    // Window with a drop shadow, title bar and menu row.
    p.fillRect(QRectF(24, 24, 600, 384), QColor(0, 0, 0, 70));
    p.fillRect(QRectF(18, 18, 600, 384), QColor(0xf4, 0xf4, 0xf2));
    QLinearGradient title(0, 18, 0, 44);
    title.setColorAt(0, QColor(0xe6, 0xe6, 0xe4));
    title.setColorAt(1, QColor(0xcf, 0xcf, 0xcc));
    p.fillRect(QRectF(18, 18, 600, 26), title);
    p.setBrush(QColor(0xe0, 0x5f, 0x57));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(32, 31), 6, 6);
    p.setBrush(QColor(0xf5, 0xbf, 0x4f));
    p.drawEllipse(QPointF(50, 31), 6, 6);
    p.setBrush(QColor(0x5f, 0xc4, 0x54));
    p.drawEllipse(QPointF(68, 31), 6, 6);
    p.setPen(QColor(0x40, 0x40, 0x40));
    p.setFont(sansFont(12, true));
    p.drawText(QRectF(18, 18, 600, 26), Qt::AlignCenter, QStringLiteral("main.cpp — Notes"));
    p.setFont(sansFont(11));
    int x = 28;
    for (const char *item : {"File", "Edit", "View", "Build", "Help"}) {
        p.drawText(QPointF(x, 60), QString::fromLatin1(item));
        x += 52;
    }
    // Sidebar of files with coloured icons.
    p.fillRect(QRectF(18, 68, 130, 314), QColor(0xe8, 0xea, 0xee));
    const QColor icons[] = {QColor(0x4a, 0x90, 0xd9), QColor(0xd9, 0x7a, 0x4a), QColor(0x6a, 0xb0, 0x4c),
        QColor(0x9b, 0x59, 0xb6), QColor(0xe6, 0xc2, 0x29)};
    const char *files[]
        = {"main.cpp", "window.cpp", "window.h", "notes.qrc", "CMakeLists.txt", "README.md", "LICENSE", "tests.cpp"};
    for (int i = 0; i < 8; ++i) {
        p.setPen(Qt::NoPen);
        p.setBrush(icons[i % 5]);
        p.drawRoundedRect(QRectF(28, 80 + i * 24, 12, 14), 2, 2);
        p.setPen(QColor(0x30, 0x30, 0x30));
        p.drawText(QPointF(46, 92 + i * 24), QString::fromLatin1(files[i]));
    }
    // Editor area with line numbers, status bar.
    p.fillRect(QRectF(150, 68, 466, 290), Qt::white);
    p.setFont(monoFont(12));
    p.setPen(QColor(0xa0, 0xa0, 0xa0));
    for (int line = 0; line < 16; ++line)
        p.drawText(QPointF(156, 86 + line * 17), QString::number(line + 1).rightJustified(2));
    p.fillRect(QRectF(18, 382, 600, 20), QColor(0x3b, 0x6e, 0xa8));
    return image;
}

QImage typingFrame(const QImage &background, int index)
{
    QImage image = background.copy();
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(image.width() / BASE_W, image.height() / BASE_H);
    p.setFont(monoFont(12));
    // One more character per frame; a pause now and then only moves the caret
    // and the clock, so no two frames are alike.
    const QString text = QString::fromLatin1(TYPED_TEXT);
    const int typed = std::min(int(text.size()), index - index / 7);
    const QStringList lines = text.left(typed).split(QLatin1Char('\n'));
    const double charW = 7.23; // DejaVu Sans Mono at 12 px
    for (int i = 0; i < lines.size(); ++i) {
        const QString &line = lines[i];
        // Keywords in blue, comments in green, the rest dark.
        const QColor colour = line.trimmed().startsWith(QLatin1String("//")) ? QColor(0x3a, 0x8a, 0x3a)
            : line.startsWith(QLatin1String("int")) || line.contains(QLatin1String("return"))
            ? QColor(0x1d, 0x4f, 0xb0)
            : QColor(0x22, 0x22, 0x22);
        p.setPen(colour);
        p.drawText(QPointF(182, 86 + i * 17), line);
    }
    const int row = int(lines.size()) - 1;
    const int column = int(lines.back().size());
    // The caret blinks with a period of 8 frames.
    if (index % 8 < 5)
        p.fillRect(QRectF(182 + column * charW, 75 + row * 17, 1.5, 14), QColor(0x10, 0x10, 0x10));
    p.setPen(Qt::white);
    p.setFont(sansFont(11));
    p.drawText(QRectF(30, 382, 400, 20), Qt::AlignVCenter,
        QStringLiteral("Ln %1, Col %2    UTF-8    C++").arg(row + 1).arg(column + 1));
    p.drawText(QRectF(460, 382, 150, 20), Qt::AlignVCenter | Qt::AlignRight,
        QStringLiteral("frame %1").arg(index, 3, 10, QLatin1Char('0')));
    return image;
}

// ---- scrolling --------------------------------------------------------------

constexpr double TOOLBAR_H = 40;

// A long page: headings, paragraphs, boxes, charts and a photo-like gradient,
// tall enough for the whole scroll.
QImage scrollingPage(QSize size, double pageHeight)
{
    const double s = size.width() / BASE_W;
    QImage page(QSize(size.width(), int(std::ceil(pageHeight * s))), QImage::Format_ARGB32_Premultiplied);
    page.fill(QColor(0xfb, 0xfb, 0xf8));
    QPainter p(&page);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(s, s);
    Random random(7);
    const char *words[] = {"screen", "frames", "palette", "delay", "colour", "export", "region", "record", "editor",
        "pixels", "window", "quality", "loop", "crop", "resize", "the", "and", "of", "with", "each"};
    double y = 20;
    int section = 0;
    while (y < pageHeight - 40) {
        p.setPen(QColor(0x1a, 0x1a, 0x2e));
        p.setFont(sansFont(20, true));
        p.drawText(QPointF(40, y + 20), QStringLiteral("Section %1: notes on recording").arg(++section));
        y += 34;
        p.setFont(sansFont(12));
        p.setPen(QColor(0x33, 0x33, 0x33));
        const int paragraphLines = random.between(4, 8);
        for (int l = 0; l < paragraphLines; ++l) {
            QString line;
            while (line.size() < 80)
                line += QString::fromLatin1(words[random.next() % 20]) + QLatin1Char(' ');
            p.drawText(QPointF(40, y + 14), line);
            y += 18;
        }
        y += 10;
        switch (section % 3) {
        case 0: { // a bar chart
            p.setPen(QColor(0x88, 0x88, 0x88));
            p.drawLine(QPointF(60, y + 110), QPointF(560, y + 110));
            for (int b = 0; b < 10; ++b) {
                const double h = random.between(20, 100);
                p.fillRect(QRectF(70 + b * 48, y + 110 - h, 32, h), QColor::fromHsv((b * 36) % 360, 150, 210));
            }
            y += 130;
            break;
        }
        case 1: { // cards with circles
            for (int c = 0; c < 3; ++c) {
                const QRectF card(40 + c * 190, y, 170, 90);
                p.setPen(QColor(0xcc, 0xcc, 0xcc));
                p.setBrush(Qt::white);
                p.drawRoundedRect(card, 8, 8);
                p.setPen(Qt::NoPen);
                p.setBrush(QColor::fromHsv((section * 40 + c * 90) % 360, 180, 230));
                p.drawEllipse(card.topLeft() + QPointF(30, 45), 18, 18);
                p.setPen(QColor(0x44, 0x44, 0x44));
                p.drawText(card.adjusted(60, 30, -8, -30), Qt::AlignLeft | Qt::AlignVCenter,
                    QStringLiteral("Item %1").arg(section * 3 + c));
            }
            y += 110;
            break;
        }
        default: { // a photo-like gradient with a shape on it
            QLinearGradient sky(0, y, 0, y + 120);
            sky.setColorAt(0, QColor::fromHsv((section * 25) % 360, 120, 240));
            sky.setColorAt(1, QColor::fromHsv((section * 25 + 60) % 360, 200, 120));
            p.fillRect(QRectF(40, y, 560, 120), sky);
            QPainterPath hill;
            hill.moveTo(40, y + 120);
            hill.cubicTo(200, y + 40, 380, y + 110, 600, y + 60);
            hill.lineTo(600, y + 120);
            hill.closeSubpath();
            p.fillPath(hill, QColor(0x2f, 0x5d, 0x2f));
            y += 140;
            break;
        }
        }
    }
    return page;
}

QImage scrollingFrame(const QImage &page, int index, QSize size)
{
    const double s = size.width() / BASE_W;
    QImage image = blank(size);
    QPainter p(&image);
    // The page moves up by 3 to 5 points a frame (a little uneven, as wheel
    // scrolling is): its offset is the sum of the steps so far.
    Random random(11);
    double offset = 0;
    for (int i = 0; i < index; ++i)
        offset += 3 + random.next() % 3;
    const int top = int(std::lround(offset * s));
    const int toolbar = int(std::lround(TOOLBAR_H * s));
    p.drawImage(QPoint(0, toolbar), page, QRect(0, top, size.width(), size.height() - toolbar));
    // The toolbar stays where it is; only the scroll position text changes.
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(s, s);
    p.fillRect(QRectF(0, 0, BASE_W, TOOLBAR_H), QColor(0xee, 0xee, 0xf2));
    p.setPen(QColor(0xbb, 0xbb, 0xc4));
    p.drawLine(QPointF(0, TOOLBAR_H - 0.5), QPointF(BASE_W, TOOLBAR_H - 0.5));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(90, 8, 420, 24), 12, 12);
    p.setPen(QColor(0x55, 0x55, 0x55));
    p.setFont(sansFont(12));
    p.drawText(QRectF(104, 8, 300, 24), Qt::AlignVCenter, QStringLiteral("https://example.org/notes"));
    p.drawText(
        QRectF(520, 8, 100, 24), Qt::AlignVCenter | Qt::AlignRight, QStringLiteral("%1%").arg(int(offset / 14.0)));
    // Scroll bar thumb.
    p.fillRect(QRectF(BASE_W - 8, TOOLBAR_H + offset * (BASE_H - TOOLBAR_H) / 1600.0, 6, 40), QColor(0x99, 0x99, 0x99));
    return image;
}

// ---- video ------------------------------------------------------------------

// The player window around the picture; the picture takes about half of it.
const QRectF VIDEO_AREA(80, 50, 480, 270);

QImage playerBackground(QSize size)
{
    QImage image = blank(size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size.width() / BASE_W, size.height() / BASE_H);
    p.fillRect(QRectF(0, 0, BASE_W, BASE_H), QColor(0x1e, 0x1f, 0x24));
    p.setPen(QColor(0xdd, 0xdd, 0xdd));
    p.setFont(sansFont(13, true));
    p.drawText(QRectF(80, 14, 480, 28), Qt::AlignVCenter, QStringLiteral("holiday-clip.mp4"));
    p.fillRect(QRectF(80, 340, 480, 6), QColor(0x44, 0x46, 0x4f));
    p.setBrush(QColor(0xee, 0xee, 0xee));
    p.setPen(Qt::NoPen);
    QPainterPath play;
    play.moveTo(84, 362);
    play.lineTo(98, 370);
    play.lineTo(84, 378);
    play.closeSubpath();
    p.drawPath(play);
    return image;
}

QImage videoFrame(const QImage &background, int index)
{
    QImage image = background.copy();
    const QSize size = image.size();
    const double s = size.width() / BASE_W;
    const QRect area(int(std::lround(VIDEO_AREA.x() * s)), int(std::lround(VIDEO_AREA.y() * s)),
        int(std::lround(VIDEO_AREA.width() * s)), int(std::lround(VIDEO_AREA.height() * s)));
    const double t = index / 25.0;
    // Two soft blobs drift over a field whose hue turns slowly. Every term is
    // a product of a column and a row factor, computed once per frame.
    const double bx1 = 240 + 150 * std::sin(t * 0.9), by1 = 135 + 80 * std::cos(t * 0.7);
    const double bx2 = 240 + 160 * std::cos(t * 0.5 + 1), by2 = 135 + 90 * std::sin(t * 1.1);
    const auto w = size_t(area.width());
    std::vector<double> red(w), blob1x(w), blob2x(w), sinX(w), cosX(w);
    for (size_t x = 0; x < w; ++x) {
        const double px = double(x) / s;
        red[x] = 110 + 70 * std::sin(px / 90.0 + t);
        blob1x[x] = std::exp(-(px - bx1) * (px - bx1) / 6000.0);
        blob2x[x] = std::exp(-(px - bx2) * (px - bx2) / 8000.0);
        sinX[x] = std::sin(px / 120.0 + t * 0.5);
        cosX[x] = std::cos(px / 120.0 + t * 0.5);
    }
    Random random(uint32_t(1000 + index));
    for (int y = 0; y < area.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(area.y() + y)) + area.x();
        const double py = y / s;
        const double green = 100 + 60 * std::sin(py / 70.0 - t * 0.8);
        const double blob1y = 90 * std::exp(-(py - by1) * (py - by1) / 6000.0);
        const double blob2y = 70 * std::exp(-(py - by2) * (py - by2) / 8000.0);
        const double sinY = std::sin(py / 120.0), cosY = std::cos(py / 120.0);
        for (size_t x = 0; x < w; ++x) {
            const double glow = blob1x[x] * blob1y + blob2x[x] * blob2y;
            // Sensor-like noise, fresh every frame.
            const int n = int(random.next() % 13) - 6;
            const double r = red[x] + glow + n;
            const double g = green + glow * 0.6 + n;
            const double b = 140 + 80 * (sinX[x] * cosY + cosX[x] * sinY) + glow * 0.3 + n;
            line[x] = qRgb(std::clamp(int(r), 0, 255), std::clamp(int(g), 0, 255), std::clamp(int(b), 0, 255));
        }
    }
    // The progress bar grows and the time counts up.
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(s, s);
    p.fillRect(QRectF(80, 340, 480.0 * (index + 1) / FRAMES, 6), QColor(0xe0, 0x4a, 0x3a));
    p.setPen(QColor(0xcc, 0xcc, 0xcc));
    p.setFont(sansFont(12));
    p.drawText(QRectF(110, 360, 200, 20), Qt::AlignVCenter,
        QStringLiteral("0:%1.%2 / 0:12")
            .arg(index / 25, 2, 10, QLatin1Char('0'))
            .arg(index % 25 * 4, 2, 10, QLatin1Char('0')));
    return image;
}

} // namespace

QStringList names()
{
    return {QStringLiteral("typing"), QStringLiteral("scrolling"), QStringLiteral("video")};
}

std::optional<Clip> make(const QString &name, QSize size)
{
    Clip clip;
    if (name == QLatin1String("typing")) {
        // Keystrokes: 40 to 250 ms apart, recorded at 15 fps.
        clip.fps = 15;
        clip.delaysMs = delays(3, 40, 250);
        auto background = std::make_shared<QImage>(typingBackground(size));
        clip.frame = [background](int index) { return typingFrame(*background, index); };
    } else if (name == QLatin1String("scrolling")) {
        // Scrolled at 30 fps with the odd late frame.
        clip.fps = 30;
        clip.delaysMs = delays(5, 25, 50);
        auto page = std::make_shared<QImage>(scrollingPage(size, FRAMES * 5 + BASE_H + 60));
        clip.frame = [page, size](int index) { return scrollingFrame(*page, index, size); };
    } else if (name == QLatin1String("video")) {
        clip.fps = 25;
        clip.delaysMs = delays(9, 30, 50);
        auto background = std::make_shared<QImage>(playerBackground(size));
        clip.frame = [background](int index) { return videoFrame(*background, index); };
    } else {
        return std::nullopt;
    }
    return clip;
}

} // namespace ClipScenes
