#include "image_location.h"

#include "executable_directory.h"
#include "firmware_image.h"

#include <QCoreApplication>
#include <QDir>

namespace quorvane {

std::filesystem::path firmwareImageBesideExecutable() {
    // The directory exactly as the platform reports it; Qt's view of it only as a fallback.
    if (auto directory = executableDirectory())
        return firmwareImagePath(*directory);
    const QString directory = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    return firmwareImagePath(std::filesystem::path(directory.toStdU16String()).native());
}

} // namespace quorvane
