// The fault campaign: seeded scenarios of a misbehaving Tarvex, its image and its user, played
// through the real discovery and commands on a virtual clock and checked after each one.
//   quorvane_campaign --scenarios N [--seed S]   N scenarios from seed S (1) on
//   quorvane_campaign --replay S                 one scenario with every call it made
//   quorvane_campaign --self-check               the checker catches a faulty platform
#include "captions.h"
#include "device_info.h"
#include "discovery.h"
#include "firmware_image.h"
#include "firmware_updater.h"
#include "forwarding_platform.h"
#include "recording_window.h"
#include "temp_dir.h"
#include "virtual_platform.h"

#include <chrono>
#include <iostream>
#include <random>
#include <sstream>
#include <tuple>

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using test::imageBytes;

// Faults the generator switches on for a while; the last one fails enumeration itself.
constexpr bool TarvexFaults::*Switchable[] = {
    &TarvexFaults::failOpen,         &TarvexFaults::failOverlappedOpen,
    &TarvexFaults::failAttributes,   &TarvexFaults::failCapabilities,
    &TarvexFaults::failManufacturer, &TarvexFaults::failProduct,
    &TarvexFaults::failSerialNumber, &TarvexFaults::failStatus};
constexpr int Enumeration = 8;
const char* const SwitchNames[] = {"open",         "overlapped-open", "attributes",
                                   "capabilities", "manufacturer",    "product",
                                   "serial",       "status",          "enumeration"};
const char* const CallNames[] = {"enumerate",   "open",         "close",
                                 "attributes",  "capabilities", "set-feature",
                                 "get-feature", "string",       "sleep"};
// A user waits this long for a command before closing the window; every command ends well
// before it while the device can still be found, and every fault window has ended by it.
constexpr std::int64_t PatienceMs = 150000;
constexpr std::int64_t FaultWindowEndMs = 30000;

struct FaultWindow {
    int fault = 0;
    std::int64_t from = 0, until = 0;
};

struct Scenario {
    std::uint64_t seed = 0;
    TarvexConfig device = defaultTarvexConfig();
    std::vector<FaultWindow> windows;
    std::optional<std::int64_t> unplugAt; // the Tarvex is pulled out for good
    std::vector<ForeignInterface> before, after;
    std::int64_t imageSize = 0;                        // bytes of the image file; -1: no file
    std::vector<std::pair<std::int64_t, bool>> clicks; // idle ms, then Upgrade (or Force)
    int closeAtEvent = 0; // the user closes the window at this processing of events (0: never)
};

// mt19937_64 with mappings of our own, so that a seed means the same scenario everywhere.
struct Dice {
    std::mt19937_64 rng;
    std::int64_t in(std::int64_t lo, std::int64_t hi) {
        return lo + static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(hi - lo + 1));
    }
    bool chance(int percent) { return in(0, 99) < percent; }
    template <typename T> T pick(std::initializer_list<T> items) {
        return items.begin()[in(0, static_cast<std::int64_t>(items.size()) - 1)];
    }
};

std::uint16_t reportLength(Dice& d) {
    return d.chance(15) ? static_cast<std::uint16_t>(d.in(1, 1600))
                        : d.pick<std::uint16_t>({0, 2, 9, 33, 41, 65, 65, 65, 65, 101, 1500});
}

ForeignInterface foreignInterface(Dice& d, const std::string& path, int impostorPercent) {
    auto product = static_cast<std::uint16_t>(d.in(1, 0xFFFF));
    if (d.chance(impostorPercent)) // taken for the Tarvex by design
        product = d.pick({AppModeProductId, BootModeProductId});
    else if (product == AppModeProductId || product == BootModeProductId)
        product ^= 0x0101;
    ForeignInterface f;
    f.path = path;
    f.attributes = {static_cast<std::uint16_t>(d.in(1, 0xFFFF)), product, 0x0100};
    f.openable = !d.chance(20);
    f.openError = d.pick({OpenError::AccessDenied, OpenError::NotFound, OpenError::Other});
    f.featureReportByteLength = d.pick<std::uint16_t>({0, 2, 9, 33, 41, 65, 101, 1500});
    return f;
}

