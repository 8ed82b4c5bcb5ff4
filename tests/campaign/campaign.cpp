// The fault campaign: seeded scenarios of a misbehaving Tarvex, its image and its user, played
// through the real discovery and commands on a virtual clock and checked after each one.
//   quorvane_campaign [--scenarios N] [--seed S]   N scenarios (2000) from seed S (1) on
//   quorvane_campaign --replay S                   one scenario with every call it made
//   quorvane_campaign --self-check                 the checker catches a faulty platform
#include "device_info.h"
#include "discovery.h"
#include "firmware_updater.h"
#include "forwarding_platform.h"
#include "recording_window.h"
#include "temp_dir.h"
#include "virtual_platform.h"

#include <chrono>
#include <iostream>
#include <map>
#include <random>
#include <sstream>
#include <tuple>

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Faults switched on for a while; the last one fails enumeration itself.
constexpr bool TarvexFaults::*Switchable[] = {
    &TarvexFaults::failOpen,         &TarvexFaults::failOverlappedOpen,
    &TarvexFaults::failAttributes,   &TarvexFaults::failCapabilities,
    &TarvexFaults::failManufacturer, &TarvexFaults::failProduct,
    &TarvexFaults::failSerialNumber, &TarvexFaults::failStatus};
constexpr int Enumeration = 8;
const char* const SwitchNames[] = {"open",         "overlapped open", "attributes",
                                   "capabilities", "manufacturer",    "product",
                                   "serial",       "status",          "enumeration"};
const char* const CallNames[] = {"enumerate",   "open",         "close",
                                 "attributes",  "capabilities", "set-feature",
                                 "get-feature", "string",       "sleep"};
// A user waits this long for a command before closing the window. While the device can be
// found, every command ends well before it: every fault window has closed by FaultsEndMs.
constexpr std::int64_t PatienceMs = 150000, FaultsEndMs = 30000;

struct Scenario {
    std::uint64_t seed = 0;
    TarvexConfig device = defaultTarvexConfig();
    std::vector<std::tuple<int, std::int64_t, std::int64_t>> windows; // fault, from, until
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
    std::uint16_t length() {
        return pick<std::uint16_t>(
            {0, 2, 9, 33, 41, 65, 65, 65, 101, 1500, static_cast<std::uint16_t>(in(1, 1600))});
    }
};

