// A window for tests: records everything discovery and the commands show, and lets a test act
// whenever window events are processed (click, close).
#pragma once

#include "ApiDeclarations.h"
#include "device_info.h"
#include "window_seam.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace quorvane::test {

class RecordingWindow final : public WindowSeam {
public:
    explicit RecordingWindow(HidPlatform& api) : api_(api) {}

    // Labels are kept as UTF-8, for comparing with literals.
    void setLabel(InfoLabel which, const std::u16string& text) override {
        labelWrites.emplace_back(which, labels[which] = utf8Text(text));
    }
    std::string label(InfoLabel which) const {
        auto it = labels.find(which);
        return it == labels.end() ? std::string() : it->second;
    }
    void setUpgradeCaption(const std::string& caption) override { captions.push_back(caption); }
    void setUpgradeEnabled(bool enabled) override { upgradeEnabled = enabled; }
    void setProgressVisible(bool visible) override { progressVisible = visible; }
    void setProgress(float twips, double percent) override {
        progressWidths.push_back(twips);
        progressPercents.push_back(percent);
    }
    void repaintProgress() override { ++repaints; }
    void processEvents() override {
        eventTimes.push_back(api_.nowMs());
        if (onEvents)
            onEvents();
    }
    bool closeRequested() const override { return closing; }
    void tellUser(const std::string& message) override {
        messages.push_back(message);
        if (onMessage)
            onMessage(message);
    }
    void unload() override {
        ++unloads;
        if (onUnload)
            onUnload();
    }

    std::string caption() const { return captions.empty() ? "Upgrade Firmware" : captions.back(); }
    float progressWidth() const { return progressWidths.empty() ? 0.0F : progressWidths.back(); }

    std::map<InfoLabel, std::string> labels;
    std::vector<std::pair<InfoLabel, std::string>> labelWrites;
    std::vector<std::string> captions;
    bool upgradeEnabled = true;
    bool progressVisible = false;
    std::vector<float> progressWidths;
    std::vector<double> progressPercents;
    int repaints = 0;
    std::vector<std::int64_t> eventTimes; // clock time of every processing of events
    std::function<void()> onEvents;
    // Called after a message is recorded, and after an unload is counted.
    std::function<void(const std::string&)> onMessage;
    std::function<void()> onUnload;
    bool closing = false;
    std::vector<std::string> messages;
    int unloads = 0;

private:
    HidPlatform& api_;
};

} // namespace quorvane::test