Scenario generate(std::uint64_t seed) {
    Dice d{std::mt19937_64(seed)};
    Scenario sc;
    sc.seed = seed;
    TarvexConfig& c = sc.device;
    c.startMode = d.chance(60) ? TarvexMode::Application : TarvexMode::Bootloader;
    c.application.featureReportByteLength = reportLength(d);
    c.bootloader.featureReportByteLength =
        d.chance(30) ? c.application.featureReportByteLength : reportLength(d);
    if (d.chance(50)) // non-zero status bytes ask for the unlock report
        c.statusBytes = {d.pick<std::uint8_t>({0, 1, 0x80, 0xFF}), d.pick<std::uint8_t>({0, 1, 7})};
    if (d.chance(4))
        c.unlockCode[static_cast<std::size_t>(d.in(0, 7))] ^= 0x5A; // never unlocks
    c.leaveDelayMs = static_cast<int>(d.pick<std::int64_t>({d.in(0, 150), d.in(0, 12000)}));
    c.offBusMs = static_cast<int>(d.pick<std::int64_t>({d.in(0, 500), d.in(0, 15000)}));

    const int r = static_cast<int>(d.in(0, 99));
    const std::int64_t records = r < 70 ? d.in(1, 10) : r < 90 ? d.in(11, 60) : d.in(61, 400);
    sc.imageSize = d.chance(5)    ? -1
                   : d.chance(5)  ? 0
                   : d.chance(10) ? d.in(0, 12) * 40 + d.in(1, 39) // a partial last record
                                  : records * 40;
    c.expectedRecords = static_cast<int>(
        d.pick<std::int64_t>({records, records, records, records, records,
                              std::max<std::int64_t>(1, records - d.in(1, 3)), records + 1, 0}));
    TarvexFaults& f = c.faults;
    if (d.chance(10))
        f.failDataReport = static_cast<int>(d.in(1, records + 1));
    if (d.chance(6))
        f.vanishAfterDataReports = static_cast<int>(d.in(1, records));
    f.stayAfterBootloaderEntry = d.chance(6);
    if (d.chance(6))
        f.restartInto = TarvexMode::Bootloader;
    f.neverReturn = d.chance(5);
    for (int k = 0; k <= Enumeration; ++k)
        if (d.chance(k == Enumeration ? 3 : 6)) {
            const std::int64_t from = d.chance(30) ? 0 : d.in(1, 4000);
            sc.windows.push_back({k, from, std::min(FaultWindowEndMs, from + d.in(50, 26000))});
        }
    if (d.chance(3))
        sc.unplugAt = d.in(0, 8000);
    for (auto [list, name, impostors] :
         {std::tuple{&sc.before, "before", 2}, std::tuple{&sc.after, "after", 8}})
        for (auto n = d.chance(50) ? 0 : d.in(1, 3); n > 0; --n)
            list->push_back(
                foreignInterface(d, "hid:" + std::string(name) + std::to_string(n), impostors));
    const int u = static_cast<int>(d.in(0, 99));
    for (int k = u < 75 ? 1 : u < 95 ? 2 : 0; k > 0; --k) // two: Force first
        sc.clicks.emplace_back(d.chance(50) ? 0 : d.in(1, d.chance(80) ? 2000 : 20000),
                               k == 2 ? false : d.chance(70));
    if (d.chance(15))
        sc.closeAtEvent = static_cast<int>(d.in(1, records + 40));
    return sc;
}

