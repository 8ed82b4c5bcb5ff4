// The fault campaign: seeded scenarios of a misbehaving Tarvex, its image and its user, played
// through the real discovery and commands on a virtual clock and checked after each one.
#include "captions.h"
#include "discovery.h"
#include "firmware_updater.h"
#include "forwarding_platform.h"
#include "recording_window.h"
#include "temp_dir.h"
#include "unit_locks.h"
#include "virtual_platform.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <iostream>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <utility>

using namespace quorvane;
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Ms = std::int64_t;
using U16 = std::uint16_t;
int succeeded[2] = {}; // Force Bootloader Mode, Upgrade: a campaign where none succeeds is void
int actedIn[4] = {};   // per deliberate fault, the scenarios it acted in

// Faults switched on for a while; the last, without a member, fails enumeration itself.
using F = TarvexFaults;
bool F::*const Switchable[] = {&F::failOpen,         &F::failOverlappedOpen, &F::failAttributes,
                               &F::failCapabilities, &F::failManufacturer,   &F::failProduct,
                               &F::failSerialNumber, &F::failStatus,         nullptr};
const char* const SwitchNames[] = {"open",          "overlapped open", "attributes",
                                   "capabilities",  "manufacturer",    "product",
                                   "serial number", "status",          "enumeration"};
const char* const CallNames[] = {"enumerate",   "open",         "close",
                                 "attributes",  "capabilities", "set-feature",
                                 "get-feature", "string",       "sleep"};
// The user's patience; while the device can be found, commands end sooner (faults by 30 s).
constexpr Ms PatienceMs = 150000, FaultsEndMs = 30000;

// mt19937_64 with our own mappings (a seed means one scenario everywhere), telling each choice.
struct Dice {
    std::mt19937_64 rng;
    std::ostringstream text;
    Ms in(Ms lo, Ms hi) { return lo + Ms(rng() % std::uint64_t(hi - lo + 1)); }
    bool chance(int percent) { return in(0, 99) < percent; }
    template <class T> T pick(std::initializer_list<T> l) { return l.begin()[rng() % l.size()]; }
    U16 length() { return pick<U16>({0, 2, 9, 33, 41, 65, 65, 65, 101, 1500, U16(in(1, 1600))}); }
    bool say(const char* what, bool v) { return text << (v ? ", " + std::string(what) : ""), v; }
    template <class T> T say(const char* what, T v) { return text << ", " << what << " " << +v, v; }
    // In `percent` of the scenarios a number from lo to hi, told; else `otherwise`.
    Ms sometimes(int percent, const char* what, Ms lo, Ms hi, Ms otherwise = 0) {
        return chance(percent) ? say(what, in(lo, hi)) : otherwise;
    }
};

// Report ID 0, `n` bytes of content, zeros up to the report's end.
bool carries(const Bytes& report, const std::uint8_t* content, std::size_t n) {
    Bytes expected(std::max(report.size(), n + 1));
    std::copy_n(content, n, expected.begin() + 1);
    return report == expected;
}
bool sets(const CallRecord& r, const auto& code) {
    return r.kind == CallKind::SetFeature && carries(r.bytes, code.data(), code.size());
}
const auto isReport = [](const CallRecord& r) {
    return r.kind == CallKind::SetFeature || r.kind == CallKind::GetFeature;
};
const auto isEntry = [](const CallRecord& r) { return sets(r, EnterBootloaderCode); };
const auto isCommand = [](const CallRecord& r) { return isEntry(r) || sets(r, UnlockCode); };

