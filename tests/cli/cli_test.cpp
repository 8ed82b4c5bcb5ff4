// quorvane-cli in-process: its arguments, exit codes, output, JSON, progress and -v trace.
#include "cli.h"
#include "history_file.h"
#include "image_fixture.h"
#include "terminal.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <cmath>
#include <csignal>
#include <functional>
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
    using TarvexFixture::api, TarvexFixture::restartedInto, ImageFixture::image;
    int run(const Args& args) {
        out.str(""), err.str("");
        CliEnvironment env{
            api, out, err, terminal, nullptr, history, image, &stop, [this] { return columns; }};
        return runCli(args, env);
    }
    // The words of `line`; "@name" is a copy of the image by that name in the test's folder.
    int run(const std::string& line) {
        std::istringstream in(line);
        Args args(std::istream_iterator<std::string>(in), {});
        for (std::string& a : args)
            if (a[0] == '@') {
                const fs::path at = dir.path() / fs::path(std::u8string(a.begin() + 1, a.end()));
                fs::create_directories(at.parent_path()), writeFile(at, bytes);
                const std::u8string full = at.u8string();
                a.assign(full.begin(), full.end());
            }
        return run(args);
    }
    // `act` after the n-th record's pause.
    void atRecord(std::size_t n, std::function<void()> act) {
        api.onSleep = [this, n, act, records = 0U](std::int64_t) mutable {
            if (api.log().back().sleepMs == RecordPauseMs && ++records == n)
                act();
        };
    }
    // The Tarvex ready for another update.
    void again() { restartedInto(TarvexMode::Application); }
    std::ostringstream out, err;
    bool terminal = false;
    int columns = 0;
    fs::path history = dir.path() / "history.jsonl";
    std::atomic<bool> stop{false};
};

struct Row {
    const char* name;
    const char* args;
    int exit;
    std::size_t delivered; // records the Tarvex took
    const char* said;      // in standard output: the outcome line, or a field of the JSON
    void (*setup)(CliTest&, TarvexFaults&);
    const char* trace = ""; // in standard error (the -v trace)
};
class CliCommand : public CliTest, public ::testing::WithParamInterface<Row> {};

TEST_P(CliCommand, EndsWithItsExitCodeAndSaysWhatHappened) {
    const Row& row = GetParam();
    row.setup(*this, api.tarvex().config().faults);
    EXPECT_EQ(run(row.args), row.exit) << err.str();
    expectDelivered(row.delivered);
    EXPECT_NE(out.str().find(row.said), std::string::npos) << out.str();
    EXPECT_NE(err.str().find(row.trace), std::string::npos) << err.str();
    const bool json = std::string(row.args).find("--json") != std::string::npos;
    EXPECT_FALSE(json && nlohmann::json::parse(out.str(), nullptr, false).is_discarded());
    expectHandlesBalanced();
}

#ifdef _WIN32
constexpr const char* NoHistoryPlace = "quorvane-cli: no update history is kept: LOCALAPPDATA "
                                       "is unset.\n";
#else
constexpr const char* NoHistoryPlace = "quorvane-cli: no update history is kept: XDG_STATE_HOME "
                                       "and HOME are unset.\n";