std::string describe(const Scenario& sc) {
    const TarvexConfig& c = sc.device;
    const TarvexFaults& f = c.faults;
    std::ostringstream s;
    s << "seed " << sc.seed << ": starts in "
      << (c.startMode == TarvexMode::Application ? "app" : "bootloader") << ", report lengths "
      << c.application.featureReportByteLength << "/" << c.bootloader.featureReportByteLength
      << ", status " << int(c.statusBytes[0]) << "," << int(c.statusBytes[1])
      << (c.unlockCode != UnlockCode ? " (unlock code differs)" : "") << ", off bus after "
      << c.leaveDelayMs << " for " << c.offBusMs << " ms, restarts after " << c.expectedRecords
      << " records, image " << (sc.imageSize < 0 ? "missing" : std::to_string(sc.imageSize) + " B");
    if (f.failDataReport)
        s << ", rejects data report " << f.failDataReport;
    if (f.vanishAfterDataReports)
        s << ", vanishes after data report " << f.vanishAfterDataReports;
    s << (f.stayAfterBootloaderEntry ? ", ignores the entry report" : "")
      << (f.restartInto ? ", restarts into its bootloader" : "")
      << (f.neverReturn ? ", never comes back" : "");
    for (const FaultWindow& w : sc.windows)
        s << ", " << SwitchNames[w.fault] << " fails " << w.from << "-" << w.until << " ms";
    if (sc.unplugAt)
        s << ", unplugged at " << *sc.unplugAt << " ms";
    for (const auto* list : {&sc.before, &sc.after})
        for (const ForeignInterface& i : *list)
            s << ", " << i.path << " " << std::hex << i.attributes.VendorID << ":"
              << i.attributes.ProductID << std::dec << (i.openable ? "" : " unopenable") << " len "
              << i.featureReportByteLength;
    for (auto [idle, upgrade] : sc.clicks)
        s << ", after " << idle << " ms " << (upgrade ? "Upgrade" : "Force Bootloader");
    if (sc.closeAtEvent)
        s << ", closes the window at event " << sc.closeAtEvent;
    return s.str();
}

// A platform with one deliberate fault, to prove that the checker sees it.
enum class Fault { None, FlipDataByte, SkipClose, MuteMessages };
class FaultyPlatform final : public ForwardingPlatform {
public:
    FaultyPlatform(HidPlatform& inner, Fault fault) : ForwardingPlatform(inner), fault_(fault) {}
    bool setFeature(RawHandle h, const std::uint8_t* b, std::size_t n) override {
        if (fault_ != Fault::FlipDataByte || done || n < 41 || b[1] == EnterBootloaderCode[0])
            return ForwardingPlatform::setFeature(h, b, n);
        std::vector<std::uint8_t> flipped(b, b + n);
        flipped[40] ^= 0x10;
        return ++done, ForwardingPlatform::setFeature(h, flipped.data(), n);
    }
    bool close(RawHandle h) override {
        return fault_ == Fault::SkipClose && !done++ ? true : ForwardingPlatform::close(h);
    }
    int done = 0; // times the fault acted

private:
    Fault fault_;
};

struct Runaway {};

