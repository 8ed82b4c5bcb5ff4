#include "app_identity.h"

#include <QApplication>
#include <QIcon>

#include <string_view>

#ifdef QUORVANE_DISPLAY_VERSION
static_assert(std::string_view(quorvane::ApplicationVersion) == QUORVANE_DISPLAY_VERSION,
              "the version in app_identity.h and the build's QUORVANE_DISPLAY_VERSION differ");
#endif

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
