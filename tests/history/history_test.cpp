// The update history file: whole lines, a damaged line skipped, the oldest half dropped past
// 1 MB, writers in two processes, a place that cannot be written.
#include "history_file.h"
#include "sha256.h"
#include "temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <functional>
#include <memory>
#ifdef __linux__
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace quorvane::test {
namespace {

namespace fs = std::filesystem;

// A line of about 1 KB numbered `n` (as its records sent).
UpdateRecord numbered(std::int64_t n, const std::string& program = "cli") {
    UpdateRecord r;
    r.started = r.ended = utcNow(), r.program = program, r.command = "upgrade";
    r.recordsSent = n, r.message = std::string(850, 'x'), r.outcome = "failed";
    r.deviceBefore = DeviceSnapshot{"bootloader", 1, 2, "1.0", "M", "P", "S", "/dev/hidraw0"};
    return r;
}

std::vector<std::int64_t> numbers(const HistoryFile& history) {
    std::vector<std::int64_t> out;
    for (const UpdateRecord& r : history.read())
        out.push_back(r.recordsSent);
    return out;
}

TEST(HistoryFile, WholeLinesDamagedOnesSkippedTheOldestHalfDroppedPastOneMegabyte) {
    TempDir dir;
    const HistoryFile history(dir.path() / "state" / "quorvane" / "history.jsonl");
    ASSERT_TRUE(history.append(numbered(1)));
    std::ofstream(history.path(), std::ios::app) << "{\"started\":\"2026-"; // cut by a crash
    ASSERT_TRUE(history.append(numbered(2)));
    std::ofstream(history.path(), std::ios::app) << "not json\n{\"outcome\":\"failed\"}\n";
    ASSERT_TRUE(history.append(numbered(3)));
    EXPECT_EQ(numbers(history), (std::vector<std::int64_t>{1, 2, 3}));
    EXPECT_EQ(history.read()[1].deviceBefore->path, "/dev/hidraw0");

    std::int64_t last = 3;
    for (std::uintmax_t size = 0; fs::file_size(history.path()) >= size;) {
        size = fs::file_size(history.path());
        ASSERT_TRUE(history.append(numbered(++last)));
    }
    // The newest lines, each whole, the last one written among them, in at most half a megabyte.
    const auto kept = numbers(history);
    EXPECT_LE(fs::file_size(history.path()), HistoryFile::RotateAtBytes / 2);
    EXPECT_GT(fs::file_size(history.path()), HistoryFile::RotateAtBytes / 2 - 2000);
    for (std::size_t i = 0; i < kept.size(); ++i)
        EXPECT_EQ(kept[i], last - static_cast<std::int64_t>(kept.size() - 1 - i));

    // A place that cannot be written (its folder is a file): told by the result and a warning.
    const HistoryFile misplaced(history.path() / "history.jsonl");
    EXPECT_FALSE(misplaced.append(numbered(0)));
    EXPECT_FALSE(misplaced.warning().empty());
    EXPECT_EQ(sha256Hex("abc", 3),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

#ifndef _WIN32
// The history's place from XDG_STATE_HOME, else HOME; a relative or missing one is no place.
TEST(HistoryFile, ItsPlaceFromTheEnvironmentOnlyWhereThatNamesAnAbsoluteFolder) {
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {"/s", "/h", "/s/quorvane/history.jsonl"},
        {"s", "/h", "/h/.local/state/quorvane/history.jsonl"},
        {nullptr, "h", ""},
        {nullptr, nullptr, ""}};
    for (const auto& [state, home, place] : rows) {
        SCOPED_TRACE(place);
        for (const auto& [name, value] : {std::pair{"XDG_STATE_HOME", state}, {"HOME", home}})
            value ? ::setenv(name, value, 1) : ::unsetenv(name);
        EXPECT_EQ(defaultHistoryPath(), fs::path(place));
    }
}
#endif

// A hazard of the history's place, and what it leaves: the append and the reading each end
// (bounded by the test's timeout), with the line written or a warning, never an exception.
struct Hazard {
    const char* name;
    // Makes the hazard at the history's path; what it returns is held during the append.
    std::function<std::shared_ptr<void>(const fs::path&)> make;
    bool appended;
    const char* appendWarning; // in the warning; "" for none
    std::size_t lines;         // records read afterwards
    const char* readWarning;
    const char* lastMessage = nullptr; // the message of the last record read
};

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::app) << text;
}

// A line as history_test's numbered() writes it, with one field replaced.
std::string lineWith(const std::string& field, const std::string& value) {
    nlohmann::ordered_json j = toJson(numbered(7));
    j["device_before"]["vendor_id"] = 1;
    (field == "vendor_id" ? j["device_before"][field] : j[field]) =
        nlohmann::ordered_json::parse(value);
    return j.dump() + "\n";
}

const Hazard hazards[] = {
    {"Directory", [](const fs::path& p) { return fs::create_directories(p), nullptr; }, false,
     "not a regular file", 0, "not a regular file"},
    {"LockHeldByAnother",
     [](const fs::path& p) {
         writeText(p, lineWith("records_sent", "1"));
         return std::make_shared<history_io::FileLock>(fs::path(p) += ".lock", 0);
     },
     false, "held its lock for over 1500 ms", 1, ""},
    {"TextNotUtf8", [](const fs::path&) { return nullptr; }, true, "", 1, "",
     "caf\xEF\xBF\xBD.bin \xEF\xBF\xBD"},
    {"DamagedNumbers",
     [](const fs::path& p) {
         writeText(p, lineWith("records_sent", "1e300") + lineWith("vendor_id", "70000") +
                          lineWith("records_total", "-1.5") + lineWith("records_sent", "5"));
         return nullptr;
     },
     true, "", 2, ""},
    {"HugeFile", // sparse: only its last megabyte is ever read
     [](const fs::path& p) {
         writeText(p, "");
         fs::resize_file(p, std::uintmax_t{6} << 30);
         writeText(p, "\n" + lineWith("records_sent", "5"));
         return nullptr;
     },
     true, "", 2, ""},
#ifdef __linux__
    {"Fifo", [](const fs::path& p) { return ::mkfifo(p.c_str(), 0600), nullptr; }, false,
     "not a regular file", 0, "not a regular file"},
    {"DeviceFile", [](const fs::path& p) { return fs::create_symlink("/dev/zero", p), nullptr; },
     false, "not a regular file", 0, "not a regular file"},
    {"FileSizeLimit", // EFBIG, where SIGXFSZ would have ended the program
     [](const fs::path& p) -> std::shared_ptr<void> {
         writeText(p, lineWith("records_sent", "1"));
         rlimit before{};
         ::getrlimit(RLIMIT_FSIZE, &before);
         rlimit limited = before;
         limited.rlim_cur = fs::file_size(p) + 100;
         ::setrlimit(RLIMIT_FSIZE, &limited);
         return std::shared_ptr<void>(nullptr,
                                      [before](void*) { ::setrlimit(RLIMIT_FSIZE, &before); });
     },
     false, "File too large", 1, ""},
#endif
};

TEST(HistoryFile, NeitherAppendNorReadingAtAHazardousPlaceFailsBlocksOrThrows) {
    for (const Hazard& h : hazards) {
        SCOPED_TRACE(h.name);
        TempDir dir;
        const HistoryFile history(dir.path() / "history.jsonl");
        UpdateRecord record = numbered(9);
        record.message = "\xFF", record.image = ImageSummary{"caf\xE9.bin", 1, "00"};
        bool appended = false;
        {
            const auto held = h.make(history.path());
            appended = history.append(record);
        }
        EXPECT_EQ(appended, h.appended);
        EXPECT_NE(history.warning().find(h.appendWarning), std::string::npos) << history.warning();
        EXPECT_EQ(history.warning().empty(), *h.appendWarning == 0) << history.warning();
        const auto records = history.read();
        EXPECT_EQ(records.size(), h.lines);
        EXPECT_NE(history.warning().find(h.readWarning), std::string::npos) << history.warning();
        EXPECT_EQ(history.warning().empty(), *h.readWarning == 0) << history.warning();
        if (h.lastMessage != nullptr && !records.empty()) {
            EXPECT_EQ(records.back().image->path + " " + records.back().message, h.lastMessage);
        }
    }
}

#ifdef __linux__
TEST(HistoryFile, TwoProcessesAppendingAtOnceNeverInterleave) {
    TempDir dir;
    const HistoryFile history(dir.path() / "history.jsonl");
    constexpr int Lines = 400;
    pid_t writers[2];
    for (pid_t& writer : writers)
        if ((writer = ::fork()) == 0) {
            for (int n = 0; n < Lines; ++n)
                history.append(numbered(n, &writer == writers ? "window" : "cli"));
            ::_exit(0);
        }
    for (pid_t writer : writers)
        ::waitpid(writer, nullptr, 0);
    // Every line whole (a damaged one would be skipped), each writer's in its own order.
    const auto records = history.read();
    ASSERT_EQ(records.size(), 2U * Lines);
    std::int64_t next[2] = {};
    for (const UpdateRecord& r : records)
        EXPECT_EQ(r.recordsSent, next[r.program == "cli"]++);
}
#endif

} // namespace
} // namespace quorvane::test
