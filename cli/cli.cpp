#include "cli.h"

#include "captions.h"
#include "console_window.h"
#include "device_info.h"
#include "discovery_messages.h"
#include "firmware_updater.h"
#include "history_file.h"
#include "interface_reading.h"
#include "system_name.h"
#include "tarvex_identity.h"
#include "terminal_text.h"
#include "text_encoding.h"
#include "tracing_platform.h"
#include "unit_choice.h"
#include "unit_locks.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <sstream>

namespace quorvane {

namespace {

using Json = nlohmann::ordered_json;

const char* const ExitCodesHelp = R"(
Exit codes:
  0    done (also when interrupted after every record was accepted)
  1    bad usage
  2    no Tarvex connected, or several and none chosen with --serial or --path
  3    the firmware image is refused
  4    the device failed during the command
  5    the device did not come back as it should
  130  interrupted (Ctrl-C, a closed console) before the transfer was complete
)";

const char* const VersionText =
    "quorvane-cli " QUORVANE_DISPLAY_VERSION " (package " QUORVANE_PACKAGE_VERSION ")";
// --wait-limit at most: a day, far below where seconds in milliseconds would overflow.
constexpr std::uint64_t WaitLimitMostS = 86400;

struct Options {
    bool verbose = false, quiet = false, json = false, all = false;
    std::string image, serial, path;
    std::size_t count = 20;
    std::int64_t waitLimitS = 120; // without any Tarvex on the bus
};

const char* openErrorText(OpenError error) {
    switch (error) {
    case OpenError::None:
        return "opened";
    case OpenError::AccessDenied:
        return "access denied";
    case OpenError::NotFound:
        return "gone";
    default:
        return "not opened";
    }
}

// Text from outside (device strings, paths, the history's lines) as plain output shows it: no
// control character written raw, to a terminal or to a file a terminal may show later.
std::string shown(const CliEnvironment&, const std::string& text) {
    return terminalSafe(text);
}

// What one run of a command works with: the platform (traced with -v), the console, the state.
struct Session {
    Session(CliEnvironment& env, const Options& o)
        : env(env), options(o), tracer(env.platform, env.err),
          api(o.verbose ? static_cast<HidPlatform&>(tracer) : env.platform),
          window(api, env.err, env.terminal, o.quiet, env.interrupted), ctx{api, window, state} {}
    bool interrupted() const { return window.closeRequested(); }

