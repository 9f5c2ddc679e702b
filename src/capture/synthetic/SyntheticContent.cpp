#include "capture/synthetic/SyntheticContent.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

namespace {

const char *const TYPED_TEXT = "void Recorder::keep(const Frame &frame)\n"
                               "{\n"
                               "    // Every frame goes to disk once; the editor reads it back.\n"
                               "    if (frame.isIdle())\n"
                               "        return;\n"
                               "    m_frames.push_back(m_store->append(frame.image(), frame.time()));\n"
                               "    emit counted(m_frames.size());\n"
                               "}\n"
                               "\n";

const char *const WORDS[] = {"screen", "frames", "palette", "delay", "colour", "export", "region", "record", "editor",
    "pixels", "window", "quality", "loop", "crop", "resize", "the", "and", "of", "with", "each"};

// Layout in points of a 1920 x 1080 screen; m_scale turns them into pixels.
constexpr double BASE_H = 1080;
constexpr double TYPING_LEFT = 96;
constexpr double TYPING_TOP = 80;
constexpr double TYPING_LINE = 28;
constexpr double STATUS_H = 36;
constexpr double TOOLBAR_H = 64;

// A glyph every third frame, the caret blinking every half second at 60 fps.
constexpr int FRAMES_PER_GLYPH = 3;
constexpr int CARET_PERIOD = 30;

QFont font(const char *family, double pixels, bool bold = false)
{
    QFont f(QString::fromLatin1(family));
    f.setPixelSize(std::max(1, int(std::lround(pixels))));
    f.setBold(bold);
    return f;
}

// xorshift32: the same page on every machine.
uint32_t nextRandom(uint32_t &state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

} // namespace

std::optional<SyntheticContent::Kind> SyntheticContent::kindFromName(const QString &name)
{
    if (name == QLatin1String("ball"))
        return Kind::ball;
    if (name == QLatin1String("typing"))
        return Kind::typing;
    if (name == QLatin1String("scrolling"))
        return Kind::scrolling;
    return std::nullopt;
}

SyntheticContent::Kind SyntheticContent::kindFromEnvironment()
{
    return kindFromName(qEnvironmentVariable("QUILLO_SYNTHETIC_CONTENT")).value_or(Kind::ball);
}

SyntheticContent::SyntheticContent(Kind kind, QSize size)
    : m_kind(kind)
    , m_size(size)
    , m_scale(std::max(0.05, size.height() / BASE_H))
{
    if (kind == Kind::typing)
        startTypingPage();
    else if (kind == Kind::scrolling)
        paintScrollingPage();
}

QImage SyntheticContent::frame(int64_t index)
{
    switch (m_kind) {
    case Kind::typing:
        return typingFrame(index);
    case Kind::scrolling:
        return scrollingFrame(index);
    case Kind::ball:
        break;
    }
    return ballFrame(index);
}

QImage SyntheticContent::ballFrame(int64_t index) const
{
    const int width = m_size.width(), height = m_size.height();
    QImage image(m_size, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(23, 26, 23));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(199, 255, 0));
    const double d = std::max(8.0, std::min(width, height) / 4.0);
    const double phase = double(index % 60) / 60.0;
    const double x = phase * (width - d);
    const double y = (height - d) / 2.0 * (1.0 + std::sin(phase * 2.0 * M_PI) * 0.8);
    painter.drawEllipse(QRectF(x, y, d, d));
    return image;
}

// ---- typing

void SyntheticContent::startTypingPage()
{
    m_page = QImage(m_size, QImage::Format_ARGB32_Premultiplied);
    m_page.fill(QColor(0x1e, 0x1f, 0x22));
    QPainter p(&m_page);
    p.scale(m_scale, m_scale);
    const double width = m_size.width() / m_scale, height = m_size.height() / m_scale;
    p.fillRect(QRectF(0, 0, width, 44), QColor(0x2b, 0x2d, 0x31));
    p.setPen(QColor(0xc8, 0xc8, 0xc8));
    p.setFont(font("DejaVu Sans", 16));
    p.drawText(QRectF(0, 0, width, 44), Qt::AlignCenter, QStringLiteral("Recorder.cpp — Notes"));
    p.fillRect(QRectF(0, 44, 72, height - 44 - STATUS_H), QColor(0x26, 0x27, 0x2b));
    p.setPen(QColor(0x6e, 0x70, 0x76));
    p.setFont(font("DejaVu Sans Mono", 18));
    for (int line = 0; TYPING_TOP + line * TYPING_LINE < height - STATUS_H - 8; ++line)
        p.drawText(QPointF(12, TYPING_TOP + line * TYPING_LINE), QString::number(line + 1).rightJustified(3));
    p.fillRect(QRectF(0, height - STATUS_H, width, STATUS_H), QColor(0x2f, 0x5f, 0xa8));
    m_row = 0;
    m_column = 0;
}

