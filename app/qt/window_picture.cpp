#include "window_picture.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <QWidget>
#include <QWindow>

#include <cmath>

namespace quorvane {

namespace {

QJsonArray rectInPicture(const QRect& logical, double scale) {
    const auto px = [scale](int v) { return static_cast<int>(std::lround(v * scale)); };
    return {px(logical.x()), px(logical.y()), px(logical.width()), px(logical.height())};
}

QString colourName(const QWidget& widget, QPalette::ColorRole role) {
    return widget.palette().color(role).name();
}

} // namespace

bool waitUntilExposed(QWidget& window, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (window.windowHandle() == nullptr || !window.windowHandle()->isExposed()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    QCoreApplication::processEvents();
    return true;
}

QString saveWindowPicture(QWidget& window, const QString& pngPath) {
    if (!waitUntilExposed(window))
        return QStringLiteral("the window never reached the screen");
    // Paint everything now, so that the window system holds what the window shows.
    window.repaint();
    QScreen* screen = window.screen();
    if (screen == nullptr)
        return QStringLiteral("the window is on no screen");
    QPixmap picture = screen->grabWindow(window.winId());
    if (picture.isNull())
        return QStringLiteral("the screen gave no picture of the window");
    const double scale = window.devicePixelRatioF();
    if (!picture.save(pngPath, "PNG"))
        return QStringLiteral("cannot write ") + pngPath;

    QJsonArray controls;
    for (const QWidget* child : window.findChildren<QWidget*>()) {
        const QString name = child->objectName();
        if (name.isEmpty() || name.startsWith(QLatin1String("qt_")))
            continue;
        const QRect logical(child->mapTo(&window, QPoint(0, 0)), child->size());
        controls.append(QJsonObject{{QStringLiteral("name"), name},
                                    {QStringLiteral("rect"), rectInPicture(logical, scale)},
                                    {QStringLiteral("visible"), child->isVisible()}});
    }
    const QWidget* field = window.findChild<QWidget*>(QStringLiteral("lblManuf"));
    const QWidget* bar = window.findChild<QWidget*>(QStringLiteral("Pic"));
    const QJsonObject colours{
        {QStringLiteral("window"), colourName(window, QPalette::Window)},
        {QStringLiteral("text"), colourName(window, QPalette::WindowText)},
        {QStringLiteral("field"),
         field != nullptr ? colourName(*field, QPalette::Base) : QString()},
        {QStringLiteral("bar"), bar != nullptr ? colourName(*bar, QPalette::Window) : QString()},
    };
    const QJsonObject description{
        {QStringLiteral("scale"), scale},
        {QStringLiteral("size"), QJsonArray{picture.width(), picture.height()}},
        {QStringLiteral("colours"), colours},
        {QStringLiteral("controls"), controls},
    };
    const QFileInfo png(pngPath);
    QFile json(png.path() + QLatin1Char('/') + png.completeBaseName() + QStringLiteral(".json"));
    if (!json.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        json.write(QJsonDocument(description).toJson()) < 0)
        return QStringLiteral("cannot write ") + json.fileName();
    return {};
}

} // namespace quorvane
