#include "scenario.h"

#include "tarvex_protocol.h"
#include "discovery.h"
#include "firmware_image.h"
#include "temp_dir.h"

#include <algorithm>
#include <random>
#include <sstream>

namespace quorvane::campaign {

namespace {

// Draws from mt19937_64 with our own mappings, so that a seed means the same scenario with
// every standard library.
class Dice {
public:
    explicit Dice(std::uint64_t seed) : rng_(seed) {}
    bool chance(double p) { return static_cast<double>(rng_() >> 11) * 0x1.0p-53 < p; }
    // Uniform in [lo, hi].
    std::int64_t range(std::int64_t lo, std::int64_t hi) {
        const auto span = static_cast<std::uint64_t>(hi - lo) + 1;
        return lo + static_cast<std::int64_t>(rng_() % span);
    }
    template <typename T> T pick(std::initializer_list<T> items) {
        return *(items.begin() + range(0, static_cast<std::int64_t>(items.size()) - 1));
    }

private:
    std::mt19937_64 rng_;
};

constexpr std::size_t Block = RecordSize;
constexpr std::size_t LimitRecords = static_cast<std::size_t>(MaxImageRecords);

// FeatureReportByteLength of one mode: usual values, none, too short for each report, longer
// than every buffer.
std::uint16_t reportLength(Dice& d) {
    const auto r = d.range(0, 99);
    if (r < 45)
        return 65;
    if (r < 58)
        return 41;
    if (r < 66)
        return 101;
    if (r < 72)
        return static_cast<std::uint16_t>(d.range(102, 1001));
    if (r < 76)
        return static_cast<std::uint16_t>(d.chance(0.5) ? 1500 : d.range(1002, 1600));
    if (r < 80)
        return 0;
    if (r < 85)
        return static_cast<std::uint16_t>(d.range(1, 3)); // below the status bytes
    if (r < 91)
        return static_cast<std::uint16_t>(d.range(4, 8)); // below the unlock report
    return static_cast<std::uint16_t>(d.range(9, 40));    // below the data report
}

std::size_t recordCount(Dice& d) {
    return static_cast<std::size_t>(d.chance(0.5) ? d.range(1, 10) : d.range(11, 60));
}

ImagePlan imagePlan(Dice& d) {
    ImagePlan p;
    p.seed = static_cast<std::uint32_t>(d.range(1, 0xFFFFFFF));
    const auto r = d.range(0, 9999);
    if (r < 400) {
        p.kind = ImageKind::Missing;
    } else if (r < 550) {
        p.kind = ImageKind::Directory;
    } else if (r < 950) {
        p.size = 0;
    } else if (r < 1550) {
        p.size = d.range(0, 12) * Block + static_cast<std::size_t>(d.range(1, Block - 1));
    } else if (r < 1570) {
        p.size = (LimitRecords + 1) * Block; // one record too many
    } else if (r < 1575) {
        p.size = LimitRecords * Block; // the largest image that is sent
    } else {
        p.size = recordCount(d) * Block;
    }
    return p;
}

ForeignInterface foreignInterface(Dice& d, const std::string& path, bool impostor) {
    ForeignInterface f;
    f.path = path;
    const auto vendor = static_cast<std::uint16_t>(d.range(0x0001, 0xFFFF));
    auto product = static_cast<std::uint16_t>(d.range(0x0001, 0xFFFF));
    if (impostor)
        product = d.chance(0.5) ? AppModeProductId : BootModeProductId;
    else if (product == AppModeProductId || product == BootModeProductId)
        product ^= 0x0101;
    f.attributes = {vendor == 0x1D50 ? std::uint16_t{0x046D} : vendor, product, 0x0100};
    f.openable = !d.chance(0.2);
    f.openError = d.pick({OpenError::AccessDenied, OpenError::NotFound, OpenError::Other});
    f.featureReportByteLength = d.pick<std::uint16_t>({0, 2, 9, 33, 41, 65, 101, 1500});
    return f;
}

const char* switchName(Switch s) {
    switch (s) {
    case Switch::Enumeration:
        return "enumeration";
    case Switch::Open:
        return "open";
    case Switch::OverlappedOpen:
        return "overlapped-open";
    case Switch::Attributes:
        return "attributes";
    case Switch::Capabilities:
        return "capabilities";
    case Switch::Manufacturer:
        return "manufacturer";
    case Switch::Product:
        return "product";
    case Switch::SerialNumber:
        return "serial";
    case Switch::Status:
        return "status";
    }
    return "?";
}

std::string planText(const ImagePlan& p) {
    switch (p.kind) {
    case ImageKind::Missing:
        return "missing";
    case ImageKind::Directory:
        return "directory";
    case ImageKind::Bytes:
        break;
    }
    std::ostringstream s;
    s << p.size << "B";
    if (p.size % Block == 0 && p.size > 0)
        s << "(" << p.size / Block << "rec)";
    return s.str();
}

std::string timeText(std::int64_t t) {
    return t == Forever ? "inf" : std::to_string(t);
}

} // namespace

bool sendableImage(const ImagePlan& p) {
    return p.kind == ImageKind::Bytes && p.size > 0 && p.size % Block == 0 &&
           p.size / Block <= LimitRecords;
}

bool isImpostor(const ForeignInterface& f) {
    return f.attributes.ProductID == AppModeProductId ||
           f.attributes.ProductID == BootModeProductId;
}

std::vector<std::uint8_t> imageContent(const ImagePlan& plan) {
    if (plan.kind != ImageKind::Bytes)
        return {};
    return test::imageBytes(plan.size, plan.seed);
}

Scenario generateScenario(std::uint64_t seed) {
    Dice d(seed);
    Scenario sc;
    sc.seed = seed;

    // The device.
    TarvexConfig& c = sc.device;
    c = defaultTarvexConfig();
    if (d.chance(0.04))
        c.unlockCode[static_cast<std::size_t>(d.range(0, 7))] ^= 0x5A; // never unlocks
    c.startMode = d.chance(0.6) ? TarvexMode::Application : TarvexMode::Bootloader;
    c.application.featureReportByteLength = reportLength(d);
    c.bootloader.featureReportByteLength =
        d.chance(0.3) ? c.application.featureReportByteLength : reportLength(d);
    if (d.chance(0.5))
        c.statusBytes = {static_cast<std::uint8_t>(d.pick({0, 1, 0x80, 0xFF})),
                         static_cast<std::uint8_t>(d.pick({0, 1, 7, 0xFF}))};
    const auto r = d.range(0, 9);
    c.leaveDelayMs = static_cast<int>(r < 7   ? d.range(0, 150)
                                      : r < 9 ? d.range(150, 1000)
                                              : d.range(1000, 12000));
    const auto o = d.range(0, 9);
    c.offBusMs = static_cast<int>(o < 7   ? d.range(0, 500)
                                  : o < 9 ? d.range(500, 3000)
                                          : d.range(3000, 15000));

    // The image, and how it may change before the transfer.
    sc.image = imagePlan(d);
    if (d.chance(0.12)) {
        ImageChange ch;
        ch.atSleep = static_cast<int>(d.range(1, 6));
        const auto k = d.range(0, 99);
        ch.to = sc.image;
        ch.to.seed = sc.image.seed + 1;
        const std::size_t records = sc.image.kind == ImageKind::Bytes ? sc.image.size / Block : 0;
        if (k < 20) {
            ch.to.kind = ImageKind::Missing;
        } else if (k < 55) {
            ch.to.kind = ImageKind::Bytes;
            ch.to.size = recordCount(d) * Block;
        } else if (k < 75) {
            ch.to.kind = ImageKind::Bytes;
            ch.to.size = (records + static_cast<std::size_t>(d.range(1, 3))) * Block;
        } else if (k < 88) {
            ch.to.kind = ImageKind::Bytes;
            ch.to.size = records * Block + static_cast<std::size_t>(d.range(1, Block - 1));
        } else if (k < 99) {
            ch.to.kind = ImageKind::Bytes; // same size, other bytes
        } else {
            ch.to.kind = ImageKind::Bytes;
            ch.to.size = (LimitRecords + 1) * Block;
        }
        sc.change = ch;
    }
    const ImagePlan& sent = sc.change ? sc.change->to : sc.image;
    const auto records = static_cast<int>(sendableImage(sent) ? sent.size / Block : d.range(1, 10));
    const auto e = d.range(0, 99);
    c.expectedRecords = e < 85   ? records
                        : e < 90 ? std::max(1, records - static_cast<int>(d.range(1, 3)))
                        : e < 96 ? records + static_cast<int>(d.range(1, 3))
                                 : 0; // never restarts by itself

    // Faults that stay for the whole scenario.
    TarvexFaults& f = c.faults;
    if (d.chance(0.10))
        f.failDataReport = static_cast<int>(d.range(1, records + 1));
    if (d.chance(0.06))
        f.vanishAfterDataReports = static_cast<int>(d.range(1, records));
    f.stayAfterBootloaderEntry = d.chance(0.06);
    if (d.chance(0.06))
        f.restartInto = TarvexMode::Bootloader;
    f.neverReturn = d.chance(0.05);

    // Queries that fail for a while.
    for (Switch s : {Switch::Enumeration, Switch::Open, Switch::OverlappedOpen, Switch::Attributes,
                     Switch::Capabilities, Switch::Manufacturer, Switch::Product,
                     Switch::SerialNumber, Switch::Status}) {
        if (!d.chance(s == Switch::Enumeration ? 0.03 : 0.06))
            continue;
        SwitchWindow w;
        w.which = s;
        w.from = d.chance(0.3) ? 0 : d.range(1, 4000);
        w.until = d.chance(0.5) ? Forever : w.from + d.range(50, 6000);
        sc.switches.push_back(w);
    }

    if (d.chance(0.03))
        sc.unplugAt = d.range(0, 8000);

    // Interfaces around it. Ones with the Tarvex's product IDs are taken for it by design.
    const int before = d.chance(0.5) ? 0 : static_cast<int>(d.range(1, 3));
    for (int i = 0; i < before; ++i)
        sc.foreignBefore.push_back(
            foreignInterface(d, "hid:before/" + std::to_string(i), d.chance(0.015)));
    const int after = d.chance(0.5) ? 0 : static_cast<int>(d.range(1, 3));
    for (int i = 0; i < after; ++i)
        sc.foreignAfter.push_back(
            foreignInterface(d, "hid:after/" + std::to_string(i), d.chance(0.08)));

    // The user.
    UserPlan& u = sc.user;
    const auto steps = d.range(0, 99);
    auto step = [&](Command cmd) {
        u.steps.push_back({d.chance(0.5) ? 0 : d.range(1, d.chance(0.8) ? 2000 : 20000), cmd});
    };
    if (steps < 75) {
        step(d.chance(0.7) ? Command::Upgrade : Command::ForceBootloader);
    } else if (steps < 95) {
        step(Command::ForceBootloader);
        step(d.chance(0.8) ? Command::Upgrade : Command::ForceBootloader);
    } // else: the window is opened and closed
    if (d.chance(0.5))
        u.clickChance = static_cast<double>(d.range(5, 50)) / 100.0;
    if (d.chance(0.15))
        u.closeAtEvent = static_cast<int>(d.range(1, records + 40));
    u.patienceMs = d.chance(0.75) ? Forever : d.range(1000, 60000);
    return sc;
}

std::optional<std::int64_t> commandBound(const Scenario& sc, std::int64_t start) {
    const TarvexConfig& c = sc.device;
    if (c.faults.neverReturn || c.faults.vanishAfterDataReports != 0 || sc.unplugAt)
        return std::nullopt;
    // Until the device can be discovered again.
    std::int64_t blockedUntil = start;
    for (const SwitchWindow& w : sc.switches) {
        if (w.which != Switch::Enumeration && w.which != Switch::Open &&
            w.which != Switch::Attributes)
            continue;
        if (w.until == Forever)
            return std::nullopt;
        blockedUntil = std::max(blockedUntil, w.until);
    }
    std::size_t records = 0;
    for (const ImagePlan* p : {&sc.image, sc.change ? &sc.change->to : nullptr})
        if (p && p->kind == ImageKind::Bytes)
            records = std::max(records, std::min(p->size / Block, LimitRecords));
    const std::int64_t timeline = c.leaveDelayMs + c.offBusMs;
    return (blockedUntil - start) + 3 * timeline + 2 * (std::int64_t{WrongModeLimitMs} + 300) +
           static_cast<std::int64_t>(records) * 21 + 3000;
}

std::string describe(const Scenario& sc) {
    const TarvexConfig& c = sc.device;
    const TarvexFaults& f = c.faults;
    std::ostringstream s;
    s << "seed=" << sc.seed
      << " start=" << (c.startMode == TarvexMode::Application ? "app" : "boot")
      << " len=" << c.application.featureReportByteLength << "/"
      << c.bootloader.featureReportByteLength << " status=" << int(c.statusBytes[0]) << ","
      << int(c.statusBytes[1]) << " leave=" << c.leaveDelayMs << " off=" << c.offBusMs
      << " expect=" << c.expectedRecords;
    if (c.unlockCode != UnlockCode)
        s << " unlock-mismatch";
    if (f.failDataReport)
        s << " fail-data#" << f.failDataReport;
    if (f.vanishAfterDataReports)
        s << " vanish-after#" << f.vanishAfterDataReports;
    if (f.stayAfterBootloaderEntry)
        s << " ignores-entry";
    if (f.restartInto)
        s << " restarts-into-boot";
    if (f.neverReturn)
        s << " never-returns";
    for (const SwitchWindow& w : sc.switches)
        s << " fail-" << switchName(w.which) << "@" << w.from << "-" << timeText(w.until);
    if (sc.unplugAt)
        s << " unplugged@" << *sc.unplugAt;
    auto foreignText = [&](const char* where, const std::vector<ForeignInterface>& list) {
        if (list.empty())
            return;
        s << " " << where << "=[";
        for (std::size_t i = 0; i < list.size(); ++i) {
            const auto& fi = list[i];
            s << (i ? " " : "") << std::hex << fi.attributes.VendorID << ":"
              << fi.attributes.ProductID << std::dec << (fi.openable ? "" : "!") << "/"
              << fi.featureReportByteLength;
        }
        s << "]";
    };
    foreignText("before", sc.foreignBefore);
    foreignText("after", sc.foreignAfter);
    s << " image=" << planText(sc.image);
    if (sc.change)
        s << " ->" << planText(sc.change->to) << "@sleep" << sc.change->atSleep;
    s << " user=[";
    for (std::size_t i = 0; i < sc.user.steps.size(); ++i)
        s << (i ? " " : "") << "+" << sc.user.steps[i].idleMs
          << (sc.user.steps[i].command == Command::Upgrade ? ":upgrade" : ":force");
    s << "] click=" << sc.user.clickChance;
    if (sc.user.closeAtEvent)
        s << " close@event" << sc.user.closeAtEvent;
    s << " patience=" << timeText(sc.user.patienceMs);
    return s.str();
}

} // namespace quorvane::campaign