#endif
using T = CliTest;
using F = TarvexFaults;
void none(T&, F&) {}
const Row rows[] = {
    {"Update", "-v update", 0, Records, "completed: The Tarvex TX-000417 runs", none,
     "quorvane-cli 1.01.0001 (package 1.1.1) on "},
    {"Bootloader", "-v bootloader", 0, 0, "completed: The Tarvex TX-000417 is in its bootloader",
     none, "65 bytes -> ok\n    00 b0 07 1d 00 00"},
    {"List", "-v list", 0, 0, "Tarvex at virtual:tarvex/1", none,
     "    virtual:tarvex/1  1d50:2211\n[0 ms] open virtual:tarvex/1 plain -> handle 100\n"},
    {"ListDenied", "-v list", 0, 0, "Tarvex at hid:locked\n  1d50:2211, access denied\n",
     [](T& t, F&) { t.api.foreignBefore = {foreign("hid:locked", 0x1D50, 0x2211, false)}; },
     "open hid:locked plain -> failed, access denied"},
    {"NoDevice", "update", 2, 0, "failed: No Tarvex", [](T& t, F&) { t.api.tarvexAttached = 0; }},
    {"TwoUnits", "update", 2, 0,
     "failed: More than one Tarvex is connected (0002:2211 \"Other Device\", 1d50:2211 "
     "\"Tarvex\"). Connect only the Tarvex you want to update, then try again. Or choose one "
     "with --serial or --path.\n",
     [](T& t, F&) {
         t.api.foreignBefore = {foreign("b", 2, AppModeProductId)};
         t.api.foreignBefore[0].serialNumber = u"TX-2";
     }},
    {"ImageMissing", "update --image /nonexistent.bin", 3, 0, "failed: The firmware image", none},
    // A report lost, the Tarvex gone a moment later, or stalled: the trace in the system's words.
    {"TransportErrorThenGone", "-v update", 4, 2,
     "failed: The device left the bus after 2 of 50 firmware records were sent (the system said: "
     "Protocol error); the update is incomplete. Check the cable (avoid hubs and docks) and "
     "connect the Tarvex again, then run quorvane-cli update again.\n",
     [](T&, F& f) { f.transportErrorAtDataReport = 3, f.leaveAfterTransportErrorMs = 5; },
     "65 bytes -> device gone: Protocol error (71)\n"},
    {"Stalled", "-v update", 4, 2, "failed: The device rejected firmware record 3",
     [](T&, F& f) { f.failDataReport = 3; }, "65 bytes -> refused: Broken pipe (32)\n"},
    {"NeverBack", "update", 5, Records,
     "failed: All 50 records were accepted. The Tarvex did not come back within 120",
     [](T&, F& f) { f.neverReturn = true; }},
    {"NoPlaceForTheHistory", "bootloader", 0, 0, "completed:", [](T& t, F&) { t.history.clear(); },
     NoHistoryPlace},
    {"Interrupted", "update", 130, 7,
     "stopped: Interrupted after 7 of 50 records; no further record was sent. The Tarvex is in "
     "its bootloader with 7 of 50 records: unplug it and plug it in again, then run quorvane-cli "
     "update again.\n",
     [](T& t, F&) { t.atRecord(7, [&t] { t.stop = true; }); }},
// Names and text from outside that are not ASCII, or not even UTF-8.
#ifndef _WIN32 // Windows hands over UTF-16 only
    {"ImageNamedInLatin1", "update --image @caf\xE9.bin --json", 0, Records,
     "\"outcome\": \"completed\"", none},
    {"ImageMissingNotUtf8", "update --image /caf\xE9\xC0\xAF\x80.bin", 3, 0,
     "failed: The firmware image \"/caf\\xe9\\xc0\\xaf\\x80.bin\" is missing.\n", none},
#endif
    {"ImageInAChineseFolder", "update --image @\xE6\x95\xB0\xE6\x8D\xAE/caf\xC3\xA9.bin --json", 0,
     Records, "\"outcome\": \"completed\"", none},
    {"SerialNotUtf8", "update --serial \xFF --json", ExitNoUnit, 0,
     "\"message\": \"No Tarvex with the serial number \\\"\xEF\xBF\xBD\\\" is connected.\"", none},
    {"SerialZoe", "bootloader --serial Zo\xC3\xAB --json", ExitNoUnit, 0,
     "\"message\": \"No Tarvex with the serial number \\\"Zo\xC3\xAB\\\" is connected.\"", none},
    {"PathNotUtf8", "update --path /dev/hidraw\xE9 --json", ExitNoUnit, 0,
     "\"outcome\": \"failed\"", none},
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
          {"/message", "The Tarvex TX-000417 runs its new firmware, version 2.13 (50 records "
                       "sent)."}}},
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
    again(), terminal = true;
    ASSERT_EQ(run("update"), 0); // 50 records at 20 ms: a second, at most ten redraws
    const std::string e = err.str();
    EXPECT_EQ(std::count(e.begin(), e.end(), '\r'), 10) << e;
    EXPECT_NE(e.find("\r50/50 records  100 %"), std::string::npos);
    again(), columns = 40; // narrower than the line: shortened, never wrapped
    ASSERT_EQ(run("update"), 0);
    EXPECT_NE(err.str().find("\r25/50 records   50 %  0:01 left\r"), std::string::npos)
        << err.str();
    std::string rows = err.str();
    std::replace(rows.begin(), rows.end(), '\r', '\n');
    std::stringstream lines(rows);
    for (std::string line; std::getline(lines, line);)
        EXPECT_LT(line.size(), 40U) << line;
    again();
    ASSERT_EQ(run("update -q"), 0);
    EXPECT_TRUE(err.str().empty());
    again(), atRecord(7, [this] { stop = true; }); // what follows Ctrl-C starts on its own line
    ASSERT_EQ(run("update"), ExitInterrupted);
    EXPECT_EQ(err.str().back(), '\n') << err.str();
}

