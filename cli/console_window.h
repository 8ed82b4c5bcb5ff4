// The window seam on a console: what the commands show goes to standard error as lines, the
// progress bar as one line (redrawn in place on a terminal), and Ctrl-C closes it. Nobody is
// asked anything: a stop is a stop.
#pragma once

#include "ApiDeclarations.h"
#include "window_seam.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <utility>

namespace quorvane {

class ConsoleWindow final : public WindowSeam {
public:
    // `clock` times the progress; `interrupted` (may be null) is set by Ctrl-C. A terminal gets
    // the progress redrawn at most ten times a second; anything else a line at each tenth.
    ConsoleWindow(HidPlatform& clock, std::ostream& err, bool terminal, bool quiet,
                  const std::atomic<bool>* interrupted);
    // On a terminal the progress line stays narrower than `columns` says the terminal is at each
    // redraw (0, or none: the width is unknown).
    void fitProgressTo(std::function<int()> columns) { columns_ = std::move(columns); }

    void setLabel(InfoLabel, const std::u16string&) override {}
    void setUpgradeCaption(const std::string& caption) override;
    void setUpgradeEnabled(bool) override {}
    void setProgressVisible(bool) override {}
    void setProgress(float twips, double percent) override;
    void repaintProgress() override {}
    void processEvents() override {}
    bool closeRequested() const override;
    bool confirmStop(const std::string&) override { return true; }
    // The command's failure: kept for the outcome, which the program prints.
    void tellUser(const std::string& message) override;
    void notify(const std::string& message) override;
    void unload() override {}

    const std::optional<std::string>& told() const { return told_; }
    // The last caption shown: where the command was when it stopped.
    const std::string& caption() const { return caption_; }
    // A message on a line of its own (unless quiet).
    void say(const std::string& message);

private:
    // Ends a progress line left open (from closeRequested() too: the line is output, not state).
    void endProgressLine() const;

    HidPlatform& clock_;
    std::ostream& err_;
    bool terminal_, quiet_;
    const std::atomic<bool>* interrupted_;
    std::function<int()> columns_;
    std::optional<std::string> told_;
    std::string caption_;
    std::int64_t sent_ = 0, start_ = 0, lastDraw_ = 0;
    std::int64_t tenthsShown_ = 0;
    mutable bool lineOpen_ = false; // a progress line is on the terminal without its newline
    mutable std::size_t lineWidth_ = 0;
};

} // namespace quorvane
