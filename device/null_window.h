// A window that shows nothing, for programs that have none: the benchmark (which measures the
// program, not a toolkit) and the listing of every Tarvex.
#pragma once

#include "window_seam.h"

namespace quorvane {

class NullWindow final : public WindowSeam {
public:
    void setLabel(InfoLabel, const std::u16string&) override {}
    void setUpgradeCaption(const std::string&) override {}
    void setUpgradeEnabled(bool) override {}
    void setProgressVisible(bool) override {}
    void setProgress(float, double) override {}
    void repaintProgress() override {}
    void processEvents() override {}
    bool closeRequested() const override { return false; }
    bool confirmStop(const std::string&) override { return true; }
    void tellUser(const std::string&) override {}
    void notify(const std::string&) override {}
    void unload() override {}
};

} // namespace quorvane
