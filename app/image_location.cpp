#include "image_location.h"

#include "firmware_image.h"

#include <QCoreApplication>
#include <QDir>

namespace quorvane {

std::filesystem::path firmwareImageBesideExecutable() {
    const QString directory = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    return firmwareImagePath(std::filesystem::path(directory.toStdU16String()).native());
}

} // namespace quorvane
