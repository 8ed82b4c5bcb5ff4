#include "console_window.h"

#include "terminal_text.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace quorvane {

namespace {

// "  37/120 records   30 %   48.0 records/s   0:02 left"
std::string progressLine(std::int64_t sent, std::int64_t total, std::int64_t elapsedMs) {
    std::array<char, 160> line{};
    const double rate = elapsedMs > 0 ? 1000.0 * static_cast<double>(sent) / elapsedMs : 0.0;
    const int percent = static_cast<int>(100 * sent / total);
    if (rate <= 0) {
        std::snprintf(line.data(), line.size(), "%lld/%lld records  %3d %%",
                      static_cast<long long>(sent), static_cast<long long>(total), percent);
        return line.data();
    }
    const auto left = static_cast<long long>(std::ceil(static_cast<double>(total - sent) / rate));
    std::snprintf(line.data(), line.size(),
                  "%lld/%lld records  %3d %%  %.1f records/s  %lld:%02lld left",
                  static_cast<long long>(sent), static_cast<long long>(total), percent, rate,
                  left / 60, left % 60);
    return line.data();
}

} // namespace

ConsoleWindow::ConsoleWindow(HidPlatform& clock, std::ostream& err, bool terminal, bool quiet,
                             const std::atomic<bool>* interrupted)
    : clock_(clock), err_(err), terminal_(terminal), quiet_(quiet), interrupted_(interrupted) {}

bool ConsoleWindow::closeRequested() const {
    return interrupted_ != nullptr && interrupted_->load();
}

void ConsoleWindow::endProgressLine() {
    if (lineOpen_)
        err_ << '\n';
    lineOpen_ = false;
    lineWidth_ = 0;
}

void ConsoleWindow::say(const std::string& message) {
    if (quiet_)
        return;
    endProgressLine();
    // Messages carry device strings and paths; none of their control characters reaches a
    // terminal raw.
    err_ << (terminal_ ? terminalSafe(message) : message) << '\n' << std::flush;
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
    const std::string line = progressLine(sent_, total, now - start_);
    if (terminal_) {
        if (now - lastDraw_ < 100 && sent_ < total)
            return;
        lastDraw_ = now;
        // Spaces over what a longer line left (no escape sequences: any console shows this).
        const std::size_t width = line.size();
        err_ << '\r' << line << std::string(lineWidth_ > width ? lineWidth_ - width : 0, ' ')
             << std::flush;
        lineWidth_ = width;
        lineOpen_ = true;
        if (sent_ == total)
            endProgressLine();
    } else if (const std::int64_t tenths = 10 * sent_ / total; tenths > tenthsShown_) {
        tenthsShown_ = tenths;
        err_ << line << '\n' << std::flush;
    }
}

} // namespace quorvane
