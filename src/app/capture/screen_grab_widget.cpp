#include "app/capture/screen_grab_widget.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QScreen>

HDIB DibFromQImage(const QImage& source) {
    if (source.isNull())
        return nullptr;
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    CDibImage dib;
    if (!dib.Create(image.width(), image.height(), 24))
        return nullptr;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb* src = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        std::uint8_t* dst = dib.TopRow(y);
        for (int x = 0; x < image.width(); ++x, dst += 3) {
            dst[0] = std::uint8_t(qBlue(src[x]));
            dst[1] = std::uint8_t(qGreen(src[x]));
            dst[2] = std::uint8_t(qRed(src[x]));
        }
    }
    return std::move(dib.m_hDib);
}

bool CanReadScreen() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

bool CaptureScreenRect(CDibImage& image, const QRect& rect) {
    if (!CanReadScreen() || rect.isEmpty())
        return false;
    QImage picture(rect.size(), QImage::Format_RGB32);
    picture.fill(Qt::black);
    bool bAny = false;
    {
        QPainter painter(&picture);
        // Each screen's part of the rectangle, in that screen's own coordinates.
        for (QScreen* screen : QGuiApplication::screens()) {
            const QRect part = rect.intersected(screen->geometry());
            if (part.isEmpty())
                continue;
            const QPoint origin = part.topLeft() - screen->geometry().topLeft();
            QPixmap pixels =
                screen->grabWindow(0, origin.x(), origin.y(), part.width(), part.height());
            if (pixels.isNull())
                continue;
            // Device pixels on scaled screens: brought back to the rectangle's size.
            pixels.setDevicePixelRatio(1.0);
            painter.drawPixmap(QRect(part.topLeft() - rect.topLeft(), part.size()), pixels);
            bAny = true;
        }
    }
    if (!bAny)
        return false;
    HDIB block = DibFromQImage(picture);
    if (!block)
        return false;
    return image.Attach(std::move(block)).Ok();
}
