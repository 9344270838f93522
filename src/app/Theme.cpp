#include "app/Theme.h"

#ifndef _WIN32
#include <fontconfig/fontconfig.h>
#endif

#include <functional>
#include <future>

#include <QApplication>
#include <QIconEngine>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QWidget>

namespace ktv {

namespace {
const QColor Navy(16, 32, 96);
const QColor SkyBlue(135, 206, 235);
std::future<void> fontsLoaded; // WarmUpFonts' load

// An icon that asks for the real one the first time it is drawn or sized.
class LazyIconEngine : public QIconEngine {
public:
    explicit LazyIconEngine(std::function<QIcon()> make) : make_(std::move(make)) {}
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        Icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return Icon().pixmap(size, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return Icon().actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return Icon().availableSizes(mode, state);
    }
    QIconEngine* clone() const override { return new LazyIconEngine(*this); }

private:
    const QIcon& Icon()
    {
        if (!made_) {
            icon_ = make_();
            made_ = true;
        }
        return icon_;
    }
    std::function<QIcon()> make_;
    QIcon icon_;
    bool made_ = false;
};

// Fusion, whose standard icons come from the icon theme, which is slow to
// search: they are looked up once drawn. The menu bar asks for one as it is
// made, for a button that shows only when the menus do not fit.
class LazyIconStyle : public QProxyStyle {
public:
    LazyIconStyle() : QProxyStyle(QStyleFactory::create("Fusion")) {}

    QIcon standardIcon(StandardPixmap icon, const QStyleOption* option, const QWidget* widget) const override
    {
        if (option) // lives only as long as this call
            return QProxyStyle::standardIcon(icon, option, widget);
        return QIcon(new LazyIconEngine([style = QPointer<const QStyle>(baseStyle()), icon,
                                         widget = QPointer<const QWidget>(widget)] {
            return style ? style->standardIcon(icon, nullptr, widget) : QIcon();
        }));
    }
};
} // namespace

void ApplyTheme(QApplication& app)
{
    app.setStyle(new LazyIconStyle);
    QPalette p;
    p.setColor(QPalette::Window, Navy);
    p.setColor(QPalette::WindowText, Qt::white);
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::AlternateBase, QColor(232, 238, 250));
    p.setColor(QPalette::Text, Qt::black);
    p.setColor(QPalette::PlaceholderText, Qt::darkGray);
    p.setColor(QPalette::Button, QColor(44, 66, 140));
    p.setColor(QPalette::ButtonText, Qt::white);
    p.setColor(QPalette::Highlight, QColor(40, 120, 210));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::ToolTipBase, QColor(255, 255, 220));
    p.setColor(QPalette::ToolTipText, Qt::black);
    p.setColor(QPalette::Light, QColor(70, 90, 160));
    p.setColor(QPalette::Midlight, QColor(50, 70, 140));
    p.setColor(QPalette::Mid, QColor(30, 45, 110));
    p.setColor(QPalette::Dark, QColor(8, 16, 50));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(160, 170, 200));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, Qt::gray);
    p.setColor(QPalette::Disabled, QPalette::Text, Qt::gray);
    app.setPalette(p);

#ifdef Q_OS_WIN
    // Windows' own interface fonts; Microsoft YaHei brings the Chinese
    // texts on every Windows since Vista. WenQuanYi is what a Wine prefix
    // set up for the tests holds instead.
    QFont font;
    font.setFamilies({"Segoe UI", "Microsoft YaHei UI", "Microsoft YaHei", "WenQuanYi Micro Hei"});
#else
    QFont font("DejaVu Sans");
#endif
    font.setPixelSize(13);
    app.setFont(font);
    // Two loads at once would each read the whole configuration.
    if (fontsLoaded.valid())
        fontsLoaded.wait();
}