Scenario generate(std::uint64_t seed) {
    Dice d{std::mt19937_64(seed)};
    Scenario sc;
    sc.seed = seed;
    TarvexConfig& c = sc.device;
    c.startMode = d.chance(60) ? TarvexMode::Application : TarvexMode::Bootloader;
    c.application.featureReportByteLength = d.length();
    c.bootloader.featureReportByteLength =
        d.chance(30) ? c.application.featureReportByteLength : d.length();
    if (d.chance(50)) // non-zero status bytes ask for the unlock report
        c.statusBytes = {d.pick<std::uint8_t>({0, 1, 0x80, 0xFF}), d.pick<std::uint8_t>({0, 1, 7})};
    if (d.chance(4))
        c.unlockCode[static_cast<std::size_t>(d.in(0, 7))] ^= 0x5A; // never unlocks
    c.leaveDelayMs = static_cast<int>(d.chance(70) ? d.in(0, 150) : d.in(0, 12000));
    c.offBusMs = static_cast<int>(d.chance(70) ? d.in(0, 500) : d.in(0, 15000));
    const int r = static_cast<int>(d.in(0, 99));
    const std::int64_t records = r < 70 ? d.in(1, 10) : r < 90 ? d.in(11, 60) : d.in(61, 400);
    sc.imageSize = d.chance(5)    ? -1
                   : d.chance(5)  ? 0
                   : d.chance(10) ? d.in(0, 12) * 40 + d.in(1, 39) // a partial last record
                                  : records * 40;
    c.expectedRecords = static_cast<int>(
        d.pick<std::int64_t>({records, records, records, records, records,
                              std::max<std::int64_t>(1, records - 2), records + 1, 0}));
    TarvexFaults& f = c.faults;
    f.failDataReport = static_cast<int>(d.chance(10) ? d.in(1, records + 1) : 0);
    f.vanishAfterDataReports = static_cast<int>(d.chance(6) ? d.in(1, records) : 0);
    f.stayAfterBootloaderEntry = d.chance(6);
    if (d.chance(6))
        f.restartInto = TarvexMode::Bootloader;
    f.neverReturn = d.chance(5);
    for (int k = 0; k <= Enumeration; ++k)
        if (d.chance(k == Enumeration ? 3 : 6)) {
            const std::int64_t from = d.chance(30) ? 0 : d.in(1, 4000);
            sc.windows.emplace_back(k, from, std::min(FaultsEndMs, from + d.in(50, 26000)));
        }
    if (d.chance(3))
        sc.unplugAt = d.in(0, 8000);
    // Interfaces around it; a few carry the Tarvex's product IDs and are taken for it.
    for (auto [list, name, impostors] :
         {std::tuple{&sc.before, "before", 2}, std::tuple{&sc.after, "after", 8}})
        for (auto n = d.chance(50) ? 0 : d.in(1, 3); n > 0; --n) {
            ForeignInterface& i = list->emplace_back();
            i.path = "hid:" + std::string(name) + std::to_string(n);
            auto product = static_cast<std::uint16_t>(d.in(1, 0xFFFF));
            if (d.chance(impostors))
                product = d.pick({AppModeProductId, BootModeProductId});
            else if (product == AppModeProductId || product == BootModeProductId)
                product ^= 0x0101;
            i.attributes = {static_cast<std::uint16_t>(d.in(1, 0xFFFF)), product, 0x0100};
            i.openable = !d.chance(20);
            i.openError = d.pick({OpenError::AccessDenied, OpenError::NotFound, OpenError::Other});
            i.featureReportByteLength = d.length();
        }
    const int u = static_cast<int>(d.in(0, 99));
    for (int k = u < 75 ? 1 : u < 95 ? 2 : 0; k > 0; --k) // of two, Force comes first
        sc.clicks.emplace_back(d.chance(50) ? 0 : d.in(1, d.chance(80) ? 2000 : 20000),
                               k == 1 && d.chance(70));
    sc.closeAtEvent = static_cast<int>(d.chance(15) ? d.in(1, records + 40) : 0);
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
      << " records" << (f.restartInto ? " into its bootloader" : "")
      << (f.neverReturn ? ", never comes back" : "")
      << (f.stayAfterBootloaderEntry ? ", ignores the entry report" : "") << ", image "
      << (sc.imageSize < 0 ? "missing" : std::to_string(sc.imageSize) + " B");
    if (f.failDataReport)
        s << ", rejects data report " << f.failDataReport;
    if (f.vanishAfterDataReports)
        s << ", vanishes after data report " << f.vanishAfterDataReports;
    for (auto [fault, from, until] : sc.windows)
        s << ", " << SwitchNames[fault] << " fails " << from << "-" << until << " ms";
    if (sc.unplugAt)
        s << ", unplugged at " << *sc.unplugAt << " ms";
    for (const auto* list : {&sc.before, &sc.after})
        for (const ForeignInterface& i : *list)
            s << ", " << i.path << " " << std::hex << i.attributes.VendorID << ":"
              << i.attributes.ProductID << std::dec << (i.openable ? "" : " unopenable")
              << " length " << i.featureReportByteLength;
    for (auto [idle, upgrade] : sc.clicks)
        s << ", after " << idle << " ms " << (upgrade ? "Upgrade" : "Force Bootloader");
    if (sc.closeAtEvent)
        s << ", closes the window at event " << sc.closeAtEvent;
    return s.str();
}

// Report ID 0, `n` bytes of content, zeros up to the report's end.
bool carries(const Bytes& report, const std::uint8_t* content, std::size_t n) {
    return report.size() > n && report[0] == 0 &&
           std::equal(content, content + n, report.begin() + 1) &&
           std::all_of(report.begin() + 1 + static_cast<std::ptrdiff_t>(n), report.end(),
                       [](std::uint8_t b) { return b == 0; });
}
bool isEntry(const CallRecord& r) {
    return r.kind == CallKind::SetFeature &&
           carries(r.bytes, EnterBootloaderCode.data(), EnterBootloaderCode.size());
}