    CliEnvironment& env;
    const Options& options;
    TracingPlatform tracer;
    HidPlatform& api;
    ConsoleWindow window;
    DeviceState state;
    DeviceContext ctx;
};

Json listingJson(const TarvexListing& u) {
    const auto length = u.capabilities ? Json(u.capabilities->FeatureReportByteLength) : Json();
    return {
        {"mode", modeName(u.attributes.ProductID)},
        {"vendor_id", u.attributes.VendorID},
        {"product_id", u.attributes.ProductID},
        {"manufacturer", utf8Text(u.manufacturer)},
        {"product", utf8Text(u.product)},
        {"version", u.opened ? Json(utf8Text(versionText(u.attributes.VersionNumber))) : Json()},
        {"serial_number", utf8Text(u.serialNumber)},
        {"report_length", length},
        {"path", u.path},
        {"opened", u.opened}};
}

int listUnits(Session& s) {
    const std::vector<TarvexListing> units = listTarvexUnits(s.api);
    Json all = Json::array();
    if (s.options.all) {
        for (const EnumeratedInterface& listed : s.api.enumerateInterfaces()) {
            const OpenedInterface i = openInterface(s.api, listed);
            const bool known = i.attributesRead || listed.ProductID != 0;
            all.push_back({{"path", listed.Path},
                           {"vendor_id", known ? Json(i.attributes.VendorID) : Json()},
                           {"product_id", known ? Json(i.attributes.ProductID) : Json()},
                           {"opened", i.handle.isOpen()},
                           {"open_error", openErrorText(i.openError)}});
        }
    }
    for (const TarvexListing& u : units)
        if (u.openError == OpenError::AccessDenied)
            s.window.say(deniedAccessAdvice(ThisSystem, u.path, false));
    std::ostream& out = s.env.out;
    if (s.options.json) {
        Json result = {{"tarvex", Json::array()}};
        for (const TarvexListing& u : units)
            result["tarvex"].push_back(listingJson(u));
        if (s.options.all)
            result["interfaces"] = all;
        out << jsonText(result, 2) << '\n';
        return ExitDone;
    }
    auto text = [&s](const std::string& t) { return shown(s.env, t); };
    if (units.empty())
        out << "No Tarvex is connected.\n";
    for (const TarvexListing& u : units) {
        out << "Tarvex at " << text(u.path) << "\n";
        if (!u.opened) {
            out << "  " << idsText(u.attributes.VendorID, u.attributes.ProductID) << ", "
                << openErrorText(u.openError == OpenError::None ? OpenError::Other : u.openError)
                << "\n";
            continue;
        }
        out << "  Mode:           " << modeDescription(u.attributes.ProductID)
            << "\n  Manufacturer:   " << text(utf8Text(u.manufacturer))
            << "\n  Product:        " << text(utf8Text(u.product))
            << "\n  Version:        " << utf8Text(versionText(u.attributes.VersionNumber))
            << "\n  Serial number:  " << text(utf8Text(u.serialNumber)) << "\n  Report length:  "
            << (u.capabilities ? std::to_string(u.capabilities->FeatureReportByteLength) + " bytes"
                               : std::string("unknown"))
            << "\n";
    }
    if (s.options.all) {
        out << "HID interfaces: " << all.size() << "\n";
        for (const Json& i : all)
            out << "  "
                << (i["vendor_id"].is_null() ? std::string("????:????")
                                             : idsText(i["vendor_id"], i["product_id"]))
                << "  " << i["open_error"].get<std::string>() << "  "
                << text(i["path"].get<std::string>()) << "\n";
    }
    return ExitDone;
}

int exitCodeOf(const UpdateSession& session) {
    switch (session.outcome()) {
    case Outcome::Completed:
        return ExitDone;
    case Outcome::Stopped:
        return ExitInterrupted;
    case Outcome::Failed:
        break;
    }
    switch (session.failureKind()) {
    case FailureKind::Units:
        return ExitNoUnit;
    case FailureKind::Image:
        return ExitImage;
    case FailureKind::NotBack:
        return ExitNotBack;
    case FailureKind::None:
    case FailureKind::Device:
    case FailureKind::Left:
        break;
    }
    return ExitDevice;
}

std::string doneMessage(const Session& s, bool upgrade, const UpdateRecord& r) {
    const std::string serial = utf8Text(s.state.SerialNumber);
    const std::string unit = "The Tarvex" + (serial.empty() ? "" : " " + serial);
    if (!upgrade)
        return unit + " is in its bootloader (" + s.state.DevicePath + ").";
    return unit + " runs its new firmware, version " +
           utf8Text(versionText(s.state.Attributes.VersionNumber)) + " (" +
           std::to_string(r.recordsSent) + " records sent).";
}

// The upgrade or Force Bootloader Mode on the one Tarvex present or chosen.
int command(Session& s, bool upgrade) {
    UpdateRecord record;
    const HistoryFile history(s.env.historyPath);
    std::filesystem::path image =
        s.options.image.empty()
            ? s.env.defaultImage
            : std::filesystem::path(std::u8string(s.options.image.begin(), s.options.image.end()));
    CommandServices services{s.env.inhibitor, s.env.historyPath.empty() ? nullptr : &history, "cli",
                             &record};
    services.locks = s.env.locks;
    services.waits.absentLimitMs = s.options.waitLimitS * 1000;
    services.restartWords = "run quorvane-cli update again";
    services.chooseWords = " Or choose one with --serial or --path.";
    FirmwareUpdater updater(s.ctx, image, std::move(services));
    const CommandTarget target{true, s.options.serial, s.options.path};
    upgrade ? updater.upgrade(target) : updater.forceBootloader(target);
    const UpdateSession& session = *updater.lastSession();
    const int code = exitCodeOf(session);
    std::string message = record.message;
    // A plain success says what the Tarvex runs now; the session's words follow.
    if (code == ExitDone && !session.stopped())
        message = doneMessage(s, upgrade, record) + (message.empty() ? "" : " " + message);
    s.state.closeHandles();
    if (s.options.json) {
        Json result = toJson(record);
        result["message"] = message;
        result["exit_code"] = code;
        s.env.out << jsonText(result, 2) << '\n';
    } else {
        s.env.out << record.outcome << ": " << shown(s.env, message) << '\n';
    }
    return code;
}

int showHistory(Session& s) {
    const HistoryFile history(s.env.historyPath);
    std::vector<UpdateRecord> lines = history.read();
    if (!history.warning().empty())
        s.window.say(history.warning());
    if (lines.size() > s.options.count)
        lines.erase(lines.begin(), lines.end() - static_cast<std::ptrdiff_t>(s.options.count));
    std::ostream& out = s.env.out;
    if (s.options.json) {
        Json all = Json::array();
        for (const UpdateRecord& r : lines)
            all.push_back(toJson(r));
        out << jsonText(all, 2) << '\n';
        return ExitDone;
    }
    if (lines.empty())
        out << "The update history is empty.\n";
    for (const UpdateRecord& r : lines) {
        // Every field of a line came from a file anyone may have written.
        std::ostringstream line;
        const auto& d = r.deviceAfter ? r.deviceAfter : r.deviceBefore;
        line << r.started << "  " << r.program << "  " << r.command << "  " << r.outcome;
        if (d)
            line << "  " << (d->serialNumber.empty() ? d->path : d->serialNumber) << " "
                 << (r.deviceBefore ? r.deviceBefore->version : "?") << " -> "
                 << (r.deviceAfter ? r.deviceAfter->version : "?");
        if (r.image)
            line << "  " << r.recordsSent << "/" << r.recordsTotal << " records of "
                 << r.image->path;
        if (!r.message.empty())
            line << "  (" << r.message << ")";
        out << shown(s.env, line.str()) << '\n';
    }
    return ExitDone;
}

// A whole number from 1 to `most`, or `problem` in the program's own words (CLI11 would print
// the range of a double, or a conversion error).
CLI::Validator wholeNumber(std::uint64_t most, const std::string& problem,
                           const std::string& name) {
    return {[most, problem](const std::string& text) {
                const std::size_t digits = text.find_first_not_of('0');
                const std::string n = digits == std::string::npos ? "" : text.substr(digits);
                const bool ok = !n.empty() && n.size() < 20 &&
                                n.find_first_not_of("0123456789") == std::string::npos &&
                                std::stoull(n) <= most;
                return ok ? std::string() : problem;
            },
            name};
}

// A choice given empty would choose whatever is connected: bad usage, never "any".
CLI::Validator notEmpty(const std::string& problem) {
    return {[problem](const std::string& text) { return text.empty() ? problem : std::string(); },
            ""};
}

} // namespace

