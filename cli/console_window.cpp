#include "console_window.h"

#include "terminal_text.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

namespace quorvane {

namespace {

std::string joined(const std::vector<std::string>& parts) {
    std::string line;
    for (const std::string& part : parts)
        line += (line.empty() ? "" : "  ") + part;
    return line;
}

// "37/120 records   30 %  48.0 records/s  0:02 left", at most `limit` characters (0: any): a
// narrow terminal loses the rate first, then the time left, then the share.
std::string progressLine(std::int64_t sent, std::int64_t total, std::int64_t elapsedMs,
                         std::size_t limit) {
    std::array<char, 64> text{};
    std::vector<std::string> parts;
    auto add = [&](const char* format, auto... values) {
        std::snprintf(text.data(), text.size(), format, values...);
        parts.emplace_back(text.data());
    };
    add("%lld/%lld records", static_cast<long long>(sent), static_cast<long long>(total));
    add("%3d %%", static_cast<int>(100 * sent / total));
    if (const double rate = elapsedMs > 0 ? 1000.0 * static_cast<double>(sent) / elapsedMs : 0.0;
        rate > 0) {
        const auto left =
            static_cast<long long>(std::ceil(static_cast<double>(total - sent) / rate));
        add("%.1f records/s", rate);
        add("%lld:%02lld left", left / 60, left % 60);
    }
    std::string line = joined(parts);
    for (const std::size_t part : {2, 2, 1}) {
        if (limit == 0 || line.size() <= limit)
            break;
        if (part < parts.size())
            parts.erase(parts.begin() + static_cast<std::ptrdiff_t>(part));
        line = joined(parts);
    }
    if (limit != 0 && line.size() > limit)
        line.resize(limit);
    return line;
}

} // namespace

ConsoleWindow::ConsoleWindow(HidPlatform& clock, std::ostream& err, bool terminal, bool quiet,
                             const std::atomic<bool>* interrupted)
    : clock_(clock), err_(err), terminal_(terminal), quiet_(quiet), interrupted_(interrupted) {}

bool ConsoleWindow::closeRequested() const {
    const bool requested = interrupted_ != nullptr && interrupted_->load();
    if (requested) // what follows a Ctrl-C starts on a line of its own
        endProgressLine();
    return requested;
}

void ConsoleWindow::tellUser(const std::string& message) {
    endProgressLine();
    told_ = message;
}

void ConsoleWindow::endProgressLine() const {
    if (lineOpen_)
        err_ << '\n';
    lineOpen_ = false;
    lineWidth_ = 0;
}

void ConsoleWindow::say(const std::string& message) {
    if (quiet_)
        return;
    endProgressLine();
    // Messages carry device strings and paths; none of their control characters is written raw,
    // to a terminal or to a file that a terminal may show later.
    err_ << terminalSafe(message) << '\n' << std::flush;
}

void ConsoleWindow::setUpgradeCaption(const std::string& caption) {
    caption_ = caption;
    say(caption);
}

void ConsoleWindow::notify(const std::string& message) {
    say(message);
}

void ConsoleWindow::setProgress(float /*twips*/, double percent) {
    const std::int64_t now = clock_.nowMs();
    if (percent <= 0) { // the start of a transfer, or its end
        endProgressLine();
        sent_ = tenthsShown_ = 0;
        start_ = lastDraw_ = now;
        return;
    }
    // One call per record: the count of all follows from the share the first ones make.
    ++sent_;
    const auto total = static_cast<std::int64_t>(std::llround(100.0 * sent_ / percent));
    if (quiet_ || total <= 0)
        return;
    if (terminal_) {
        if (now - lastDraw_ < 100 && sent_ < total)
            return;
        lastDraw_ = now;
        // Narrower than the terminal is now, so that it is never wrapped onto a new row; spaces
        // over what a longer line left (no escape sequences: any console shows this).
        const int columns = columns_ ? columns_() : 0;
        const std::size_t limit = columns > 1 ? static_cast<std::size_t>(columns - 1) : 0;
        const std::string line = progressLine(sent_, total, now - start_, limit);
        const std::size_t width = line.size(),
                          last = limit ? std::min(lineWidth_, limit) : lineWidth_;
        err_ << '\r' << line << std::string(last > width ? last - width : 0, ' ') << std::flush;
        lineWidth_ = width;
        lineOpen_ = true;
        if (sent_ == total)
            endProgressLine();
    } else if (const std::int64_t tenths = 10 * sent_ / total; tenths > tenthsShown_) {
        tenthsShown_ = tenths;
        err_ << progressLine(sent_, total, now - start_, 0) << '\n' << std::flush;
    }
}

} // namespace quorvane