// Bad usage in the program's own words: exit 1 before anything reaches the platform.
TEST_F(CliTest, BadArgumentsAreRefusedWithAPlainMessage) {
    const std::string more = "\nRun with --help for more information.\n";
    const std::string wait =
        "--wait-limit: the wait limit is a whole number of seconds from 1 to 86400 (a day)" + more;
    const std::pair<Args, std::string> rows[] = {
        {{"-v", "bogus"},
         "quorvane-cli: there is no command \"bogus\"; the commands are list, update, bootloader "
         "and history (see --help).\n"},
        {{"--quiet"}, "A subcommand is required" + more},
        {{"update", "--serial", "a", "--path", "b"}, "--serial excludes --path" + more},
        {{"update", "--serial", ""}, "--serial: an empty serial number chooses no Tarvex" + more},
        {{"bootloader", "--path="}, "--path: an empty path chooses no Tarvex" + more},
        {{"update", "--image", ""}, "--image: an empty name is no firmware image" + more},
        {{"update", "--wait-limit", "0"}, wait},
        {{"update", "--wait-limit", "86401"}, wait},
        {{"bootloader", "--wait-limit=9223372036854775808"}, wait},
        {{"update", "--wait-limit", "1e3"}, wait},
        {{"history", "-n", "0"}, "-n: the count of lines is a whole number from 1 up" + more},
    };
    for (const auto& [args, message] : rows) {
        SCOPED_TRACE(::testing::PrintToString(args));
        EXPECT_EQ(run(args), ExitUsage);
        EXPECT_EQ(err.str(), message);
        EXPECT_TRUE(api.log().empty());
    }
}

TEST_F(CliTest, HelpFitsEightyColumns) {
    for (const char* command :
         {"--help", "list --help", "update --help", "bootloader --help", "history --help"}) {
        SCOPED_TRACE(command);
        EXPECT_EQ(run(command), ExitDone);
        std::stringstream lines(out.str());
        for (std::string line; std::getline(lines, line);)
            EXPECT_LE(line.size(), 80U) << line;
    }
}

// Into a pipe or a file as on a terminal: a device string's control characters are escaped.
TEST_F(CliTest, DeviceStringsAreWrittenWithTheirControlCharactersEscaped) {
    const std::u16string evil = u"TX\x1b]0;owned\x07\r\nSerial number:  FAKE";
    api.tarvex().config().application.serialNumber = evil;
    api.tarvex().config().bootloader.serialNumber = evil;
    api.tarvex().config().application.manufacturer = u"Maker\x1b[2K\t\x7f\x9b"
                                                     u"2J Zo\u00eb \U0010FFFD";
    std::string seen;
    for (const char* command : {"list", "update", "history"}) {
        EXPECT_EQ(run(command), 0) << command;
        seen += out.str() + err.str();
    }
    EXPECT_EQ(seen.find('\x1b'), std::string::npos) << seen;
    const std::string shown = "TX\\x1b]0;owned\\x07\\r\\nSerial number:  FAKE";
    EXPECT_NE(seen.find("Serial number:  " + shown + "\n"), std::string::npos) << seen; // list
    EXPECT_NE(seen.find("completed: The Tarvex " + shown + " runs"), std::string::npos) << seen;
    EXPECT_NE(seen.find("completed  " + shown + " 2.13 -> 2.13"), std::string::npos) << seen;
    EXPECT_NE(seen.find("Maker\\x1b[2K\\t\\x7f\\u009b2J Zo\xC3\xAB \xF4\x8F\xBF\xBD\n"),
              std::string::npos)
        << seen;
}

#ifdef __linux__
// `update` in a child process with `act` after the n-th record: 0 when every record went out and
// writes to standard error failed as `outputGone` says, else 1 or 128 and the signal.
int updateInAChild(CliTest& t, bool outputGone, std::size_t n, void (*act)()) {
    const pid_t child = ::fork();
    if (child == 0) {
        t.atRecord(n, act);
        const std::atomic<bool>& interrupted = catchInterrupts();
        CliEnvironment env{t.api,     std::cout, std::cerr,    false, nullptr,
                           t.history, t.image,   &interrupted, {}};
        const int code = runCli({"update"}, env);
        const bool sent = code == 0 && t.api.tarvex().records().size() == Records;
        std::_Exit(sent && std::cerr.good() != outputGone ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(CliTest, AReaderGoingAwayOrTwoCtrlCsJustAfterTheLastRecordStillEndWithTheHistoryLine) {
    EXPECT_EQ(updateInAChild(*this, true, 20,
                             [] { // every write from here fails
                                 int ends[2];
                                 ignoreClosedOutput();
                                 if (::pipe(ends) != 0 || ::dup2(ends[1], STDOUT_FILENO) < 0 ||
                                     ::dup2(ends[1], STDERR_FILENO) < 0 || ::close(ends[0]) != 0)
                                     std::_Exit(2);
                             }),
              0);
    EXPECT_EQ(HistoryFile(history).read().size(), 1U);
    fs::remove(history);
    again();
    EXPECT_EQ(updateInAChild(*this, false, Records, [] { std::raise(SIGINT), std::raise(SIGINT); }),
              0);
    EXPECT_EQ(HistoryFile(history).read().size(), 1U);
}

#endif
} // namespace
} // namespace quorvane::test