// One deliberate fault, to prove that the checker sees it.
enum class Fault { None, FlipDataByte, SkipClose, MuteMessages };
struct FaultyPlatform final : ForwardingPlatform {
    FaultyPlatform(HidPlatform& inner, Fault fault) : ForwardingPlatform(inner), fault(fault) {}
    CallResult setFeature(RawHandle h, const std::uint8_t* b, std::size_t n) override {
        ++reports;
        Bytes sent(b, b + n);
        if (fault == Fault::FlipDataByte && !acted && n > 40 && b[1] != EnterBootloaderCode[0])
            sent[RecordSize] ^= 0x10, ++acted; // the last byte of a record
        return ForwardingPlatform::setFeature(h, sent.data(), n);
    }
    CallResult close(RawHandle h) override {
        if (fault == Fault::SkipClose && !acted++)
            return CallResult{true, {}, {}};
        return ForwardingPlatform::close(h);
    }
    // An unexpected error from the platform: its `throwAt`-th enumeration or report throws.
    std::vector<EnumeratedInterface> enumerateInterfaces() override {
        return maybeThrow(), ForwardingPlatform::enumerateInterfaces();
    }
    CallResult getFeature(RawHandle h, std::uint8_t* b, std::size_t n) override {
        ++reports;
        return maybeThrow(), ForwardingPlatform::getFeature(h, b, n);
    }
    void maybeThrow() {
        if (++calls == throwAt)
            throw std::runtime_error("a platform error");
    }
    Fault fault;
    int acted = 0;
    Ms reports = 0;                         // sent through it
    Ms calls = -(Ms{1} << 40), throwAt = 0; // calls counted from each command's start
};

// An unexpected error, or a second unit there before the first report, may stop a command the
// device went through.
bool unsureOf(const FaultyPlatform& program, Ms secondAt, Ms now) {
    return (program.throwAt > 0 && program.calls >= program.throwAt) ||
           (secondAt >= 0 && now >= secondAt);
}