void PaintSkyBlue(QWidget* page)
{
    QPalette p = page->palette();
    p.setColor(QPalette::Window, SkyBlue);
    p.setColor(QPalette::WindowText, QColor(10, 20, 60));
    p.setColor(QPalette::Light, QColor(190, 230, 245));
    p.setColor(QPalette::Midlight, QColor(160, 215, 238));
    p.setColor(QPalette::Mid, QColor(90, 150, 180));
    p.setColor(QPalette::Dark, QColor(50, 100, 130));
    page->setPalette(p);
    page->setAutoFillBackground(true);
}

QPixmap ConnectGlyph(int index)
{
    // A plug: grey and apart from its socket when not connected, green and
    // plugged in when connected.
    QPixmap pm(18, 18);
    pm.fill(Qt::transparent);
    QPainter g(&pm);
    g.setRenderHint(QPainter::Antialiasing);
    const bool connected = index == 1;
    const QColor body = connected ? QColor(30, 170, 60) : QColor(120, 120, 130);
    g.setPen(QPen(body.darker(150), 1));
    g.setBrush(body);
    const int gap = connected ? 0 : 3;
    g.drawRoundedRect(QRectF(1, 5, 7 - gap, 8), 2, 2); // plug body
    g.drawRect(QRectF(8 - gap, 6.5, 3, 1.5));          // pins
    g.drawRect(QRectF(8 - gap, 10, 3, 1.5));
    g.setBrush(connected ? QColor(30, 170, 60) : QColor(90, 90, 100));
    g.drawRoundedRect(QRectF(11, 4, 6, 10), 2, 2); // socket
    return pm;
}

QPixmap ProductPicture(int width, int height)
{
    QPixmap pm(width, height);
    QPainter g(&pm);
    g.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, height);
    sky.setColorAt(0, QColor(20, 40, 120));
    sky.setColorAt(1, QColor(5, 10, 40));
    g.fillRect(pm.rect(), sky);

    // The box: a rack unit with a display and knobs.
    const QRectF box(width * 0.1, height * 0.22, width * 0.8, height * 0.3);
    g.setPen(QPen(QColor(200, 210, 230), 1.5));
    g.setBrush(QColor(40, 44, 56));
    g.drawRoundedRect(box, 4, 4);
    const QRectF display(box.left() + 8, box.top() + 8, box.width() * 0.35, box.height() - 16);
    g.setBrush(QColor(0, 60, 90));
    g.drawRect(display);
    // A little response curve on its display.
    QPainterPath curve;
    for (int i = 0; i <= 20; ++i) {
        const double x = display.left() + display.width() * i / 20.0;
        const double y = display.center().y() - std::sin(i / 3.0) * display.height() * 0.3;
        i == 0 ? curve.moveTo(x, y) : curve.lineTo(x, y);
    }
    g.setPen(QPen(QColor(0, 220, 255), 1.2));
    g.setBrush(Qt::NoBrush);
    g.drawPath(curve);
    g.setPen(QPen(QColor(160, 160, 170), 1));
    for (int k = 0; k < 4; ++k) {
        const QPointF c(display.right() + 14 + k * (box.right() - display.right() - 20) / 4.0, box.center().y());
        g.setBrush(k == 3 ? QColor(230, 60, 60) : QColor(190, 190, 200));
        g.drawEllipse(c, 5, 5);
    }
    // Sound waves rising from the box.
    g.setBrush(Qt::NoBrush);
    for (int k = 1; k <= 3; ++k) {
        g.setPen(QPen(QColor(120, 200, 255, 255 - 60 * k), 2));
        g.drawArc(QRectF(width / 2.0 - 12 * k, box.top() - 8 * k - 4, 24 * k, 16 * k), 30 * 16, 120 * 16);
    }
    return pm;
}

void WarmUpFonts()
{
    // Reading the configuration and the font caches is a fifth of the
    // start-up; Qt's own call later finds it done.
#ifndef _WIN32
    fontsLoaded = std::async(std::launch::async, [] { FcInit(); });
#endif
}

} // namespace ktv
