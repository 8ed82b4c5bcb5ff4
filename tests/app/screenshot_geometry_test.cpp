// The window's pictures at scale 1 and 2 (quorvane-demo's screenshots of each scene, with the
// JSON beside each that places the controls): every control at scale 2 covers twice its
// rectangle at scale 1, and the pictures show each control where its JSON says. The controls
// are found in the pixels themselves: the fields by their colour, the bar by its colour, the
// buttons by their outline, the captions by their ink.
//
// QUORVANE_SCREENSHOT_DIR names the folder with <scene>-1x.png, <scene>-2x.png and their .json.
#include <QColor>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRect>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

// The window's client area in twips, 15 to a pixel at scale 1.
constexpr int ClientWidthPx = 5415 / 15;
constexpr int ClientHeightPx = 3675 / 15;

const char* const ValueLabels[] = {"lblManuf", "lblProduct", "lblVersion", "lblSerialNumber"};
const char* const RowLabels[] = {"Label2", "Label3", "Label4", "Label5"};
const char* const Buttons[] = {"btnUpgradeFW", "Command2"};

struct Control {
    QRect rect;
    bool visible = false;
};

struct Picture {
    QImage image;
    double scale = 0;
    QSize declaredSize;
    std::map<std::string, Control> controls;
    QRgb window = 0, field = 0, bar = 0; // the colours of the window, the fields and the bar

    const Control& control(const std::string& name) const {
        static const Control missing;
        const auto it = controls.find(name);
        EXPECT_NE(it, controls.end()) << name;
        return it == controls.end() ? missing : it->second;
    }
};

std::string screenshotDir() {
    const char* dir = std::getenv("QUORVANE_SCREENSHOT_DIR");
    return dir != nullptr ? dir : "";
}

std::optional<Picture> loadPicture(const std::string& scene, int scale) {
    const QString base =
        QString::fromStdString(screenshotDir() + "/" + scene + "-" + std::to_string(scale) + "x");
    Picture p;
    p.image = QImage(base + QStringLiteral(".png")).convertToFormat(QImage::Format_RGB32);
    QFile json(base + QStringLiteral(".json"));
    if (p.image.isNull() || !json.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonObject root = QJsonDocument::fromJson(json.readAll()).object();
    p.scale = root.value(QStringLiteral("scale")).toDouble();
    const QJsonArray size = root.value(QStringLiteral("size")).toArray();
    p.declaredSize = QSize(size.at(0).toInt(), size.at(1).toInt());
    const QJsonObject colours = root.value(QStringLiteral("colours")).toObject();
    const auto colour = [&](const char* key) {
        return QColor(colours.value(QLatin1String(key)).toString()).rgb();
    };
    p.window = colour("window");
    p.field = colour("field");
    p.bar = colour("bar");
    for (const QJsonValue v : root.value(QStringLiteral("controls")).toArray()) {
        const QJsonObject c = v.toObject();
        const QJsonArray r = c.value(QStringLiteral("rect")).toArray();
        p.controls[c.value(QStringLiteral("name")).toString().toStdString()] = {
            QRect(r.at(0).toInt(), r.at(1).toInt(), r.at(2).toInt(), r.at(3).toInt()),
            c.value(QStringLiteral("visible")).toBool()};
    }
    return p;
}

QRect doubled(const QRect& r) {
    return {2 * r.x(), 2 * r.y(), 2 * r.width(), 2 * r.height()};
}

// Bounding boxes of the 4-connected regions of pixels for which `member` holds, with at least
// `minPixels` pixels.
std::vector<QRect> regions(const QImage& image, const std::function<bool(QRgb)>& member,
                           int minPixels) {
    std::vector<bool> seen(static_cast<std::size_t>(image.width()) * image.height());
    const auto claim = [&](QPoint p) { // true for an unseen member pixel, now seen
        const std::size_t at = static_cast<std::size_t>(p.y()) * image.width() + p.x();
        if (!image.rect().contains(p) || seen[at] || !member(image.pixel(p)))
            return false;
        seen[at] = true;
        return true;
    };
    std::vector<QRect> found;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            if (!claim(QPoint(x, y)))
                continue;
            std::vector<QPoint> stack{QPoint(x, y)};
            int count = 0;
            QRect box;
            for (; !stack.empty(); ++count) {
                const QPoint p = stack.back();
                stack.pop_back();
                box |= QRect(p, QSize(1, 1));
                for (const QPoint d : {QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1)})
                    if (claim(p + d))
                        stack.push_back(p + d);
            }
            if (count >= minPixels)
                found.push_back(box);
        }
    return found;
}

// The bounding box of the pixels inside `area` for which `member` holds; empty when none.
QRect boxOf(const QImage& image, const QRect& area, const std::function<bool(QRgb)>& member) {
    QRect box;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            if (member(image.pixel(x, y)))
                box = box.united(QRect(x, y, 1, 1));
    return box;
}

// Ink: a pixel much darker than the window around it.
bool ink(QRgb c) {
    return qGray(c) < 110;
}

// Each edge of `a` within `t` pixels of the same edge of `b`.
bool near(const QRect& a, const QRect& b, int t) {
    return b.adjusted(-t, -t, t, t).contains(a) && a.adjusted(-t, -t, t, t).contains(b);
}

