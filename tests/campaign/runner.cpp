#include "runner.h"

#include "captions.h"
#include "device_info.h"
#include "discovery.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <ostream>

namespace quorvane::campaign {

namespace fs = std::filesystem;

namespace {

// A command still running this long after the user's last chance to end it has stopped
// processing window events: the scenario cannot end, so the campaign stops here.
constexpr std::int64_t RunawayMs = 60000;
// A user who waits "forever" for a device that may never come back gives up after this.
constexpr std::int64_t LongestPatienceMs = 90000;

bool chance(std::mt19937_64& rng, double p) {
    return static_cast<double>(rng() >> 11) * 0x1.0p-53 < p;
}

const char* callName(CallKind k) {
    static constexpr const char* names[] = {"enumerate",   "open",         "close",
                                            "attributes",  "capabilities", "set-feature",
                                            "get-feature", "string",       "sleep"};
    return names[static_cast<int>(k)];
}

} // namespace

const char* outcomeName(Outcome o) {
    static constexpr const char* names[] = {"no command",          "image refused",
                                            "upgrade completed",   "upgrade told a failure",
                                            "closed by the user",  "force reached the bootloader",
                                            "force told a failure"};
    return names[static_cast<int>(o)];
}

void placeImage(const ImagePlan& plan, const fs::path& path) {
    std::error_code ec;
    fs::remove_all(path, ec);
    switch (plan.kind) {
    case ImageKind::Missing:
        return;
    case ImageKind::Directory:
        fs::create_directory(path);
        return;
    case ImageKind::Bytes: {
        const std::vector<std::uint8_t> bytes = imageContent(plan);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return;
    }
    }
}

ImageState imageState(const fs::path& path) {
    ImageState st;
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    st.exists = fs::exists(status);
    st.isDirectory = fs::is_directory(status);
    if (!st.exists || st.isDirectory)
        return st;
    st.mtime = fs::last_write_time(path, ec);
    std::ifstream in(path, std::ios::binary);
    st.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return st;
}

int descriptorsOpenOn(const fs::path& path) {
#ifdef __linux__
    int count = 0;
    std::error_code ec;
    const std::string target = path.string();
    for (const auto& entry : fs::directory_iterator("/proc/self/fd", ec)) {
        std::error_code link;
        const std::string to = fs::read_symlink(entry.path(), link).string();
        if (!link && (to == target || to == target + " (deleted)"))
            ++count;
    }
    return ec ? -1 : count;
#else
    (void)path;
    return -1;
#endif
}

ScenarioRun::ScenarioRun(const Scenario& scenario, const fs::path& directory)
    : sc_(scenario),
      imagePath_(directory / ("seed-" + std::to_string(scenario.seed)) / "quorvane.bin"),
      api_(clock_, scenario.device), window_(api_), ctx_{api_, window_, state_},
      updater_(ctx_, imagePath_), userDice_(scenario.seed ^ 0x9E3779B97F4A7C15ULL) {
    state_.ProgressFullWidth = 5055;
    fs::create_directories(imagePath_.parent_path());
    api_.foreignBefore = sc_.foreignBefore;
    api_.foreignAfter = sc_.foreignAfter;
}

ScenarioRun::~ScenarioRun() {
    std::error_code ec;
    fs::remove_all(imagePath_.parent_path(), ec);
}

void ScenarioRun::applySwitches(std::int64_t now) {
    TarvexFaults& f = api_.tarvex().config().faults;
    for (bool* flag : {&f.failOpen, &f.failOverlappedOpen, &f.failAttributes, &f.failCapabilities,
                       &f.failManufacturer, &f.failProduct, &f.failSerialNumber, &f.failStatus})
        *flag = false;
    api_.failEnumeration = false;
    api_.tarvexAttached = !sc_.unplugAt || now < *sc_.unplugAt;
    for (const SwitchWindow& w : sc_.switches) {
        if (now < w.from || now >= w.until)
            continue;
        switch (w.which) {
        case Switch::Enumeration:
            api_.failEnumeration = true;
            break;
        case Switch::Open:
            f.failOpen = true;
            break;
        case Switch::OverlappedOpen:
            f.failOverlappedOpen = true;
            break;
        case Switch::Attributes:
            f.failAttributes = true;
            break;
        case Switch::Capabilities:
            f.failCapabilities = true;
            break;
        case Switch::Manufacturer:
            f.failManufacturer = true;
            break;
        case Switch::Product:
            f.failProduct = true;
            break;
        case Switch::SerialNumber:
            f.failSerialNumber = true;
            break;
        case Switch::Status:
            f.failStatus = true;
            break;
        }
    }
}

std::int64_t ScenarioRun::watchLimit() const {
    std::int64_t patience = sc_.user.patienceMs;
    if (patience == Forever && !current_->bound)
        patience = LongestPatienceMs;
    return current_->bound ? std::min(*current_->bound, patience) : patience;
}

void ScenarioRun::closeWindow() {
    window_.closing = true;
    if (current_ && !current_->closedAtLog)
        current_->closedAtLog = api_.log().size();
}

void ScenarioRun::unloadWindow() {
    closeDeviceHandles(ctx_); // what the window's unload does
}

void ScenarioRun::atSleep(std::int64_t now) {
    ++sleeps_;
    applySwitches(now);
    // The image changes under the program, but only before the transfer reads it.
    if (sc_.change && !observation_.imageChanged && sleeps_ == sc_.change->atSleep &&
        std::find(window_.captions.begin(), window_.captions.end(), CaptionUpdating) ==
            window_.captions.end()) {
        placeImage(sc_.change->to, imagePath_);
        observation_.imageChanged = true;
    }
    if (current_ && now - current_->timeBegin > watchLimit() + RunawayMs) {
        std::fprintf(
            stderr,
            "FAIL %s\n  (6) the command ran %lld ms without processing window events "
            "that could stop it; campaign stopped\n  replay: QUORVANE_CAMPAIGN_SEED=%llu\n",
            describe(sc_).c_str(), static_cast<long long>(now - current_->timeBegin),
            static_cast<unsigned long long>(sc_.seed));
        std::fflush(stderr);
        std::_Exit(3);
    }
}

void ScenarioRun::atEvents() {
    ++events_;
    if (!current_ || window_.closing)
        return;
    const std::int64_t elapsed = clock_.nowMs() - current_->timeBegin;
    if (current_->bound && elapsed > *current_->bound) {
        current_->boundExceeded = true;
        closeWindow();
        return;
    }
    if (elapsed > watchLimit() || events_ == sc_.user.closeAtEvent) {
        closeWindow();
        return;
    }
    if (!chance(userDice_, sc_.user.clickChance))
        return;
    NestedClick k;
    k.command = chance(userDice_, 0.5) ? Command::Upgrade : Command::ForceBootloader;
    k.logBefore = api_.log().size();
    k.messagesBefore = window_.messages.size();
    k.captionsBefore = window_.captions.size();
    k.enabledBefore = window_.upgradeEnabled;
    k.unloadsBefore = window_.unloads;
    if (k.command == Command::Upgrade)
        updater_.upgrade();
    else
        updater_.forceBootloader();
    k.logAfter = api_.log().size();
    k.messagesAfter = window_.messages.size();
    k.captionsAfter = window_.captions.size();
    k.enabledAfter = window_.upgradeEnabled;
    k.unloadsAfter = window_.unloads;
    observation_.nestedClicks.push_back(k);
}

void ScenarioRun::runCommand(const UserStep& step) {
    clock_.advance(step.idleMs);
    applySwitches(clock_.nowMs());
    CommandRun& c = current_.emplace();
    c.command = step.command;
    c.logBegin = api_.log().size();
    c.timeBegin = clock_.nowMs();
    c.messagesBegin = window_.messages.size();
    c.captionsBegin = window_.captions.size();
    c.unloadsBegin = window_.unloads;
    c.enabledBefore = window_.upgradeEnabled;
    c.deviceFoundAtClick = state_.DeviceFound;
    c.imageChangedBeforeClick = observation_.imageChanged;
    c.bound = commandBound(sc_, c.timeBegin);

    if (step.command == Command::Upgrade)
        updater_.upgrade();
    else
        updater_.forceBootloader();

    c.logEnd = api_.log().size();
    c.timeEnd = clock_.nowMs();
    c.messagesEnd = window_.messages.size();
    c.captionsEnd = window_.captions.size();
    c.unloadsEnd = window_.unloads;
    c.enabledAfter = window_.upgradeEnabled;
    VirtualTarvex& device = api_.tarvex();
    device.advance(c.timeEnd);
    c.devicePresent = device.present() && api_.tarvexAttached;
    c.deviceMode = device.mode();
    c.hostFound = state_.DeviceFound;
    c.hostProductId = state_.Attributes.ProductID;
    c.imageDescriptors = descriptorsOpenOn(imagePath_);
    observation_.commands.push_back(c);
    current_.reset();
}

void ScenarioRun::play() {
    placeImage(sc_.image, imagePath_);
    observation_.imageBefore = imageState(imagePath_);
    window_.onMessage = [this](const std::string& text) {
        observation_.messages.push_back({text, api_.log().size(), window_.closing});
    };
    window_.onUnload = [this] {
        if (current_)
            current_->unloadedAtLog = api_.log().size();
    };
    window_.onEvents = [this] { atEvents(); };
    api_.onSleep = [this](std::int64_t now) { atSleep(now); };

    // The window loads: one discovery, the labels.
    applySwitches(0);
    state_.DeviceFound = FindTheHid(ctx_);
    ShowDeviceInfo(ctx_);

    for (const UserStep& step : sc_.user.steps) {
        runCommand(step);
        if (window_.closing || window_.unloads > 0)
            break;
    }
    unloadWindow(); // the command unloaded it, or the user closes it now

    observation_.log = api_.log();
    observation_.misuse = api_.misuse();
    observation_.openHandlesAtEnd = api_.openHandles();
    observation_.deviceRecords = api_.tarvex().records();
    observation_.imageAfter = imageState(imagePath_);
    observation_.imageDescriptorsAtEnd = descriptorsOpenOn(imagePath_);
}

Outcome ScenarioRun::outcome() const {
    const auto& cmds = observation_.commands;
    auto started = std::find_if(cmds.rbegin(), cmds.rend(),
                                [](const CommandRun& c) { return c.deviceFoundAtClick; });
    if (started == cmds.rend())
        return Outcome::NoDevice;
    const CommandRun& c = *started;
    if (c.closedAtLog)
        return Outcome::ClosedByUser;
    const bool told = c.messagesEnd != c.messagesBegin;
    if (c.command == Command::ForceBootloader)
        return told ? Outcome::ForceToldFailure : Outcome::ForceReached;
    if (c.logEnd == c.logBegin)
        return Outcome::Refused;
    return told ? Outcome::ToldFailure : Outcome::Completed;
}

void ScenarioRun::print(std::ostream& out) const {
    const Observation& ob = observation_;
    std::size_t nextMessage = 0;
    for (std::size_t i = 0; i < ob.log.size(); ++i) {
        for (const CommandRun& c : ob.commands) {
            if (c.logBegin == i)
                out << "---- click "
                    << (c.command == Command::Upgrade ? "Upgrade Firmware"
                                                      : "Force Bootloader Mode")
                    << " at " << c.timeBegin << " ms\n";
            if (c.closedAtLog == i)
                out << "---- the user closes the window\n";
        }
        while (nextMessage < ob.messages.size() && ob.messages[nextMessage].logIndex <= i)
            out << "---- told: " << ob.messages[nextMessage++].text << "\n";
        const CallRecord& r = ob.log[i];
        out << std::setw(5) << i << " " << std::setw(7) << r.time << " " << callName(r.kind);
        if (r.kind == CallKind::Sleep) {
            out << " " << r.sleepMs << "\n";
            continue;
        }
        if (!r.path.empty())
            out << " " << r.path;
        if (r.handle)
            out << " h" << r.handle;
        if (r.kind == CallKind::Open)
            out << (r.mode == OpenMode::Overlapped ? " overlapped" : " plain");
        out << (r.result ? " ok" : " FAILED");
        const bool query =
            r.kind != CallKind::Open && r.kind != CallKind::Close && r.kind != CallKind::Enumerate;
        if (r.tarvex)
            out << (query && !r.reached ? " (stale)" : "") << " ["
                << (r.tarvexMode == TarvexMode::Application ? "app" : "boot") << "/"
                << r.tarvexReportLength << "]";
        if (r.kind == CallKind::SetFeature || r.kind == CallKind::GetFeature) {
            out << " len=" << r.length << std::hex;
            for (std::size_t b = 0; b < std::min<std::size_t>(r.bytes.size(), 12); ++b)
                out << " " << std::setw(2) << std::setfill('0') << int(r.bytes[b])
                    << std::setfill(' ');
            out << std::dec << (r.bytes.size() > 12 ? " ..." : "");
        }
        out << "\n";
    }
    while (nextMessage < ob.messages.size())
        out << "---- told: " << ob.messages[nextMessage++].text << "\n";
    out << "device: " << ob.deviceRecords.size() << " records stored, "
        << (api_.tarvex().present() ? "present" : "absent") << " in its "
        << (api_.tarvex().mode() == TarvexMode::Application ? "application" : "bootloader")
        << "; window unloads " << window_.unloads << "; outcome: " << outcomeName(outcome())
        << "\n";
}

} // namespace quorvane::campaign