// Draws scenario `seed` and plays it: returns every choice in words, and the rules broken.
std::pair<std::string, std::vector<std::string>> play(std::uint64_t seed, const fs::path& imagePath,
                                                      Fault fault, std::ostream* trace) {
    Dice d{std::mt19937_64(seed), {}};
    d.text << "seed " << seed;
    TarvexConfig c = defaultTarvexConfig();
    if (d.say("starts in its bootloader", d.chance(40)))
        c.startMode = TarvexMode::Bootloader;
    auto& length = c.application.featureReportByteLength;
    length = d.say("application report length", d.length());
    c.bootloader.featureReportByteLength =
        d.say("bootloader report length", d.chance(30) ? length : d.length());
    // Non-zero status bytes ask for the unlock report; a wrong unlock code never unlocks.
    c.statusBytes = {d.say("status byte 1", d.pick<std::uint8_t>({0, 0, 0, 1, 0x80, 0xFF})),
                     d.say("status byte 2", d.pick<std::uint8_t>({0, 1, 7}))};
    c.unlockCode[d.in(0, 7)] ^= d.say("wrong unlock code", d.chance(4)) ? 0x5A : 0;
    c.leaveDelayMs = d.say("leaves the bus after ms", d.chance(70) ? d.in(0, 150) : d.in(0, 12000));
    c.offBusMs = d.say("for ms", d.chance(70) ? d.in(0, 500) : d.in(0, 15000));
    const auto records = d.chance(70) ? d.in(1, 10) : d.chance(67) ? d.in(11, 60) : d.in(61, 400);
    Bytes image; // of the image file, if there is one
    fs::remove(imagePath);
    if (!d.say("no image", d.chance(5))) {
        const Ms size = d.chance(5) ? 0 : d.chance(10) ? records * 40 - d.in(1, 39) : records * 40;
        test::writeFile(imagePath, image = test::imageBytes(d.say("image bytes", size), seed));
    }
    c.expectedRecords = d.say("restarts after records",
                              d.chance(80) ? records : d.pick({records - 1, records + 1, Ms{0}}));
    TarvexFaults& f = c.faults;
    f.failDataReport = int(d.sometimes(10, "rejects data report", 1, records + 1));
    f.vanishAfterDataReports = int(d.sometimes(6, "vanishes after data report", 1, records));
    f.stayAfterBootloaderEntry = d.say("ignores the entry report", d.chance(6));
    if (d.say("restarts into its bootloader", d.chance(6)))
        f.restartInto = TarvexMode::Bootloader;
    f.neverReturn = d.say("never comes back", d.chance(5));
    std::pair<Ms, Ms> when[std::size(Switchable)]{}; // when each fault is on, in ms
    for (std::size_t k = 0; k < std::size(Switchable); ++k)
        if (d.chance(Switchable[k] ? 6 : 3)) {
            const Ms from = d.chance(30) ? 0 : d.in(1, 4000);
            when[k] = {from, std::min(FaultsEndMs, from + d.in(50, 26000))};
            d.text << ", " << SwitchNames[k] << " fails " << from << "-" << when[k].second << " ms";
        }
    const Ms unplugAt = d.sometimes(3, "unplugged at ms", 0, 8000, -1); // pulled out for good
    // Another unit: from the start, plugged in later on a node this user may not open, or while
    // the Tarvex is off the bus, in either mode, with its serial number, another or none.
    const Ms secondAt =
        d.chance(4) ? d.say("a second unit from ms", d.chance(50) ? 0 : d.in(1, 9000)) : -1;
    const bool secondInRestart = d.say("a second unit plugged in while it restarts", d.chance(8));
    const U16 secondProduct = d.pick({AppModeProductId, BootModeProductId});
    const std::u16string secondSerial = d.pick<const char16_t*>({u"TX-000417", u"TX-2", u""});
    // The user stops the command at this time (0: never), as Ctrl-C may at any moment.
    const Ms interruptAt = d.sometimes(6, "interrupted at ms", 1, 12000);
    Ms changeAt = d.sometimes(5, "the image overwritten at ms", 0, 3000, -1);
    const Ms changedSize = d.pick({records, records + 1, records / 2}) * RecordSize;
    VirtualClock clock;
    VirtualPlatform api(clock, c);
    api.foreignAfter.reserve(16); // handles point into it: units plugged in later never move it
    for (auto [list, name] :
         {std::pair{&api.foreignBefore, "before"}, {&api.foreignAfter, "after"}})
        for (auto n = d.chance(50) ? 0 : d.in(1, 3); n > 0; --n)
            list->push_back(
                {.path = "hid:" + std::string(name) + std::to_string(n),
                 .attributes = {0x0F0F, d.say("HID product", U16(d.in(1, 0x2000))), 0x0100},
                 .openable = !d.say("unopenable", d.chance(20)),
                 .featureReportByteLength = d.say("length", d.length()),
                 .unit = ""});
    std::vector<std::pair<Ms, bool>> clicks; // idle ms, then Upgrade (or Force)
    for (int k = d.pick({0, 1, 1, 1, 1, 1, 1, 1, 2, 2}); k > 0; --k) { // of two, Force comes first
        const Ms idle = d.chance(50) ? 0 : d.in(1, d.chance(80) ? 2000 : 20000);
        const bool upgrade = clicks.emplace_back(idle, k == 1 && d.chance(70)).second;
        d.text << ", after " << idle << " ms " << (upgrade ? "Upgrade" : "Force Bootloader");
    }
    // The user closes the window at this processing of events (0: never).
    const Ms closeAtEvent = d.sometimes(15, "closes the window at event", 1, records + 40);
    // A platform telling no unit's place; an application restarting into itself once sent the
    // entry report; a second program trying the same unit at the command's n-th report.
    api.tarvexUnitIsPlace = !d.say("no place told", d.chance(15));
    const Ms restartEvery = d.sometimes(4, "restarts into its application every ms", 1000, 5000);
    const Ms secondProgramAt = d.sometimes(4, "a second program at report", 1, records + 3);
    const UnitLocks locks(imagePath.parent_path());

    const auto& log = api.log();
    FaultyPlatform program(api, fault);
    program.throwAt = d.sometimes(4, "the platform throws at its call", 1, 40);
    test::RecordingWindow window(program);
    DeviceState state;
    DeviceContext ctx{program, window, state};
    FirmwareUpdater updater(ctx, imagePath, {nullptr, nullptr, "window", nullptr, &locks});
    std::vector<std::string> broken;
    Ms events = 0, started = 0;
    std::optional<Ms> restartUnitAt;      // when the unit plugged in during a restart came
    std::size_t interruptedAt = SIZE_MAX; // the log's length when the user stopped a command
    bool running = false, upgrading = false, impatient = false, inSecond = false;
    Ms lastRestart = 0;
    auto note = [&, traced = std::size_t{0}](const std::string& text) mutable {
        for (; trace && traced < log.size(); ++traced) { // the calls since the last note
            const CallRecord& r = log[traced];
            *trace << traced << " " << r.time << " ms " << CallNames[int(r.kind)] << " " << r.path
                   << " h" << r.handle << (r.result ? " ok " : " failed ") << (r.sleepMs + r.length)
                   << std::hex;
            for (std::size_t b = 0; b < std::min<std::size_t>(r.bytes.size(), 12); ++b)
                *trace << " " << int(r.bytes[b]);
            *trace << std::dec << "\n";
        }
        if (trace && !text.empty())
            *trace << "---- " << text << "\n";
    };
    auto secondProgram = [&] {
        inSecond = true;
        FaultyPlatform other(api, Fault::None);
        test::RecordingWindow otherWindow(other);
        DeviceState otherState;
        DeviceContext otherCtx{other, otherWindow, otherState};
        FindAndShowDevice(otherCtx);
        FirmwareUpdater(otherCtx, imagePath, {nullptr, nullptr, "cli", nullptr, &locks}).upgrade();
        otherState.closeHandles();
        if (other.reports > 0)
            broken.push_back("a second program sent reports to the unit being updated");
        inSecond = false;
    };
    api.onSleep = [&](Ms now) { // the faults of the moment
        if (inSecond)
            return;
        if (secondProgramAt > 0 && running && program.reports == secondProgramAt)
            ++program.reports, secondProgram();
        if (restartEvery > 0 && api.tarvex().bootloaderEntries() > 0 && api.tarvex().present() &&
            api.tarvex().mode() == TarvexMode::Application && now - lastRestart >= restartEvery)
            lastRestart = now, api.tarvex().restart(now, TarvexMode::Application);
        TarvexFaults& faults = api.tarvex().config().faults;
        for (std::size_t k = 0; k < std::size(Switchable); ++k)
            (Switchable[k] ? faults.*Switchable[k] : api.failEnumeration) =
                now >= when[k].first && now < when[k].second;
        api.tarvexAttached = unplugAt < 0 || now < unplugAt;
        if (secondAt >= 0 && now >= secondAt && api.foreignAfter.size() < 4)
            api.foreignAfter.push_back({.path = "hid:second",
                                        .attributes = {2, BootModeProductId, 0x0100},
                                        .openable = secondAt == 0,
                                        .unit = ""});
        if (secondInRestart && running && !api.tarvex().present() && !restartUnitAt) {
            restartUnitAt = now;
            api.foreignAfter.push_back({.path = "hid:newcomer",
                                        .attributes = {0x1D50, secondProduct, 0x0100},
                                        .serialNumber = secondSerial,
                                        .unit = "",
                                        .unitIsPlace = api.tarvexUnitIsPlace});
        }
        if (interruptAt > 0 && running && now - started >= interruptAt &&
            !std::exchange(window.closing, true))
            interruptedAt = log.size(), note("the user interrupts");
        if (changeAt >= 0 && upgrading && now >= started + changeAt) // sent as it was checked
            changeAt = -1, test::writeFile(imagePath, test::imageBytes(changedSize, seed + 1));
        if (running && now - started > 2 * PatienceMs) // no events: the user cannot stop it
            throw std::string("the command ran on without processing window events");
    };
    window.onEvents = [&] {
        impatient = running && clock.nowMs() - started > PatienceMs;
        if ((++events == closeAtEvent || impatient) && !std::exchange(window.closing, true))
            interruptedAt = log.size(), note("the user closes the window");
    };
    window.onMessage = [&](const std::string& text) {
        note("told: " + text);
        if (fault == Fault::MuteMessages)
            window.messages.pop_back(), ++program.acted; // as if never told
    };

    api.onSleep(0);
    FindAndShowDevice(ctx); // the window loads
    for (auto [idle, upgrade] : clicks) {
        clock.advance(idle);
        api.onSleep(clock.nowMs());
        const auto toldBefore = window.messages.size(), logBefore = log.size();
        // (Units are counted from the enumeration: while it fails, none can be seen.)
        api.tarvex().advance(clock.nowMs());
        const bool twoUnits = secondAt >= 0 && clock.nowMs() >= secondAt && state.DeviceFound &&
                              !api.failEnumeration && api.tarvexAttached && api.tarvex().present();
        note(upgrade ? "click Upgrade" : "click Force Bootloader");
        started = clock.nowMs(), running = true, upgrading = upgrade; // found or not
        program.calls = 0, program.reports = 0;
        try {
            upgrade ? updater.upgrade() : updater.forceBootloader();
        } catch (const std::string& e) {
            broken.push_back(e);
            break;
        }
        running = false;
        // A command talks to one unit: the one its first report went to. Another unit it was
        // shown alone (the Tarvex gone) may be that one; the oracle cannot judge its state.
        // The outcome recorded is what the Tarvex went through: the records it accepted.
        std::set<std::string> targets;
        bool sentAny = false, entered = false; // a report, reaching an interface or not
        Ms accepted = 0;
        for (auto r = log.begin() + logBefore; r != log.end(); ++r) {
            sentAny |= isReport(*r), entered |= isEntry(*r);
            if (isReport(*r) && r->reached)
                targets.insert(r->tarvex ? std::string("the Tarvex") : r->path);
            accepted += r->kind == CallKind::SetFeature && r->tarvex && r->result &&
                        r->tarvexMode == TarvexMode::Bootloader && !isCommand(*r);
        }
        // Where no place tells the Tarvex, a unit plugged in while it restarts with no serial
        // number or the Tarvex's is, alone on the bus, the Tarvex for all anyone can tell.
        const UpdateSession& session = *updater.lastSession();
        const auto& pinned = session.target();
        const bool blind = !api.tarvexUnitIsPlace && restartUnitAt &&
                           (!pinned || pinned->SerialNumber.empty() || secondSerial.empty() ||
                            secondSerial == u"TX-000417");
        if (targets.size() > 1 && !blind)
            broken.push_back("one command sent reports to " + std::to_string(targets.size()) +
                             " units");
        if (!targets.empty() && !targets.count("the Tarvex")) {
            if (window.closing || window.unloads > 0)
                break;
            continue;
        }
        // Success: back in the application with the whole image, or in the bootloader after entry.
        VirtualTarvex& device = api.tarvex();
        device.advance(clock.nowMs());
        const bool ok =
            device.present() && api.tarvexAttached &&
            (upgrade ? device.mode() == TarvexMode::Application && !image.empty() &&
                           image.size() == RecordSize * device.records().size() &&
                           std::memcmp(device.records().data(), image.data(), image.size()) == 0
                     : device.mode() == TarvexMode::Bootloader && entered);
        succeeded[upgrade] += ok;
        // A completed upgrade only where the Tarvex runs the whole image.
        if (upgrade && session.recordsSent() != accepted)
            broken.push_back("the outcome counts " + std::to_string(session.recordsSent()) +
                             " records where the Tarvex accepted " + std::to_string(accepted));
        if (upgrade && !ok && session.outcome() == Outcome::Completed && !session.stopped() &&
            !unsureOf(program, secondAt, clock.nowMs()) && !blind)
            broken.push_back("an upgrade recorded as completed left the Tarvex without its image");
        // The user may close the window, but need not give up on a device that is there: a
        // bootloader still there after the last record is waited for, the user told why.
        const bool stillFinishing = std::find(window.notices.begin(), window.notices.end(),
                                              StillFinishingMessage) != window.notices.end();
        const bool closed =
            window.closing && (stillFinishing || !(impatient && unplugAt < 0 && !f.neverReturn &&
                                                   !f.vanishAfterDataReports));
        const bool told = window.messages.size() > toldBefore;
        // Another unit is told of, never a failure: what the Tarvex went through stands.
        const bool toldOfFailure =
            told && window.messages.back().rfind("Another Tarvex was connected", 0) != 0;
        // Without a place, a unit plugged in meanwhile may stop the command (as `blind` above).
        const bool unsure = unsureOf(program, secondAt, clock.nowMs()) || blind ||
                            (!api.tarvexUnitIsPlace && restartUnitAt);
        if (ok && restartUnitAt && !window.closing && !told)
            broken.push_back("another unit came and went untold");
        if (ok ? toldOfFailure && !unsure : !closed && !told && !blind)
            broken.push_back(ok        ? "a command that succeeded told of a failure"
                             : upgrade ? "the upgrade failed and told nothing"
                                       : "Force Bootloader Mode failed and told nothing");
        if (twoUnits && !targets.empty())
            broken.push_back("a report went out while two units were connected");
        // The window stays after an upgrade refused before its first report, and only then.
        if (upgrade && !unsure && (window.unloads == 0) == (sentAny || window.closing))
            broken.push_back(sentAny ? "the window stayed open after the upgrade sent reports"
                                     : "the window closed after an upgrade that sent nothing");
        if (window.closing || window.unloads > 0)
            break;
    }
    ctx.state.closeHandles();                                              // the window unloads
    broken.insert(broken.end(), api.misuse().begin(), api.misuse().end()); // handle misuse
    if (api.openHandles() != 0)
        broken.push_back(std::to_string(api.openHandles()) + " handle(s) left open");
    note("");

    // No report once the user stopped the command. Every report that reached the Tarvex has its
    // declared length; to its application only the entry report; to its bootloader the entry or
    // unlock report, or the image's next record. (Another unit's is judged with its command.)
    std::size_t next = 0; // the image's record expected next
    for (std::size_t k = 0; k < log.size(); ++k) {
        const CallRecord& r = log[k];
        if (!isReport(r))
            continue;
        const std::string at = "call " + std::to_string(k) + ": ";
        if (k >= interruptedAt)
            broken.push_back(at + "a report after the interrupt");
        if (!r.reached || !r.tarvex)
            continue;
        if ((r.tarvexMode == TarvexMode::Application && !isEntry(r)))
            broken.push_back(at + "a report other than the bootloader entry to " + r.path);
        else if (r.length != r.tarvexReportLength)
            broken.push_back(at + std::to_string(r.length) + " bytes to a device declaring " +
                             std::to_string(r.tarvexReportLength));
        if (r.kind == CallKind::GetFeature || isCommand(r))
            continue;
        if ((next + 1) * RecordSize <= image.size() &&
            carries(r.bytes, image.data() + next * RecordSize, RecordSize))
            ++next;
        else
            broken.push_back(at + "neither a command nor image record " + std::to_string(next + 1));
    }
    actedIn[int(fault)] += program.acted > 0; // the self-check: where its fault acted, it must fail
    if (fault != Fault::None)
        broken.assign(program.acted > 0 && broken.empty(), "the fault went unseen");
    return {d.text.str(), broken};
}

} // namespace

