// A window that shows nothing: the benchmark measures the program, not the toolkit.
#pragma once

#include "window_seam.h"

namespace quorvane {

class NullWindow final : public WindowSeam {
public:
    void setLabel(InfoLabel, const std::string&) override {}
    std::string label(InfoLabel) const override { return {}; }
    void setUpgradeCaption(const std::string&) override {}
    void setUpgradeEnabled(bool) override {}
    void setProgressVisible(bool) override {}
    void setProgressWidth(float) override {}
    void repaintProgress() override {}
    void processEvents() override {}
    bool closeRequested() const override { return false; }
    void tellUser(const std::string&) override {}
    void unload() override {}
};

} // namespace quorvane