// One deliberate fault, to prove that the checker sees it.
enum class Fault { None, FlipDataByte, SkipClose, MuteMessages };
class FaultyPlatform final : public ForwardingPlatform {
public:
    FaultyPlatform(HidPlatform& inner, Fault fault) : ForwardingPlatform(inner), fault(fault) {}
    bool setFeature(RawHandle h, const std::uint8_t* b, std::size_t n) override {
        Bytes sent(b, b + n);
        if (fault == Fault::FlipDataByte && !acted && n > 40 && b[1] != EnterBootloaderCode[0])
            sent[RecordSize] ^= 0x10, ++acted; // the last byte of a record
        return ForwardingPlatform::setFeature(h, sent.data(), n);
    }
    bool close(RawHandle h) override {
        return (fault == Fault::SkipClose && !acted++) || ForwardingPlatform::close(h);
    }
    Fault fault;
    int acted = 0;
};

struct Runaway {};

// Plays one scenario and returns every broken rule.
std::vector<std::string> play(const Scenario& sc, const fs::path& imagePath, Fault fault,
                              std::ostream* trace, int* acted = nullptr) {
    Bytes image;
    fs::remove(imagePath);
    if (sc.imageSize >= 0)
        test::writeFile(imagePath, image = test::imageBytes(static_cast<std::size_t>(sc.imageSize),
                                                            static_cast<unsigned>(sc.seed)));
    VirtualClock clock;
    VirtualPlatform api(clock, sc.device);
    api.foreignBefore = sc.before;
    api.foreignAfter = sc.after;
    const auto& log = api.log();
    FaultyPlatform program(api, fault);
    test::RecordingWindow window(program);
    DeviceState state;
    state.ProgressFullWidth = 5055;
    DeviceContext ctx{program, window, state};
    FirmwareUpdater updater(ctx, imagePath);
    std::vector<std::string> broken;
    std::multimap<std::size_t, std::string> notes; // for the trace, at log positions
    int told = 0, events = 0;
    std::int64_t started = 0;
    bool running = false, impatient = false;

    auto foreignAt = [&](const std::string& path) {
        const ForeignInterface* found = nullptr;
        for (const auto* list : {&sc.before, &sc.after})
            for (const ForeignInterface& i : *list)
                found = i.path == path ? &i : found;
        return found;
    };
    auto applyFaults = [&](std::int64_t now) {
        TarvexFaults& f = api.tarvex().config().faults;
        for (auto flag : Switchable)
            f.*flag = false;
        api.failEnumeration = false;
        api.tarvexAttached = !sc.unplugAt || now < *sc.unplugAt;
        for (auto [fault, from, until] : sc.windows)
            if (now >= from && now < until)
                (fault == Enumeration ? api.failEnumeration : f.*Switchable[fault]) = true;
    };
    api.onSleep = [&](std::int64_t now) {
        applyFaults(now);
        if (running && now - started > 2 * PatienceMs)
            throw Runaway{}; // it no longer processes events, so the user cannot stop it
    };
    window.onEvents = [&] {
        const bool waitedTooLong = running && clock.nowMs() - started > PatienceMs;
        if ((++events == sc.closeAtEvent || waitedTooLong) && !window.closing) {
            impatient = waitedTooLong;
            window.closing = true;
            notes.emplace(log.size(), "the user closes the window");
        }
    };
    window.onMessage = [&](const std::string& text) {
        const bool mute = fault == Fault::MuteMessages;
        program.acted += mute;
        told += !mute;
        notes.emplace(log.size(), "told: " + text + (mute ? " (muted)" : ""));
    };

    applyFaults(0);
    FindAndShowDevice(ctx); // the window loads
    for (auto [idle, upgrade] : sc.clicks) {
        clock.advance(idle);
        applyFaults(clock.nowMs());
        const bool found = state.DeviceFound;
        const int toldBefore = told;
        const std::size_t logBefore = log.size();
        notes.emplace(logBefore, upgrade ? "click Upgrade" : "click Force Bootloader");
        started = clock.nowMs();
        running = true;
        try {
            upgrade ? updater.upgrade() : updater.forceBootloader();
        } catch (const Runaway&) {
            broken.push_back("the command ran on without processing window events");
            break;
        }
        running = false;
        // Did the device end as the command promises: back in its application firmware with
        // the whole image, or in its bootloader after the entry report was sent?
        VirtualTarvex& device = api.tarvex();
        device.advance(clock.nowMs());
        Bytes held;
        for (const Record& record : device.records())
            held.insert(held.end(), record.begin(), record.end());
        const bool entered =
            std::any_of(log.begin() + static_cast<std::ptrdiff_t>(logBefore), log.end(), isEntry);
        const bool ok =
            device.present() && api.tarvexAttached &&
            (upgrade ? device.mode() == TarvexMode::Application && !image.empty() && held == image
                     : device.mode() == TarvexMode::Bootloader && entered);
        // Another interface with the Tarvex's product ID was taken for it: by design.
        const bool impostor = std::any_of(log.begin(), log.end(), [&](auto& r) {
            const ForeignInterface* i =
                r.kind == CallKind::Open && r.result ? foreignAt(r.path) : nullptr;
            return i && (i->attributes.ProductID == AppModeProductId ||
                         i->attributes.ProductID == BootModeProductId);
        });
        const bool toldNow = told > toldBefore;
        const bool findable = !sc.unplugAt && !sc.device.faults.neverReturn &&
                              !sc.device.faults.vanishAfterDataReports;
        if (!found && (toldNow || log.size() != logBefore))
            broken.push_back("a click with no device found did something");
        else if (found && impatient && findable && !impostor)
            broken.push_back("the command still ran after " + std::to_string(PatienceMs) +
                             " ms although the device could be found");
        else if (found && !window.closing && !impostor && !ok && !toldNow)
            broken.push_back(std::string(upgrade ? "the upgrade" : "Force Bootloader Mode") +
                             " failed (device holds " + std::to_string(held.size() / 40) +
                             " records) and told nothing");
        else if (found && !impostor && ok && toldNow)
            broken.push_back("a command that succeeded told of a failure");
        if (window.closing || window.unloads > 0)
            break;
    }
    if (!running) {              // unwinding from a runaway command may well leave handles open
        closeDeviceHandles(ctx); // the window unloads
        for (const std::string& m : api.misuse())
            broken.push_back("handle misuse: " + m);
        if (api.openHandles() != 0)
            broken.push_back(std::to_string(api.openHandles()) + " handle(s) left open");
    }

    // Every report that reached an interface: of its declared length; to an application
    // firmware only the bootloader-entry report; else the entry or unlock report, or the
    // image's next record.
    std::size_t next = 0; // the image's record expected next
    for (std::size_t k = 0; k < log.size(); ++k) {
        const CallRecord& r = log[k];
        if ((r.kind != CallKind::SetFeature && r.kind != CallKind::GetFeature) || !r.reached)
            continue;
        const ForeignInterface* other = foreignAt(r.path);
        const std::size_t declared = other ? other->featureReportByteLength : r.tarvexReportLength;
        const std::uint16_t product = other ? other->attributes.ProductID
                                      : r.tarvexMode == TarvexMode::Application ? AppModeProductId
                                                                                : BootModeProductId;
        const std::string at = "call " + std::to_string(k) + ": ";
        if (r.length != declared)
            broken.push_back(at + std::to_string(r.length) + " bytes to an interface declaring " +
                             std::to_string(declared));
        if (product != BootModeProductId && !(product == AppModeProductId && isEntry(r)))
            broken.push_back(at + "a report other than the bootloader entry to " + r.path);
        if (r.kind == CallKind::GetFeature || isEntry(r) ||
            carries(r.bytes, UnlockCode.data(), UnlockCode.size()))
            continue;
        if ((next + 1) * RecordSize <= image.size() &&
            carries(r.bytes, image.data() + next * RecordSize, RecordSize))
            ++next;
        else
            broken.push_back(at + "neither a command nor record " + std::to_string(next + 1) +
                             " of the image");
    }
    if (acted)
        *acted = program.acted;
    for (std::size_t k = 0; trace && k <= log.size(); ++k) {
        for (auto [from, to] = notes.equal_range(k); from != to; ++from)
            *trace << "---- " << from->second << "\n";
        if (k == log.size())
            break;
        const CallRecord& r = log[k];
        *trace << k << " " << r.time << " ms " << CallNames[int(r.kind)] << " " << r.path << " h"
               << r.handle << (r.result ? " ok" : " failed") << " " << (r.sleepMs + r.length)
               << std::hex;
        for (std::size_t b = 0; b < std::min<std::size_t>(r.bytes.size(), 12); ++b)
            *trace << " " << int(r.bytes[b]);
        *trace << std::dec << "\n";
    }
    return broken;
}

