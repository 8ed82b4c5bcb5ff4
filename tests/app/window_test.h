// What the window tests share: the window on the virtual Tarvex, with a firmware image path
// beside it, its controls by name, the four fields, and a main() on Qt's offscreen platform.
// Each window test program includes this header in its one source file.
#pragma once

#include "frmMain.h"

#include "clock.h"
#include "tarvex_protocol.h"
#include "temp_dir.h"
#include "virtual_platform.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace quorvane::test {

// Each field, the row label naming it (its buddy) with that label's caption, and what the field
// shows once the window found the virtual Tarvex.
struct Field {
    const char* name;
    const char* rowLabel;
    const char* rowName;
    const char* shown;
};
inline const Field Fields[] = {
    {"lblManuf", "Label4", "Manufacturer", " Tarvex Devices"},
    {"lblProduct", "Label5", "Product", " Tarvex"},
    {"lblVersion", "Label2", "Version", " 2.13"},
    {"lblSerialNumber", "Label3", "Serial Number", " TX-000417"},
};

class WindowTest : public ::testing::Test {
protected:
    WindowTest() {
        window->setNotifier([this](const std::string& message) { messages.push_back(message); });
    }

    template <typename T = QWidget> T* control(const char* name) const {
        auto* widget = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    // An image of `records` records, which the virtual Tarvex expects.
    void writeImage(int records) {
        writeFile(image, imageBytes(static_cast<std::size_t>(records) * 40U));
        device.tarvex().config().expectedRecords = records;
    }

    static TarvexConfig tarvexConfig() {
        TarvexConfig c = defaultTarvexConfig();
        return c;
    }

    TempDir dir;
    const std::filesystem::path image = dir.path() / "quorvane.bin";
    VirtualClock clock;
    VirtualPlatform device{clock, tarvexConfig()};
    std::unique_ptr<frmMain> window = std::make_unique<frmMain>(device, image);
    std::vector<std::string> messages; // what the window told the user
};

} // namespace quorvane::test

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
