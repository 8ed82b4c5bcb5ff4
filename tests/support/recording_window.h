// A window for tests: records what discovery and the commands show; a test acts at events.
#pragma once

#include "ApiDeclarations.h"
#include "text_encoding.h"
#include "window_seam.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace quorvane::test {

class RecordingWindow final : public WindowSeam {
public:
    explicit RecordingWindow(HidPlatform& api) : api_(api) {}

    void setLabel(InfoLabel which, const std::u16string& text) override {
        labelWrites.emplace_back(which, labels[which] = utf8Text(text));
    }
    std::string label(InfoLabel which) const { return labels.count(which) ? labels.at(which) : ""; }
    void setUpgradeCaption(const std::string& caption) override { captions.push_back(caption); }
    void setUpgradeEnabled(bool enabled) override { upgradeEnabled = enabled; }
    void setProgressVisible(bool) override {}
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
    bool confirmStop(const std::string& question) override {
        questions.push_back(question);
        return true;
    }
    void notify(const std::string& message) override { notices.push_back(message); }
    void tellUser(const std::string& message) override {
        messages.push_back(message);
        if (onMessage)
            onMessage(message);
    }
    void unload() override { ++unloads; }

    std::map<InfoLabel, std::string> labels; // as UTF-8
    std::vector<std::pair<InfoLabel, std::string>> labelWrites;
    std::vector<std::string> captions, messages, notices, questions;
    bool upgradeEnabled = true, closing = false;
    std::vector<float> progressWidths;
    std::vector<double> progressPercents;
    int repaints = 0, unloads = 0;
    std::vector<std::int64_t> eventTimes; // clock time of every processing of events
    std::function<void()> onEvents;
    std::function<void(const std::string&)> onMessage;

private:
    HidPlatform& api_;
};

} // namespace quorvane::test
