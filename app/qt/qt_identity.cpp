#include "qt_identity.h"

#include <QApplication>
#include <QIcon>

// The resources live in a static library: register them before first use. The macro declares
// the resource's initialiser, so it must stay outside every namespace.
static void registerIconResources() {
    Q_INIT_RESOURCE(quorvane);
}

namespace quorvane {

QIcon applicationIcon() {
    registerIconResources();
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/quorvane-32.xpm"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/icons/quorvane-16.xpm"), QSize(16, 16));
    return icon;
}

void applyApplicationIdentity() {
    QCoreApplication::setApplicationName(QString::fromLatin1(ApplicationName));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(ApplicationVersion));
    QApplication::setWindowIcon(applicationIcon());
}

} // namespace quorvane
