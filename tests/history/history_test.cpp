// The update history file: whole lines, a damaged line skipped, the oldest half dropped past
// 1 MB, writers in two processes, a place that cannot be written.
#include "history_file.h"
#include "sha256.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#ifdef __linux__
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

    // A place that cannot be written (its folder is a file): told by the result alone.
    EXPECT_FALSE(HistoryFile(history.path() / "history.jsonl").append(numbered(0)));
    EXPECT_EQ(sha256Hex("abc", 3),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
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
    std::ifstream in(history.path());
    std::size_t lines = 0;
    for (std::string line; std::getline(in, line);)
        ++lines;
    const auto records = history.read();
    EXPECT_EQ(lines, 2U * Lines);
    ASSERT_EQ(records.size(), 2U * Lines);
    // Each writer's lines in its own order.
    std::int64_t next[2] = {};
    for (const UpdateRecord& r : records)
        EXPECT_EQ(r.recordsSent, next[r.program == "cli"]++);
}
#endif

} // namespace
} // namespace quorvane::test