// Plays one scenario; returns every broken rule, one line each.
std::vector<std::string> play(const Scenario& sc, const fs::path& imagePath, Fault fault,
                              std::ostream* trace, int* faultActed = nullptr) {
    std::vector<std::uint8_t> image;
    fs::remove(imagePath);
    if (sc.imageSize >= 0)
        test::writeFile(imagePath, image = imageBytes(static_cast<std::size_t>(sc.imageSize),
                                                      static_cast<unsigned>(sc.seed)));
    VirtualClock clock;
    VirtualPlatform api(clock, sc.device);
    api.foreignBefore = sc.before;
    api.foreignAfter = sc.after;
    FaultyPlatform program(api, fault);
    test::RecordingWindow window(program);
    DeviceState state;
    state.ProgressFullWidth = 5055;
    DeviceContext ctx{program, window, state};
    FirmwareUpdater updater(ctx, imagePath);
    std::vector<std::string> broken;
    std::vector<std::pair<std::size_t, std::string>> notes; // for the trace, at log positions
    int told = 0, events = 0;
    std::int64_t started = 0;
    bool running = false, impatient = false;

    auto applyFaults = [&](std::int64_t now) {
        TarvexFaults& f = api.tarvex().config().faults;
        for (auto flag : Switchable)
            f.*flag = false;
        api.failEnumeration = false;
        api.tarvexAttached = !sc.unplugAt || now < *sc.unplugAt;
        for (const FaultWindow& w : sc.windows)
            if (now >= w.from && now < w.until)
                (w.fault == Enumeration ? api.failEnumeration : f.*Switchable[w.fault]) = true;
    };
    api.onSleep = [&](std::int64_t now) {
        applyFaults(now);
        if (running && now - started > 2 * PatienceMs)
            throw Runaway{}; // it no longer processes events, so the user cannot stop it
    };
    window.onEvents = [&] {
        const bool waitedTooLong = running && clock.nowMs() - started > PatienceMs;
        impatient = impatient || (waitedTooLong && !window.closing);
        if ((++events == sc.closeAtEvent || waitedTooLong) && !window.closing) {
            window.closing = true;
            notes.emplace_back(api.log().size(), "the user closes the window");
        }
    };
    window.onMessage = [&](const std::string& text) {
        const bool muted = fault == Fault::MuteMessages;
        program.done += muted;
        told += !muted;
        notes.emplace_back(api.log().size(), "told: " + text + (muted ? " (muted)" : ""));
    };

    applyFaults(0);
    FindAndShowDevice(ctx); // the window loads
    for (auto [idle, upgrade] : sc.clicks) {
        clock.advance(idle);
        applyFaults(clock.nowMs());
        const bool found = state.DeviceFound;
        const int toldBefore = told;
        const std::size_t logBefore = api.log().size();
        notes.emplace_back(logBefore, upgrade ? "click Upgrade" : "click Force Bootloader");
        started = clock.nowMs();
        running = true;
        impatient = false;
        try {
            upgrade ? updater.upgrade() : updater.forceBootloader();
        } catch (const Runaway&) {
            broken.push_back("the command ran on without processing window events");
            break;
        }
        running = false;
        VirtualTarvex& device = api.tarvex();
        device.advance(clock.nowMs());
        const bool present = device.present() && api.tarvexAttached;
        std::vector<std::uint8_t> held;
        for (const Record& record : device.records())
            held.insert(held.end(), record.begin(), record.end());
        const bool holdsImage = !image.empty() && held == image;
        const bool ok = upgrade ? present && device.mode() == TarvexMode::Application && holdsImage
                                : present && device.mode() == TarvexMode::Bootloader;
        const bool toldNow = told > toldBefore;
        const bool findable = !sc.unplugAt && !sc.device.faults.neverReturn &&
                              !sc.device.faults.vanishAfterDataReports;
        if (!found && (toldNow || api.log().size() != logBefore))
            broken.push_back("a click with no device found did something");
        else if (found && impatient && findable)
            broken.push_back("the command still ran after " + std::to_string(PatienceMs) +
                             " ms although the device could be found");
        else if (found && !window.closing && !ok && !toldNow)
            broken.push_back(std::string(upgrade ? "the upgrade" : "Force Bootloader Mode") +
                             " failed (device " + (present ? "present" : "absent") + ", " +
                             std::to_string(device.records().size()) +
                             " records) and told nothing");
        else if (found && ok && toldNow)
            broken.push_back("a command that succeeded told of a failure");
        if (window.closing || window.unloads > 0)
            break;
    }
    if (!running) {
        closeDeviceHandles(ctx); // the window unloads
        for (const std::string& m : api.misuse())
            broken.push_back("handle misuse: " + m);
        if (api.openHandles() != 0)
            broken.push_back(std::to_string(api.openHandles()) + " handle(s) left open");
    }

    // Every report that reached an interface: of its declared length; only the bootloader-entry
    // report to an application firmware; else the entry or unlock report, or the image's next
    // record, each with zeros after it.
    auto carries = [](const std::vector<std::uint8_t>& b, const std::uint8_t* content,
                      std::size_t n) {
        return b.size() > n && b[0] == 0 && std::equal(content, content + n, b.begin() + 1) &&
               std::all_of(b.begin() + 1 + static_cast<long>(n), b.end(),
                           [](std::uint8_t x) { return x == 0; });
    };
    std::size_t next = 0; // the image's record expected next
    const auto& log = api.log();
    for (std::size_t i = 0; i < log.size(); ++i) {
        const CallRecord& r = log[i];
        if ((r.kind != CallKind::SetFeature && r.kind != CallKind::GetFeature) || !r.reached)
            continue;
        const ForeignInterface* other = nullptr;
        for (const auto* list : {&sc.before, &sc.after})
            for (const ForeignInterface& f : *list)
                other = f.path == r.path ? &f : other;
        const std::size_t declared = other ? other->featureReportByteLength : r.tarvexReportLength;
        const std::uint16_t product = other ? other->attributes.ProductID
                                      : r.tarvexMode == TarvexMode::Application ? AppModeProductId
                                                                                : BootModeProductId;
        const bool entry = r.kind == CallKind::SetFeature &&
                           carries(r.bytes, EnterBootloaderCode.data(), EnterBootloaderCode.size());
        const std::string at = "call " + std::to_string(i) + ": ";
        if (r.length != declared)
            broken.push_back(at + "report of " + std::to_string(r.length) +
                             " bytes to an interface declaring " + std::to_string(declared));
        if (product != BootModeProductId && !(product == AppModeProductId && entry))
            broken.push_back(at + "a report other than the bootloader entry to " + r.path);
        if (r.kind == CallKind::GetFeature || entry ||
            carries(r.bytes, UnlockCode.data(), UnlockCode.size()))
            continue;
        if ((next + 1) * RecordSize <= image.size() &&
            carries(r.bytes, image.data() + next * RecordSize, RecordSize))
            ++next;
        else
            broken.push_back(at + "a report that is neither a command nor record " +
                             std::to_string(next + 1) + " of the image");
    }
    if (faultActed)
        *faultActed = program.done;
    if (trace) {
        auto note = notes.begin();
        for (std::size_t i = 0; i <= log.size(); ++i) {
            for (; note != notes.end() && note->first <= i; ++note)
                *trace << "---- " << note->second << "\n";
            if (i == log.size())
                break;
            const CallRecord& r = log[i];
            *trace << i << " " << r.time << " ms " << CallNames[int(r.kind)] << " " << r.path
                   << " h" << r.handle << (r.result ? " ok" : " failed") << " len " << r.length
                   << std::hex;
            for (std::size_t b = 0; b < std::min<std::size_t>(r.bytes.size(), 12); ++b)
                *trace << " " << int(r.bytes[b]);
            *trace << std::dec << (r.sleepMs ? " sleep " + std::to_string(r.sleepMs) : "") << "\n";
        }
        *trace << "device holds " << api.tarvex().records().size() << " records\n";
    }
    return broken;
}

