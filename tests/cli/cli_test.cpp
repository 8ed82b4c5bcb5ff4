// quorvane-cli in-process against the virtual Tarvex: each command's exit code and what reached
// the wire, the JSON parsed field by field, the progress lines, the -v trace.
#include "cli.h"
#include "history_file.h"
#include "image_fixture.h"
#include "sha256.h"
#include "terminal.h"
#include "terminal_text.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <cmath>
#include <cstring>
#include <iterator>
#include <sstream>
#ifdef __linux__
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace quorvane::test {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

class CliTest : public ImageFixture {
public:
    using TarvexFixture::api, TarvexFixture::restartedInto;
    int run(const Args& args) {
        out.str(""), err.str("");
        CliEnvironment env{api,      out,     err,
                           terminal, nullptr, dir.path() / "history.jsonl",
                           image,    &stop,   outTerminal};
        return runCli(args, env);
    }
    // The words of `line`, split at its spaces.
    int run(const std::string& line) {
        std::istringstream in(line);
        return run(Args(std::istream_iterator<std::string>(in), {}));
    }
    // A second unit, listed first: another vendor's interface with the application's product ID.
    void secondUnit(const char* serial) {
        api.foreignBefore = {foreign("b", 2, AppModeProductId)};
        api.foreignBefore[0].serialNumber = std::u16string(serial, serial + std::strlen(serial));
    }
    // Ctrl-C after the n-th record's pause.
    void interruptAfterRecord(int n) {
        api.onSleep = [this, n, records = 0](std::int64_t) mutable {
            if (api.log().back().sleepMs == RecordPauseMs && ++records == n)
                stop = true, logAtStop = api.log().size();
        };
    }
    std::ostringstream out, err;
    bool terminal = false, outTerminal = false;
    std::atomic<bool> stop{false};
    std::size_t logAtStop = 0;
};

struct Row {
    const char* name;
    const char* args;
    int exit;
    std::size_t delivered; // records the Tarvex took
    const char* said;      // the start of the outcome line on standard output
    void (*setup)(CliTest&, TarvexFaults&);
    const char* trace = ""; // in standard error (the -v trace)
};
class CliCommand : public CliTest, public ::testing::WithParamInterface<Row> {};

TEST_P(CliCommand, EndsWithItsExitCodeAndSendsOnlyToTheTarvexChosen) {
    const Row& row = GetParam();
    row.setup(*this, api.tarvex().config().faults);
    EXPECT_EQ(run(row.args), row.exit) << err.str();
    expectDelivered(row.delivered);
    EXPECT_EQ(out.str().rfind(row.said, 0), 0U) << out.str();
    EXPECT_NE(err.str().find(row.trace), std::string::npos) << err.str();
    for (const CallRecord& r : api.log())
        EXPECT_FALSE(isReport(r) && !r.tarvex) << "a report to " << r.path;
    for (std::size_t i = logAtStop; stop && i < api.log().size(); ++i)
        EXPECT_NE(api.log()[i].kind, CallKind::SetFeature) << "after Ctrl-C";
    expectHandlesBalanced();
    // Every command leaves its line in the history, a refusal too.
    const auto lines = HistoryFile(dir.path() / "history.jsonl").read();
    const bool command = row.exit != ExitUsage && std::string(row.args).rfind("list", 0) != 0;
    EXPECT_EQ(lines.size(), command ? 1U : 0U);
    for (const UpdateRecord& r : lines) {
        EXPECT_EQ(r.program, "cli");
        EXPECT_EQ(r.outcome, row.exit == 0 ? "completed" : row.exit == 130 ? "stopped" : "failed");
    }
}

using T = CliTest;
using F = TarvexFaults;
const Row rows[] = {
    {"Update", "update", 0, Records, "completed: The Tarvex TX-000417 runs", [](T&, F&) {}},
    {"UpdateFromBootloader", "update", 0, Records,
     "completed:", [](T& t, F&) { t.restartedInto(TarvexMode::Bootloader); }},
    {"Bootloader", "bootloader", 0, 0, "completed: The Tarvex TX-000417 is in its bootloader",
     [](T&, F&) {}},
    {"List", "list", 0, 0, "Tarvex at virtual:tarvex/1", [](T&, F&) {}},
    {"NoDevice", "update", 2, 0, "failed: No Tarvex", [](T& t, F&) { t.api.tarvexAttached = 0; }},
    {"Unreadable", "update", 2, 0,
     "failed: A Tarvex is connected (virtual:tarvex/1), but it could not be read",
     [](T&, F& f) { f.failAttributes = true; }},
    {"TwoUnits", "update", 2, 0, "failed: More than one Tarvex",
     [](T& t, F&) { t.secondUnit("TX-2"); }},
    {"TwoUnitsOneChosen", "update --serial TX-000417", 0, Records,
     "completed:", [](T& t, F&) { t.secondUnit("TX-2"); }},
    {"TwoUnitsBootloaderChosen", "bootloader --serial TX-000417", 0, 0,
     "completed:", [](T& t, F&) { t.secondUnit("TX-2"); }},
    {"TwoUnitsSameSerial", "update --serial TX-000417", 2, 0, "failed: More than one",
     [](T& t, F&) { t.secondUnit("TX-000417"); }},
    {"ChosenSerialAbsent", "update --serial TX-9", 2, 0, "failed: No Tarvex with", [](T&, F&) {}},
    // A unit arriving during the update: told apart by where it is plugged, never touched.
    {"ArrivesWithTheSameSerial", "update --path virtual:tarvex/1", 0, Records, "completed:",
     [](T& t, F&) {
         t.api.onSleep = [&t, once = false](std::int64_t) mutable {
             if (!std::exchange(once, true))
                 t.secondUnit("TX-000417");
         };
     }},
    {"ImageMissing", "update --image /nonexistent.bin", 3, 0, "failed: The firmware image",
     [](T&, F&) {}},
    // A lost report: the transport failed it, and the Tarvex left the bus a moment later, or
    // stayed; or the device stalled it. The trace carries the system's words either way.
    {"TransportErrorThenGone", "-v update", 4, 2,
     "failed: The device left the bus after 2 of 50 firmware records",
     [](T&, F& f) { f.transportErrorAtDataReport = 3, f.leaveAfterTransportErrorMs = 5; },
     "65 bytes -> device gone: Protocol error (71)\n"},
    {"TransportErrorStillThere", "-v update", 4, 2, "failed: The device rejected firmware record 3",
     [](T&, F& f) { f.transportErrorAtDataReport = 3; },
     "65 bytes -> refused: Protocol error (71)\n"},
    {"Stalled", "-v update", 4, 2, "failed: The device rejected firmware record 3",
     [](T&, F& f) { f.failDataReport = 3; }, "65 bytes -> refused: Broken pipe (32)\n"},
    // Its status was read: the refusal of the first record says nothing of an unread status.
    {"FirstRecordStalled", "update", 4, 0,
     "failed: The device rejected firmware record 1 of 50 (the system said: Broken pipe); "
     "the update is incomplete. The Tarvex is in its bootloader with 0 of 50 records: unplug it "
     "and plug it in again, then run quorvane-cli update again.\n",
     [](T&, F& f) { f.failDataReport = 1; }},
    // On the bus but refused to this account: the wait ends at its limit, with the advice.
    {"BootloaderRefused", "update", 5, 0, "failed: A Tarvex is connected (virtual:tarvex/2), but ",
     [](T&, F& f) { f.deniedInBootloader = true; }},
    {"NeverBack", "update", 5, Records,
     "failed: All 50 records were accepted. The Tarvex did not come back within 120",
     [](T&, F& f) { f.neverReturn = true; }},
    {"BackInBootloader", "update", 5, Records,
     "failed: All 50 records were accepted. The device did not restart",
     [](T&, F& f) { f.restartInto = TarvexMode::Bootloader; }},
    {"NoBootloader", "bootloader", 5, 0, "failed: The device did not switch",
     [](T&, F& f) { f.stayAfterBootloaderEntry = true; }},
    {"Interrupted", "update", 130, 7, "stopped: Interrupted after 7 of 50 records",
     [](T& t, F&) { t.interruptAfterRecord(7); }},
    {"BadUsage", "update --serial a --path b", 1, 0, "", [](T&, F&) {}},
    {"NoCommand", "--quiet", 1, 0, "", [](T&, F&) {}},
};
INSTANTIATE_TEST_SUITE_P(Commands, CliCommand, ::testing::ValuesIn(rows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CliTest, JsonOutputsParseWithEveryField) {
    api.foreignAfter = {foreign("hid:mouse", 0x046D, 0xC52B, false)};
    using Fields = std::vector<std::pair<const char*, nlohmann::json>>;
    const std::pair<const char*, Fields> commands[] = {
        {"list --all --json",
         {{"/tarvex/0/mode", "application"},
          {"/tarvex/0/vendor_id", 0x1D50},
          {"/tarvex/0/product_id", 0x2211},
          {"/tarvex/0/manufacturer", "Tarvex Devices"},
          {"/tarvex/0/product", "Tarvex"},
          {"/tarvex/0/version", "2.13"},
          {"/tarvex/0/serial_number", "TX-000417"},
          {"/tarvex/0/report_length", 65},
          {"/tarvex/0/path", "virtual:tarvex/1"},
          {"/tarvex/0/opened", true},
          {"/tarvex/1", {}},
          {"/interfaces/1/path", "hid:mouse"},
          {"/interfaces/1/opened", false},
          {"/interfaces/1/product_id", 0xC52B},
          {"/interfaces/2", {}}}},
        {"update --json",
         {{"/exit_code", 0},
          {"/outcome", "completed"},
          {"/command", "upgrade"},
          {"/records_sent", Records},
          {"/records_total", Records},
          {"/image/sha256", sha256Hex(bytes.data(), bytes.size())},
          {"/device_before/mode", "application"},
          {"/device_after/mode", "application"},
          {"/device_after/serial_number", "TX-000417"},
          {"/message", "The Tarvex TX-000417 runs its new firmware, version 2.13 (50 records "
                       "sent)."}}},
        {"bootloader --json", {{"/outcome", "completed"}}},
        {"history --json -n 1",
         {{"/0/command", "bootloader"}, {"/0/device_after/mode", "bootloader"}, {"/1", {}}}},
    };
    for (const auto& [line, fields] : commands) {
        SCOPED_TRACE(line);
        ASSERT_EQ(run(line), 0);
        const auto j = nlohmann::json::parse(out.str());
        for (const auto& [text, value] : fields) {
            const nlohmann::json::json_pointer pointer(text);
            EXPECT_EQ(j.contains(pointer) ? j.at(pointer) : nlohmann::json(), value) << text;
        }
    }
    EXPECT_EQ(err.str(), "");
}

TEST_F(CliTest, ProgressALineAtEachTenthOrRedrawnTenTimesASecondOrQuiet) {
    ASSERT_EQ(run("update"), 0);
    std::string tenths;
    for (int k = 1; k <= 10; ++k) {
        char line[100];
        std::snprintf(line, sizeof line, "%d/50 records  %3d %%  50.0 records/s  0:%02d left\n",
                      5 * k, 10 * k, static_cast<int>(std::ceil((50 - 5.0 * k) / 50)));
        tenths += line;
    }
    EXPECT_NE(err.str().find("Updating firmware...\n" + tenths + "Finishing...\n"),
              std::string::npos)
        << err.str();
    auto again = [this] { // the device counts the records of all its transfers
        restartedInto(TarvexMode::Application), api.tarvex().config().expectedRecords += Records;
    };
    again(), terminal = true;
    ASSERT_EQ(run("update"), 0); // 50 records at 20 ms: a second, at most ten redraws
    const std::string e = err.str();
    EXPECT_EQ(std::count(e.begin(), e.end(), '\r'), 10) << e;
    EXPECT_NE(e.find("\r50/50 records  100 %"), std::string::npos);
    again();
    ASSERT_EQ(run("update -q"), 0);
    EXPECT_TRUE(err.str().empty());
}

TEST_F(CliTest, VerboseTracesEveryReportByteForByte) {
    ASSERT_EQ(run("-v bootloader"), 0);
    const std::string trace = err.str();
    std::size_t sets = 0;
    for (std::size_t at = 0; (at = trace.find("] set feature", at)) != std::string::npos; ++at)
        ++sets;
    EXPECT_EQ(sets, calls(CallKind::SetFeature).size());
    EXPECT_NE(trace.find("65 bytes -> ok\n    00 b0 07 1d 00 00"), std::string::npos) << trace;
    EXPECT_NE(trace.find("string serial number handle"), std::string::npos);
}

// Names and text from outside that are not ASCII, or not even UTF-8: every command ends with
// its exit code and JSON that parses.
struct OutsideText {
    const char* name;
    const char* args;
    int exit;
    const char* field; // a field of the JSON and its text
    const char* text;
};
const OutsideText outsideTexts[] = {
#ifndef _WIN32 // Windows hands over UTF-16 only
    {"ImageNamedInLatin1", "update --image caf\xE9.bin --json", 0, "outcome", "completed"},
#endif
    {"ImageInAChineseFolder", "update --image \xE6\x95\xB0\xE6\x8D\xAE/caf\xC3\xA9.bin --json", 0,
     "outcome", "completed"},
    {"SerialNotUtf8", "update --serial \xFF --json", ExitNoUnit, "message",
     "No Tarvex with the serial number \"\xEF\xBF\xBD\" is connected."},
    {"SerialZoe", "bootloader --serial Zo\xC3\xAB --json", ExitNoUnit, "message",
     "No Tarvex with the serial number \"Zo\xC3\xAB\" is connected."},
    {"PathNotUtf8", "update --path /dev/hidraw\xE9 --json", ExitNoUnit, "outcome", "failed"},
};
class CliOutsideText : public CliTest, public ::testing::WithParamInterface<OutsideText> {};

TEST_P(CliOutsideText, EndsWithItsCodeAndJsonThatParses) {
    const OutsideText& row = GetParam();
    std::istringstream words(row.args);
    Args args(std::istream_iterator<std::string>(words), {});
    for (std::string& a : args)
        if (a.find(".bin") != std::string::npos) {
            const fs::path at = dir.path() / fs::path(std::u8string(a.begin(), a.end()));
            fs::create_directories(at.parent_path());
            writeFile(at, bytes);
            const std::u8string full = at.u8string();
            a.assign(full.begin(), full.end());
        }
    EXPECT_EQ(run(args), row.exit) << err.str();
    EXPECT_EQ(api.tarvex().records().size(), row.exit == 0 ? Records : 0U);
    const auto j = nlohmann::json::parse(out.str(), nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << out.str();
    EXPECT_EQ(j[row.field], row.text);
    EXPECT_EQ(run("history --json"), 0);
    EXPECT_FALSE(nlohmann::json::parse(out.str(), nullptr, false).is_discarded()) << out.str();
}
INSTANTIATE_TEST_SUITE_P(Arguments, CliOutsideText, ::testing::ValuesIn(outsideTexts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CliTest, UnknownCommandsAndBadCountsGetPlainMessages) {
    EXPECT_EQ(run("-v bogus"), ExitUsage);
    EXPECT_EQ(err.str(), "quorvane-cli: there is no command \"bogus\"; the commands are list, "
                         "update, bootloader and history (see --help).\n");
    EXPECT_EQ(run("history -n 0"), ExitUsage);
    EXPECT_EQ(err.str().rfind("-n: the count of lines is a whole number from 1 up\n", 0), 0U)
        << err.str();
}

TEST(TerminalText, ControlCharactersShownEscapedTheRestAsItIs) {
    const std::pair<const char*, const char*> rows[] = {
        {"\x1b]0;owned\x07", "\\x1b]0;owned\\x07"},
        {"a\r\n\tb\x7f", "a\\r\\n\\tb\\x7f"},
        {"\xC2\x9B"
         "2J",
         "\\u009b2J"},                                                // C1 CSI
        {"caf\xE9 \xC0\xAF", "caf\\xe9 \\xc0\\xaf"},                  // not UTF-8, overlong
        {"Zo\xC3\xAB \xE6\x95\xB0 \xF0\x9F\x94\x8C \xF4\x80\x80\x80", // a lead byte F4
         "Zo\xC3\xAB \xE6\x95\xB0 \xF0\x9F\x94\x8C \xF4\x80\x80\x80"},
    };
    for (const auto& [text, shown] : rows) {
        SCOPED_TRACE(text);
        EXPECT_EQ(terminalSafe(text), shown);
    }
}

// On a terminal the device's strings are shown with their control characters escaped.
TEST_F(CliTest, DeviceStringsReachATerminalWithTheirControlCharactersEscaped) {
    const std::u16string evil = u"TX\x1b]0;owned\x07\r\nSerial number:  FAKE";
    api.tarvex().config().application.serialNumber = evil;
    api.tarvex().config().bootloader.serialNumber = evil;
    api.tarvex().config().application.manufacturer = u"Maker\x1b[2K";
    terminal = outTerminal = true;
    std::string seen;
    for (const char* command : {"list", "update", "history"}) {
        EXPECT_EQ(run(command), 0) << command;
        seen += out.str() + err.str();
    }
    EXPECT_EQ(seen.find('\x1b'), std::string::npos) << seen;
    EXPECT_EQ(seen.find('\x07'), std::string::npos) << seen;
    const std::string shown = "TX\\x1b]0;owned\\x07\\r\\nSerial number:  FAKE";
    EXPECT_NE(seen.find("Serial number:  " + shown + "\n"), std::string::npos) << seen; // list
    EXPECT_NE(seen.find("Manufacturer:   Maker\\x1b[2K\n"), std::string::npos) << seen;
    EXPECT_NE(seen.find("completed: The Tarvex " + shown + " runs"), std::string::npos) << seen;
    EXPECT_NE(seen.find("completed  " + shown + " 2.13 -> 2.13"), std::string::npos) << seen;
}

#ifdef __linux__
TEST_F(CliTest, AReaderGoingAwayMidTransferStopsNeitherTheUpdateNorItsHistory) {
    const pid_t child = ::fork(); // the pipe's reader is the child's alone, and goes away there
    if (int ends[2]; child == 0) {
        if (::pipe(ends) != 0 || ::dup2(ends[1], STDOUT_FILENO) < 0 ||
            ::dup2(ends[1], STDERR_FILENO) < 0)
            std::_Exit(2);
        ignoreClosedOutput();
        api.onSleep = [&, records = 0](std::int64_t) mutable {
            if (api.log().back().sleepMs == RecordPauseMs && ++records == 20)
                ::close(ends[0]); // the reader is gone: every write from here fails
        };
        CliEnvironment env{
            api, std::cout, std::cerr, false, nullptr, dir.path() / "history.jsonl", image, &stop};
        const int code = runCli({"update"}, env);
        std::_Exit(code == 0 && api.tarvex().records().size() == Records && !std::cerr.good() ? 0
                                                                                              : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const auto lines = HistoryFile(dir.path() / "history.jsonl").read();
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_EQ(lines[0].recordsSent, static_cast<std::int64_t>(Records));
}

#endif
} // namespace
} // namespace quorvane::test