std::string show(const QRect& r) {
    return "(" + std::to_string(r.x()) + "," + std::to_string(r.y()) + " " +
           std::to_string(r.width()) + "x" + std::to_string(r.height()) + ")";
}

class ScreenshotGeometry : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        ASSERT_FALSE(screenshotDir().empty()) << "QUORVANE_SCREENSHOT_DIR is not set";
        auto a = loadPicture(GetParam(), 1);
        auto b = loadPicture(GetParam(), 2);
        ASSERT_TRUE(a.has_value()) << "no picture or JSON at scale 1 in " << screenshotDir();
        ASSERT_TRUE(b.has_value()) << "no picture or JSON at scale 2 in " << screenshotDir();
        one = std::move(*a);
        two = std::move(*b);
    }
    Picture one;
    Picture two;
};

TEST_P(ScreenshotGeometry, ThePicturesAreTheWholeWindowAndEachControlDoublesAtScaleTwo) {
    EXPECT_EQ(one.scale, 1.0);
    EXPECT_EQ(two.scale, 2.0);
    EXPECT_EQ(one.image.size(), QSize(ClientWidthPx, ClientHeightPx));
    EXPECT_EQ(two.image.size(), 2 * one.image.size());
    EXPECT_EQ(one.declaredSize, one.image.size());
    EXPECT_EQ(two.declaredSize, two.image.size());
    ASSERT_GE(one.controls.size(), 13U);
    EXPECT_EQ(one.controls.size(), two.controls.size());
    for (const auto& [name, c] : one.controls) {
        const Control& d = two.control(name);
        EXPECT_EQ(d.rect, doubled(c.rect))
            << name << ": " << show(d.rect) << " at 2, " << show(c.rect) << " at 1";
        EXPECT_EQ(d.visible, c.visible) << name;
    }
}

TEST_P(ScreenshotGeometry, FieldsBarAndButtonsAreDrawnWhereTheyArePlaced) {
    const bool deviceShown = std::string(GetParam()) != "nodevice";
    for (const Picture* p : {&one, &two}) {
        const std::string at = " at scale " + std::to_string(static_cast<int>(p->scale));
        // Regions of the field colour in the frame, larger than any glyph's inside; text in them
        // exactly when a device is found.
        const QRect frame = p->control("Frame1").rect;
        auto fields = regions(
            p->image, [p](QRgb c) { return c == p->field; },
            static_cast<int>(400 * p->scale * p->scale));
        std::erase_if(fields, [&](const QRect& r) { return !frame.contains(r); });
        EXPECT_EQ(fields.size(), std::size(ValueLabels)) << at;
        for (const char* name : ValueLabels) {
            const QRect rect = p->control(name).rect;
            EXPECT_NE(std::find(fields.begin(), fields.end(), rect), fields.end())
                << name << " " << show(rect) << at;
            EXPECT_EQ(!boxOf(p->image, rect, ink).isEmpty(), deviceShown) << name << at;
        }

        // The bar, in its frame, and only when shown.
        const Control& bar = p->control("Pic");
        const auto drawn = regions(
            p->image, [p](QRgb c) { return c == p->bar; }, 1);
        if (!bar.visible || bar.rect.width() == 0) {
            EXPECT_TRUE(drawn.empty()) << at;
        } else {
            EXPECT_EQ(drawn, std::vector<QRect>{bar.rect})
                << (drawn.empty() ? "none" : show(drawn[0])) << " instead of " << show(bar.rect)
                << at;
            EXPECT_TRUE(p->control("Picture1").rect.contains(bar.rect)) << at;
        }

        // A button's face and outline differ from the window around it; the paint reaches to
        // within a pixel of each edge and nowhere beyond them.
        const int margin = static_cast<int>(4 * p->scale);
        for (const char* name : Buttons) {
            const QRect rect = p->control(name).rect;
            const QRect painted = boxOf(p->image, rect.adjusted(-margin, -margin, margin, margin),
                                        [p](QRgb c) { return c != p->window; });
            EXPECT_TRUE(rect.contains(painted) && near(painted, rect, static_cast<int>(p->scale)))
                << name << " " << show(painted) << " in " << show(rect) << at;
        }
    }
}

TEST_P(ScreenshotGeometry, CaptionsAreWrittenInTheirControlsAtTwiceTheSize) {
    std::vector<const char*> captioned(std::begin(RowLabels), std::end(RowLabels));
    captioned.insert(captioned.end(), std::begin(Buttons), std::end(Buttons));
    for (const char* name : captioned) {
        const QRect ink1 = boxOf(one.image, one.control(name).rect, ink);
        const QRect ink2 = boxOf(two.image, two.control(name).rect, ink);
        // A disabled button writes in grey, which is no ink; it must then be so at both scales.
        EXPECT_EQ(ink1.isEmpty(), ink2.isEmpty()) << name;
        if (ink1.isEmpty())
            continue;
        // Text rendered at twice the size lands within a few pixels of twice the place: the
        // glyphs are hinted to each size's pixel grid.
        EXPECT_TRUE(near(ink2, doubled(ink1), 4))
            << name << ": ink " << show(ink2) << " at 2, " << show(ink1) << " at 1";
        EXPECT_GT(ink1.width(), 10) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Scenes, ScreenshotGeometry,
                         ::testing::Values("found", "upgrading", "nodevice"));

} // namespace