QImage SyntheticContent::typingFrame(int64_t index)
{
    const QFont mono = font("DejaVu Sans Mono", 18);
    const double advance = QFontMetricsF(mono).horizontalAdvance(QLatin1Char('M'));
    const double width = m_size.width() / m_scale, height = m_size.height() / m_scale;
    const int columns = std::max(1, int((width - TYPING_LEFT - 24) / advance));
    const int rows = std::max(1, int((height - TYPING_TOP - STATUS_H) / TYPING_LINE));
    const int64_t textLength = int64_t(std::strlen(TYPED_TEXT));

    for (; m_typed < index / FRAMES_PER_GLYPH; ++m_typed) {
        const char c = TYPED_TEXT[m_typed % textLength];
        if (c == '\n' || m_column >= columns) {
            m_column = 0;
            if (++m_row >= rows)
                startTypingPage();
            if (c == '\n')
                continue;
        }
        QPainter p(&m_page);
        p.setRenderHint(QPainter::TextAntialiasing);
        p.scale(m_scale, m_scale);
        p.setFont(mono);
        // Comments in green: a "//" earlier on the same line of the text.
        const std::string_view text(TYPED_TEXT, size_t(textLength));
        const size_t at = size_t(m_typed % textLength);
        const size_t lineStart = at == 0 ? 0 : text.rfind('\n', at - 1) + 1;
        const bool comment = text.substr(lineStart, at - lineStart + 1).find("//") != std::string_view::npos;
        p.setPen(comment ? QColor(0x9c, 0xd6, 0x8a) : QColor(0xe6, 0xe6, 0xe6));
        p.drawText(
            QPointF(TYPING_LEFT + m_column * advance, TYPING_TOP + m_row * TYPING_LINE), QString(QLatin1Char(c)));
        ++m_column;
    }

    QImage image = m_page.copy();
    QPainter p(&image);
    p.scale(m_scale, m_scale);
    if (index % CARET_PERIOD < CARET_PERIOD / 2)
        p.fillRect(QRectF(TYPING_LEFT + m_column * advance, TYPING_TOP + m_row * TYPING_LINE - 20, 2, 24),
            QColor(0xf0, 0xf0, 0xf0));
    p.setPen(Qt::white);
    p.setFont(font("DejaVu Sans", 15));
    p.drawText(QRectF(16, height - STATUS_H, 600, STATUS_H), Qt::AlignVCenter,
        QStringLiteral("Ln %1, Col %2    UTF-8    C++").arg(m_row + 1).arg(m_column + 1));
    return image;
}

// ---- scrolling

void SyntheticContent::paintScrollingPage()
{
    const int screen = m_size.height();
    m_period = screen * 3;
    m_scrollPage = QImage(m_size.width(), m_period + screen, QImage::Format_ARGB32_Premultiplied);
    m_scrollPage.fill(QColor(0xfb, 0xfb, 0xf8));
    {
        QPainter p(&m_scrollPage);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(m_scale, m_scale);
        const double width = m_size.width() / m_scale;
        // Nothing is drawn across the end of the period, where the page
        // starts again.
        const double end = m_period / m_scale - 60;
        uint32_t random = 7;
        double y = TOOLBAR_H + 24;
        int section = 0;
        while (y < end - 120) {
            p.setPen(QColor(0x1a, 0x1a, 0x2e));
            p.setFont(font("DejaVu Sans", 30, true));
            p.drawText(QPointF(120, y + 30), QStringLiteral("Section %1: notes on recording").arg(++section));
            y += 60;
            p.setFont(font("DejaVu Sans", 18));
            p.setPen(QColor(0x33, 0x33, 0x33));
            const int lines = 4 + int(nextRandom(random) % 6);
            for (int line = 0; line < lines && y < end - 40; ++line) {
                QString text;
                while (text.size() < 120)
                    text += QString::fromLatin1(WORDS[nextRandom(random) % std::size(WORDS)]) + QLatin1Char(' ');
                p.drawText(QPointF(120, y + 20), text);
                y += 30;
            }
            y += 16;
            if (y < end - 220 && section % 2 == 0) {
                // A chart: bars in colour on a light box.
                p.fillRect(QRectF(120, y, width - 240, 180), QColor(0xee, 0xf0, 0xf4));
                for (int bar = 0; bar < 24; ++bar) {
                    const double h = 20 + double(nextRandom(random) % 140);
                    p.fillRect(
                        QRectF(140 + bar * 60, y + 170 - h, 40, h), QColor::fromHsv(int(bar * 15 % 360), 160, 200));
                }
                y += 200;
            }
        }
    }
    for (int row = 0; row < screen; ++row)
        std::memcpy(m_scrollPage.scanLine(m_period + row), m_scrollPage.constScanLine(row),
            size_t(m_scrollPage.bytesPerLine()));
}

QImage SyntheticContent::scrollingFrame(int64_t index)
{
    // Eight points a frame, as a wheel turned steadily scrolls.
    const int step = std::max(1, int(std::lround(8 * m_scale)));
    const int offset = int((index * step) % std::max(1, m_period));
    QImage image = m_scrollPage.copy(0, offset, m_size.width(), m_size.height());
    QPainter p(&image);
    p.scale(m_scale, m_scale);
    const double width = m_size.width() / m_scale;
    p.fillRect(QRectF(0, 0, width, TOOLBAR_H), QColor(0xe8, 0xe9, 0xec));
    p.fillRect(QRectF(160, 14, width - 320, TOOLBAR_H - 28), Qt::white);
    p.setPen(QColor(0x55, 0x55, 0x55));
    p.setFont(font("DejaVu Sans", 16));
    p.drawText(
        QRectF(176, 14, width - 352, TOOLBAR_H - 28), Qt::AlignVCenter, QStringLiteral("file:///notes/recording.html"));
    return image;
}