int runCli(const std::vector<std::string>& args, CliEnvironment& env) {
    Options o;
    CLI::App app("Updates the firmware of a Tarvex connected to this computer.", "quorvane-cli");
    app.set_version_flag("--version", VersionText);
    app.get_formatter()->column_width(24);
    app.footer(ExitCodesHelp);
    app.require_subcommand(1);
    app.fallthrough();
    app.add_flag("-v,--verbose", o.verbose, "Trace every platform call and report, byte for byte");
    app.add_flag("-q,--quiet", o.quiet, "Print only the outcome");
    auto json = [&o](CLI::App* sub) {
        sub->add_flag("--json", o.json, "Print the result as JSON");
    };
    auto unit = [&o](CLI::App* sub) {
        auto* serial = sub->add_option("--serial", o.serial, "The Tarvex with this serial number")
                           ->check(notEmpty("an empty serial number chooses no Tarvex"));
        sub->add_option("--path", o.path, "The Tarvex at this interface path (see list)")
            ->check(notEmpty("an empty path chooses no Tarvex"))
            ->excludes(serial);
        sub->add_option("--wait-limit", o.waitLimitS,
                        "Wait at most this long for the Tarvex (default 120)")
            ->check(wholeNumber(WaitLimitMostS,
                                "the wait limit is a whole number of seconds from 1 to " +
                                    std::to_string(WaitLimitMostS) + " (a day)",
                                "SECONDS"));
    };

    CLI::App* list = app.add_subcommand("list", "List every Tarvex connected");
    list->add_flag("--all", o.all, "Also list every HID interface and whether it opens");
    json(list);
    CLI::App* update = app.add_subcommand("update", "Update the Tarvex's firmware");
    update->add_option("--image", o.image, "The firmware image (default: quorvane.bin here)")
        ->check(notEmpty("an empty name is no firmware image"));
    unit(update);
    json(update);
    CLI::App* boot = app.add_subcommand("bootloader", "Switch the Tarvex to its bootloader");
    unit(boot);
    json(boot);
    CLI::App* history = app.add_subcommand("history", "Show the update history");
    history->add_option("-n", o.count, "Show the last N lines (default 20)")
        ->check(wholeNumber(UINT32_MAX, "the count of lines is a whole number from 1 up", "N"));
    json(history);
    for (CLI::App* sub : {list, update, boot, history})
        sub->footer(ExitCodesHelp);

    // The first word after the program's own flags names the command; CLI11 would call an
    // unknown one a missing one.
    const auto word = std::find_if(args.begin(), args.end(), [](const std::string& a) {
        return a != "--verbose" && a != "--quiet" &&
               (a.size() < 2 || a[0] != '-' || a.find_first_not_of("vq", 1) != std::string::npos);
    });
    if (word != args.end() && (word->empty() || (*word)[0] != '-') &&
        app.get_subcommands([&word](const CLI::App* sub) { return sub->check_name(*word); })
            .empty()) {
        env.err << "quorvane-cli: there is no command \"" << terminalSafe(*word)
                << "\"; the commands are list, update, bootloader and history (see --help).\n";
        return ExitUsage;
    }
    try {
        std::vector<std::string> reversed;
        for (auto a = args.rbegin(); a != args.rend(); ++a) {
            // "--serial=" is an empty value too (CLI11 would call it a missing one).
            const bool empty = a->size() > 3 && a->starts_with("--") && a->back() == '=';
            if (empty)
                reversed.emplace_back();
            reversed.push_back(empty ? a->substr(0, a->size() - 1) : *a);
        }
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e, env.out, env.err);
        return code == 0 ? ExitDone : ExitUsage;
    }

    if (o.verbose)
        env.err << VersionText << " on " << systemName() << "\n";
    Session s(env, o);
    s.window.fitProgressTo(env.columns);
    if (list->parsed())
        return listUnits(s);
    const int code = history->parsed() ? showHistory(s) : command(s, update->parsed());
    // A service or a udev script may run without a home: the history is missed, never silently.
    if (env.historyPath.empty())
        env.err << "quorvane-cli: no update history is kept: " << historyPlaceVariables()
                << " unset.\n";
    return code;
}

} // namespace quorvane