// Plays scenarios on a platform with a fault: every scenario where the fault acted must fail.
int selfCheck(const fs::path& image) {
    int missed = 0;
    for (Fault fault : {Fault::FlipDataByte, Fault::SkipClose, Fault::MuteMessages}) {
        int acted = 0, caught = 0;
        for (std::uint64_t seed = 1; seed <= 60; ++seed) {
            int done = 0;
            const bool failed = !play(generate(seed), image, fault, nullptr, &done).empty();
            acted += done > 0;
            caught += done > 0 && failed;
        }
        std::cout << "fault " << int(fault) << ": acted in " << acted << " scenarios, caught in "
                  << caught << "\n";
        missed += acted == 0 || caught != acted;
    }
    return missed == 0 ? 0 : 1;
}

} // namespace
} // namespace quorvane

int main(int argc, char** argv) {
    using namespace quorvane;
    std::uint64_t count = 2000, first = 1;
    std::optional<std::uint64_t> replay;
    bool selfCheckOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--self-check") {
            selfCheckOnly = true;
            continue;
        }
        if (i + 1 == argc) {
            std::cerr << "usage: quorvane_campaign [--scenarios N] [--seed S] | --replay S | "
                         "--self-check\n";
            return 2;
        }
        const std::uint64_t value = std::stoull(argv[++i]);
        (arg == "--scenarios" ? count : arg == "--seed" ? first : replay.emplace()) = value;
    }
    test::TempDir dir;
    const fs::path image = dir.path() / "quorvane.bin";
    if (selfCheckOnly)
        return selfCheck(image);
    if (replay) {
        const Scenario sc = generate(*replay);
        std::cout << describe(sc) << "\n";
        const auto broken = play(sc, image, Fault::None, &std::cout);
        for (const std::string& b : broken)
            std::cout << "BROKEN " << b << "\n";
        return broken.empty() ? 0 : 1;
    }
    std::uint64_t failed = 0;
    const auto start = std::chrono::steady_clock::now();
    for (std::uint64_t seed = first; seed < first + count; ++seed) {
        const Scenario sc = generate(seed);
        const auto broken = play(sc, image, Fault::None, nullptr);
        if (broken.empty())
            continue;
        ++failed;
        std::cout << "FAILED " << describe(sc) << "\n";
        for (const std::string& b : broken)
            std::cout << "  " << b << "\n";
        std::cout << "  replay: quorvane_campaign --replay " << seed << "\n";
    }
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << count << " scenarios (seeds " << first << " to " << first + count - 1 << "), "
              << failed << " failed, " << s << " s, " << static_cast<double>(count) / s
              << " scenarios/s\n";
    return failed == 0 ? 0 : 1;
}