// Plays scenarios on a faulty platform: every one in which the fault acted must fail. No
// other interface takes the Tarvex's place there, so every rule applies in full.
int selfCheck(const fs::path& image) {
    int missed = 0;
    for (Fault fault : {Fault::FlipDataByte, Fault::SkipClose, Fault::MuteMessages}) {
        int acted = 0, caught = 0;
        for (std::uint64_t seed = 1; seed <= 60; ++seed) {
            Scenario sc = generate(seed);
            sc.before.clear();
            sc.after.clear();
            int times = 0;
            const bool failed = !play(sc, image, fault, nullptr, &times).empty();
            acted += times > 0;
            caught += times > 0 && failed;
        }
        std::cout << "fault " << int(fault) << " acted in " << acted << " scenarios, caught in "
                  << caught << "\n";
        missed += acted == 0 || caught != acted;
    }
    return missed;
}

} // namespace
} // namespace quorvane

int main(int argc, char** argv) {
    using namespace quorvane;
    std::map<std::string, std::uint64_t> opt{{"--scenarios", 2000}, {"--seed", 1}};
    for (int i = 1; i + 1 < argc; i += 2)
        opt[argv[i]] = std::stoull(argv[i + 1]);
    const bool selfChecking = argc == 2 && std::string(argv[1]) == "--self-check";
    if (opt.size() > 2 + opt.count("--replay") || (argc % 2 == 0 && !selfChecking)) {
        std::cerr << "usage: quorvane_campaign [--scenarios N] [--seed S] | --replay S | "
                     "--self-check\n";
        return 2;
    }
    test::TempDir dir;
    const fs::path image = dir.path() / "quorvane.bin";
    if (selfChecking)
        return selfCheck(image) == 0 ? 0 : 1;
    const std::uint64_t first = opt.count("--replay") ? opt["--replay"] : opt["--seed"];
    const std::uint64_t count = opt.count("--replay") ? 1 : opt["--scenarios"];
    std::uint64_t failed = 0;
    const auto start = std::chrono::steady_clock::now();
    for (std::uint64_t seed = first; seed < first + count; ++seed) {
        const Scenario sc = generate(seed);
        if (opt.count("--replay"))
            std::cout << describe(sc) << "\n";
        const auto broken =
            play(sc, image, Fault::None, opt.count("--replay") ? &std::cout : nullptr);
        if (!broken.empty() && !opt.count("--replay"))
            std::cout << "FAILED " << describe(sc) << "\n";
        for (const std::string& b : broken)
            std::cout << "  broken: " << b << "\n";
        if (!broken.empty())
            std::cout << "  replay: quorvane_campaign --replay " << seed << "\n";
        failed += !broken.empty();
    }
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << count << " scenarios (seeds " << first << " to " << first + count - 1 << "), "
              << failed << " failed, " << s << " s, " << static_cast<double>(count) / s
              << " scenarios/s\n";
    return failed == 0 ? 0 : 1;
}