int main(int argc, char** argv) {
    std::uint64_t count = 2000, first = 1;
    std::optional<std::uint64_t> replay;
    bool selfCheck = false;
    CLI::App app("The fault campaign");
    auto *scenarios = app.add_option("--scenarios", count),
         *seeds = app.add_option("--seed", first);
    app.add_option("--replay", replay)->excludes(scenarios, seeds);
    app.add_flag("--self-check", selfCheck)->excludes(scenarios, seeds, app.get_option("--replay"));
    CLI11_PARSE(app, argc, argv);
    if (selfCheck || replay)
        first = replay.value_or(1), count = replay ? 1 : 60;
    test::TempDir dir;
    const fs::path image = dir.path() / "quorvane.bin";
    int failed = 0;
    const auto start = std::chrono::steady_clock::now();
    // The self-check plays the scenarios once on each faulty platform.
    for (int fault = selfCheck; fault <= 3 * selfCheck; ++fault)
        for (std::uint64_t seed = first; seed < first + count; ++seed) {
            const auto [text, broken] =
                play(seed, image, Fault(fault), replay ? &std::cout : nullptr);
            if (replay || !broken.empty())
                std::cout << (broken.empty() ? "" : "FAILED ") << text << "\n";
            for (const std::string& b : broken)
                std::cout << "  broken: " << b << "\n";
            failed += !broken.empty();
        }
    for (int fault = 1; selfCheck && fault <= 3; ++fault) // a fault that never acts proves nothing
        failed += !actedIn[fault] && std::cout << "  broken: fault " << fault << " never acted\n";
    failed += count >= 1000 && !(succeeded[0] && succeeded[1]) &&
              std::cout << "  broken: no Upgrade or no Force Bootloader Mode ever succeeded\n";
    const std::chrono::duration<double> s = std::chrono::steady_clock::now() - start;
    std::cout << count << " scenarios (seeds " << first << " to " << first + count - 1 << "), "
              << failed << " failed, " << s.count() << " s, "
              << static_cast<double>(count) / s.count() << " scenarios/s\n";
    return failed == 0 ? 0 : 1;
}
