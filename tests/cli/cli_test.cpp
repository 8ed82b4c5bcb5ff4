// quorvane-cli in-process against the virtual Tarvex: each command's exit code and what reached
// the wire, the JSON parsed field by field, the progress lines, the -v trace.
#include "cli.h"
#include "history_file.h"
#include "sha256.h"
#include "tarvex_fixture.h"
#include "temp_dir.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <cmath>
#include <cstring>
#include <sstream>

namespace quorvane::test {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;
constexpr std::size_t Records = 50;

class CliTest : public TarvexFixture {
public:
    using TarvexFixture::api, TarvexFixture::restartedInto;
    CliTest() {
        writeFile(image, bytes);
        api.tarvex().config().expectedRecords = Records;
    }
    int run(const Args& args) {
        out.str(""), err.str("");
        CliEnvironment env{api,   out,  err, terminal, nullptr, dir.path() / "history.jsonl",
                           image, &stop};
        return runCli(args, env);
    }
    // A second unit, listed first: another vendor's interface with the application's product ID.
    void secondUnit(const char* serial) {
        api.foreignBefore = {foreign("b", 2, AppModeProductId)};
        api.foreignBefore[0].serialNumber = std::u16string(serial, serial + std::strlen(serial));
    }
    void arriveAtFirstSleep(const char* serial) {
        api.onSleep = [this, serial, once = false](std::int64_t) mutable {
            if (!std::exchange(once, true))
                secondUnit(serial);
        };
    }
    // Ctrl-C after the n-th record's pause.
    void interruptAfterRecord(int n) {
        api.onSleep = [this, n, records = 0](std::int64_t) mutable {
            if (api.log().back().sleepMs == RecordPauseMs && ++records == n)
                stop = true, logAtStop = api.log().size();
        };
    }
    TempDir dir;
    fs::path image = dir.path() / "quorvane.bin";
    std::vector<std::uint8_t> bytes = imageBytes(Records * RecordSize);
    std::ostringstream out, err;
    bool terminal = false;
    std::atomic<bool> stop{false};
    std::size_t logAtStop = 0;
};

struct Row {
    const char* name;
    Args args;
    int exit;
    std::size_t delivered; // records the Tarvex took
    const char* said;      // the start of the outcome line on standard output
    void (*setup)(CliTest&, TarvexConfig&);
};
class CliCommand : public CliTest, public ::testing::WithParamInterface<Row> {};

TEST_P(CliCommand, EndsWithItsExitCodeAndSendsOnlyToTheTarvexChosen) {
    const Row& row = GetParam();
    row.setup(*this, api.tarvex().config());
    EXPECT_EQ(run(row.args), row.exit) << err.str();
    ASSERT_EQ(api.tarvex().records().size(), row.delivered);
    for (std::size_t k = 0; k < row.delivered; ++k)
        EXPECT_EQ(
            0, std::memcmp(api.tarvex().records()[k].data(), &bytes[k * RecordSize], RecordSize));
    EXPECT_EQ(out.str().rfind(row.said, 0), 0U) << out.str();
    for (const CallRecord& r : api.log())
        EXPECT_TRUE((r.kind != CallKind::SetFeature && r.kind != CallKind::GetFeature) || r.tarvex)
            << r.path;
    for (std::size_t i = logAtStop; stop && i < api.log().size(); ++i)
        EXPECT_NE(api.log()[i].kind, CallKind::SetFeature) << "after Ctrl-C";
    expectHandlesBalanced();
    // A command that ran left its line in the history; a refusal before it, none.
    const auto lines = HistoryFile(dir.path() / "history.jsonl").read();
    const bool ran = (row.exit > 2 || row.exit == 0) && row.args[0] != "list";
    EXPECT_EQ(lines.size(), ran || !calls(CallKind::SetFeature).empty() ? 1U : 0U);
    for (const UpdateRecord& r : lines)
        EXPECT_TRUE(r.program == "cli" && r.outcome == (row.exit == 0     ? "completed"
                                                        : row.exit == 130 ? "stopped"
                                                                          : "failed"));
}

using T = CliTest;
using C = TarvexConfig;
const Row rows[] = {
    {"Update", {"update"}, 0, Records, "completed: The Tarvex TX-000417 runs", [](T&, C&) {}},
    {"UpdateFromBootloader",
     {"update"},
     0,
     Records,
     "completed:",
     [](T& t, C&) { t.restartedInto(TarvexMode::Bootloader); }},
    {"Bootloader",
     {"bootloader"},
     0,
     0,
     "completed: The Tarvex TX-000417 is in its bootloader",
     [](T&, C&) {}},
    {"List", {"list"}, 0, 0, "Tarvex at virtual:tarvex/1", [](T&, C&) {}},
    {"NoDevice", {"update"}, 2, 0, "failed: No Tarvex", [](T& t, C&) { t.api.tarvexAttached = 0; }},
    {"TwoUnits",
     {"update"},
     2,
     0,
     "failed: More than one Tarvex",
     [](T& t, C&) { t.secondUnit("TX-2"); }},
    {"TwoUnitsOneChosen",
     {"update", "--serial", "TX-000417"},
     0,
     Records,
     "completed:",
     [](T& t, C&) { t.secondUnit("TX-2"); }},
    {"TwoUnitsBootloaderChosen",
     {"bootloader", "--serial", "TX-000417"},
     0,
     0,
     "completed:",
     [](T& t, C&) { t.secondUnit("TX-2"); }},
    {"TwoUnitsSameSerial",
     {"update", "--serial", "TX-000417"},
     2,
     0,
     "failed: More than one",
     [](T& t, C&) { t.secondUnit("TX-000417"); }},
    {"ChosenSerialAbsent",
     {"update", "--serial", "TX-9"},
     2,
     0,
     "failed: No Tarvex with",
     [](T&, C&) {}},
    // A unit arriving during the update: told apart by where it is plugged, never touched.
    {"ArrivesWithAnotherSerial",
     {"update", "--path", "virtual:tarvex/1"},
     0,
     Records,
     "completed",
     [](T& t, C&) { t.arriveAtFirstSleep("TX-2"); }},
    {"ArrivesWithTheSameSerial",
     {"update", "--path", "virtual:tarvex/1"},
     0,
     Records,
     "completed:",
     [](T& t, C&) { t.arriveAtFirstSleep("TX-000417"); }},
    {"ImageRefused",
     {"update"},
     3,
     0,
     "failed: The firmware image",
     [](T& t, C&) { writeFile(t.image, imageBytes(79)); }},
    {"ImageMissing",
     {"update", "--image", "/nonexistent.bin"},
     3,
     0,
     "failed: The firmware image",
     [](T&, C&) {}},
    {"RecordRefused",
     {"update"},
     4,
     2,
     "failed: The device rejected firmware record 3",
     [](T&, C& c) { c.faults.failDataReport = 3; }},
    {"NeverBack",
     {"update"},
     5,
     Records,
     "failed: All 50 records were accepted. The Tarvex did not come back within 120",
     [](T&, C& c) { c.faults.neverReturn = true; }},
    {"BackInBootloader",
     {"update"},
     5,
     Records,
     "failed: All 50 records were accepted. The device did not restart",
     [](T&, C& c) { c.faults.restartInto = TarvexMode::Bootloader; }},
    {"NoBootloader",
     {"bootloader"},
     5,
     0,
     "failed: The device did not switch",
     [](T&, C& c) { c.faults.stayAfterBootloaderEntry = true; }},
    {"Interrupted",
     {"update"},
     130,
     7,
     "stopped: Interrupted after 7 of 50 records",
     [](T& t, C&) { t.interruptAfterRecord(7); }},
    {"BadUsage", {"update", "--serial", "a", "--path", "b"}, 1, 0, "", [](T&, C&) {}},
    {"NoCommand", {"--quiet"}, 1, 0, "", [](T&, C&) {}},
};
INSTANTIATE_TEST_SUITE_P(Commands, CliCommand, ::testing::ValuesIn(rows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CliTest, JsonOutputsParseWithEveryField) {
    api.foreignAfter = {foreign("hid:mouse", 0x046D, 0xC52B, false)};
    ASSERT_EQ(run({"list", "--all", "--json"}), 0);
    auto j = nlohmann::json::parse(out.str());
    ASSERT_EQ(j["tarvex"].size(), 1U);
    const auto& t = j["tarvex"][0];
    EXPECT_EQ(t["mode"], "application");
    EXPECT_TRUE(t["vendor_id"] == 0x1D50 && t["product_id"] == AppModeProductId);
    EXPECT_TRUE(t["manufacturer"] == "Tarvex Devices" && t["product"] == "Tarvex");
    EXPECT_TRUE(t["version"] == "2.13" && t["serial_number"] == "TX-000417");
    EXPECT_TRUE(t["report_length"] == 65 && t["path"] == "virtual:tarvex/1" && t["opened"]);
    ASSERT_EQ(j["interfaces"].size(), 2U);
    EXPECT_TRUE(j["interfaces"][1]["path"] == "hid:mouse" && !j["interfaces"][1]["opened"] &&
                j["interfaces"][1]["product_id"] == 0xC52B);

    ASSERT_EQ(run({"update", "--json"}), 0);
    j = nlohmann::json::parse(out.str());
    EXPECT_TRUE(j["exit_code"] == 0 && j["outcome"] == "completed" && j["command"] == "upgrade");
    EXPECT_TRUE(j["records_sent"] == Records && j["records_total"] == Records);
    EXPECT_EQ(j["image"]["sha256"], sha256Hex(bytes.data(), bytes.size()));
    EXPECT_TRUE(j["device_before"]["mode"] == "application" &&
                j["device_after"]["mode"] == "application");
    EXPECT_EQ(j["device_after"]["serial_number"], "TX-000417");
    EXPECT_NE(j["message"].get<std::string>().find("runs its new firmware"), std::string::npos);
    ASSERT_EQ(run({"bootloader", "--json"}), 0);
    ASSERT_EQ(run({"history", "--json", "-n", "1"}), 0);
    j = nlohmann::json::parse(out.str());
    ASSERT_EQ(j.size(), 1U);
    EXPECT_TRUE(j[0]["command"] == "bootloader" && j[0]["device_after"]["mode"] == "bootloader");
    EXPECT_TRUE(err.str().empty());
}

TEST_F(CliTest, ProgressALineAtEachTenthOrRedrawnTenTimesASecondOrQuiet) {
    ASSERT_EQ(run({"update"}), 0);
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
    ASSERT_EQ(run({"update"}), 0); // 50 records at 20 ms: a second, at most ten redraws
    const std::string e = err.str();
    EXPECT_EQ(std::count(e.begin(), e.end(), '\r'), 10) << e;
    EXPECT_NE(e.find("\r50/50 records  100 %"), std::string::npos);
    again();
    ASSERT_EQ(run({"update", "-q"}), 0);
    EXPECT_TRUE(err.str().empty());
}

TEST_F(CliTest, VerboseTracesEveryReportByteForByte) {
    ASSERT_EQ(run({"-v", "bootloader"}), 0);
    const std::string trace = err.str();
    std::size_t sets = 0;
    for (std::size_t at = 0; (at = trace.find("] set feature", at)) != std::string::npos; ++at)
        ++sets;
    EXPECT_EQ(sets, calls(CallKind::SetFeature).size());
    EXPECT_NE(trace.find("65 bytes -> ok\n    00 b0 07 1d 00 00"), std::string::npos) << trace;
    EXPECT_NE(trace.find("string serial number handle"), std::string::npos);
}

} // namespace
} // namespace quorvane::test
