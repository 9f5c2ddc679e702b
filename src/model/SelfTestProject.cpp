#include "model/SelfTestProject.h"

#include <QPainter>

#include <cmath>
#include <numbers>

QImage makeSelfTestFrame(int i)
{
    constexpr int W = 320;
    constexpr int H = 200;
    QImage image(W, H, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // The drawing is specified with the origin at the bottom-left: flip once.
    p.translate(0, H);
    p.scale(1, -1);
    p.fillRect(QRectF(0, 0, W, H), QColor::fromRgbF(0.09f, 0.1f, 0.09f));

    const double t = i / 30.0;
    const double ballX = t * 240 + 20;
    const double ballY = std::sin(t * 2 * std::numbers::pi) * 50 + 70;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgbF(0.78f, 1.0f, 0.0f));
    p.drawEllipse(QRectF(ballX, ballY, 60, 60));

    p.fillRect(QRectF(0, t * 194, W, 4), QColor::fromRgbF(1, 1, 1, 0.9f));
    p.end();
    return image;
}

GifProjectRef makeSelfTestProject()
{
    GifFrameList frames;
    for (int i = 0; i < 30; ++i)
        frames.push_back(std::make_shared<GifFrame>(makeSelfTestFrame(i), 60));
    return std::make_shared<GifProject>(std::move(frames), 15, 0);
}
