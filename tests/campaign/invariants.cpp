#include "invariants.h"

#include "captions.h"
#include "tarvex_protocol.h"
#include "discovery.h"

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

namespace quorvane::campaign {

namespace {

using Record = std::array<std::uint8_t, 40>;

enum class Report { Entry, Unlock, Data, Unknown };

const char* kindName(CallKind k) {
    switch (k) {
    case CallKind::Enumerate:
        return "enumerate";
    case CallKind::Open:
        return "open";
    case CallKind::Close:
        return "close";
    case CallKind::GetAttributes:
        return "attributes";
    case CallKind::GetCapabilities:
        return "capabilities";
    case CallKind::SetFeature:
        return "set-feature";
    case CallKind::GetFeature:
        return "get-feature";
    case CallKind::GetString:
        return "string";
    case CallKind::Sleep:
        return "sleep";
    }
    return "?";
}

bool zeroFrom(const std::vector<std::uint8_t>& b, std::size_t from) {
    return from >= b.size() || std::all_of(b.begin() + static_cast<std::ptrdiff_t>(from), b.end(),
                                           [](std::uint8_t x) { return x == 0; });
}

template <std::size_t N>
bool carries(const std::vector<std::uint8_t>& b, const std::array<std::uint8_t, N>& content) {
    return b.size() >= N + 1 && std::equal(content.begin(), content.end(), b.begin() + 1);
}

// Collects violations, each tagged with its rule and the log position it concerns.
class Findings {
public:
    template <typename... Parts> void add(int rule, const Parts&... parts) {
        std::ostringstream s;
        s << "(" << rule << ") ";
        (s << ... << parts);
        lines_.push_back(s.str());
    }
    std::vector<std::string> take() { return std::move(lines_); }

private:
    std::vector<std::string> lines_;
};

struct Context {
    const Scenario& sc;
    const Observation& ob;
    std::map<std::string, const ForeignInterface*> foreign;
    std::vector<Record> expected; // the image the transfer should have read, record by record
    bool expectedSendable = false;
    Findings out;

    // The command whose log range holds `index`, if any.
    const CommandRun* commandAt(std::size_t index) const {
        for (const CommandRun& c : ob.commands)
            if (index >= c.logBegin && index < c.logEnd)
                return &c;
        return nullptr;
    }
    const ForeignInterface* foreignAt(const std::string& path) const {
        auto it = foreign.find(path);
        return it == foreign.end() ? nullptr : it->second;
    }
};

// (1) Every handle opened is closed exactly once, none is used after it is closed, and no more
// than the pair of the device is ever open at once.
void checkHandles(Context& cx) {
    const Observation& ob = cx.ob;
    for (const std::string& m : ob.misuse)
        cx.out.add(1, "handle misuse: ", m);
    if (ob.openHandlesAtEnd != 0)
        cx.out.add(1, ob.openHandlesAtEnd, " handle(s) still open after the window unloaded");
    std::set<RawHandle> open;
    std::size_t most = 0;
    for (std::size_t i = 0; i < ob.log.size(); ++i) {
        const CallRecord& r = ob.log[i];
        switch (r.kind) {
        case CallKind::Open:
            if (r.result)
                open.insert(r.handle);
            if (open.size() > most) {
                most = open.size();
                if (most > 2)
                    cx.out.add(1, "log ", i, ": ", most, " handles open at once");
            }
            break;
        case CallKind::Close:
            if (open.erase(r.handle) == 0)
                cx.out.add(1, "log ", i, ": close of handle ", r.handle, " that is not open");
            break;
        case CallKind::Enumerate:
        case CallKind::Sleep:
            break;
        default:
            if (open.count(r.handle) == 0)
                cx.out.add(1, "log ", i, ": ", kindName(r.kind), " on handle ", r.handle,
                           " that is not open");
        }
    }
    for (RawHandle h : open)
        cx.out.add(1, "handle ", h, " opened and never closed");
}

// (2) and (3): every report's length, content and zero fill; which device may receive which
// report; data records in file order, each once, nothing after a failure.
void checkReports(Context& cx) {
    const Observation& ob = cx.ob;
    std::size_t dataIndex = 0;
    bool dataFailed = false;
    bool unlockAsked = false;   // the last status read asked for the unlock report
    bool unlockPending = false; // ... and it has not been sent yet
    const CommandRun* lastCommand = nullptr;
    for (std::size_t i = 0; i < ob.log.size(); ++i) {
        const CallRecord& r = ob.log[i];
        if (r.kind != CallKind::SetFeature && r.kind != CallKind::GetFeature)
            continue;
        const CommandRun* cmd = cx.commandAt(i);
        if (cmd != lastCommand) {
            unlockAsked = unlockPending = false;
            lastCommand = cmd;
        }
        const ForeignInterface* f = r.tarvex ? nullptr : cx.foreignAt(r.path);
        // The length the interface declares, for calls that reached it.
        std::optional<std::size_t> declared;
        if (r.reached)
            declared = r.tarvex ? std::size_t{r.tarvexReportLength}
                       : f      ? std::size_t{f->featureReportByteLength}
                                : 0;
        const bool toApplication =
            r.reached && (r.tarvex ? r.tarvexMode == TarvexMode::Application
                                   : f && f->attributes.ProductID != BootModeProductId);
        const bool toOther = r.reached && !r.tarvex &&
                             (!f || (f->attributes.ProductID != AppModeProductId &&
                                     f->attributes.ProductID != BootModeProductId));
        if (!cmd)
            cx.out.add(3, "log ", i, ": ", kindName(r.kind), " outside any command");
        if (toOther)
            cx.out.add(3, "log ", i, ": ", kindName(r.kind), " to ", r.path,
                       ", which is not a Tarvex");
        if (declared && r.length != *declared)
            cx.out.add(2, "log ", i, ": ", kindName(r.kind), " of ", r.length,
                       " bytes to an interface whose reports are ", *declared, " bytes");

        if (r.kind == CallKind::GetFeature) {
            if (r.length < 3)
                cx.out.add(2, "log ", i, ": status read of ", r.length, " bytes");
            if (toApplication)
                cx.out.add(3, "log ", i, ": status read from an application firmware");
            if (cmd && cmd->command != Command::Upgrade)
                cx.out.add(3, "log ", i, ": status read outside an upgrade");
            unlockAsked = r.result && r.bytes.size() >= 3 && (r.bytes[1] != 0 || r.bytes[2] != 0);
            unlockPending = unlockAsked;
            continue;
        }

        if (r.bytes.size() != r.length)
            cx.out.add(2, "log ", i, ": ", r.bytes.size(), " bytes logged for ", r.length);
        if (r.length == 0) {
            cx.out.add(2, "log ", i, ": a report of no bytes");
            continue;
        }
        if (r.bytes[0] != 0)
            cx.out.add(2, "log ", i, ": report ID ", int(r.bytes[0]));
        Report kind = Report::Unknown;
        if (r.length >= 41 && dataIndex < cx.expected.size() &&
            std::equal(cx.expected[dataIndex].begin(), cx.expected[dataIndex].end(),
                       r.bytes.begin() + 1))
            kind = Report::Data;
        else if (r.length >= 4 && carries(r.bytes, EnterBootloaderCode))
            kind = Report::Entry;
        else if (r.length >= 9 && carries(r.bytes, UnlockCode))
            kind = Report::Unlock;
        const std::size_t contentEnd = kind == Report::Data     ? 41
                                       : kind == Report::Entry  ? 4
                                       : kind == Report::Unlock ? 9
                                                                : 0;
        if (kind == Report::Unknown) {
            cx.out.add(2, "log ", i, ": a report of ", r.length,
                       " bytes that is no whole report (a record out of order, repeated or cut "
                       "short?), data record expected next: ",
                       dataIndex + 1, " of ", cx.expected.size());
            continue;
        }
        if (!zeroFrom(r.bytes, contentEnd))
            cx.out.add(2, "log ", i, ": non-zero bytes after the report's content");
        if (kind != Report::Entry && toApplication)
            cx.out.add(3, "log ", i, ": ", kind == Report::Data ? "data" : "unlock",
                       " report to an application firmware");
        if (kind != Report::Entry && cmd && cmd->command != Command::Upgrade)
            cx.out.add(3, "log ", i, ": ", kind == Report::Data ? "data" : "unlock",
                       " report during Force Bootloader Mode");
        if (dataFailed)
            cx.out.add(3, "log ", i, ": a report after a failed data report");
        if (kind == Report::Unlock) {
            if (!unlockAsked)
                cx.out.add(3, "log ", i, ": unlock report without a status read asking for it");
            unlockPending = false;
        }
        if (kind == Report::Data) {
            if (unlockPending)
                cx.out.add(3, "log ", i, ": data before the unlock the status asked for");
            unlockPending = false;
            ++dataIndex;
            if (!r.result)
                dataFailed = true;
        }
    }
    // The device's own view: what it stored is the start of the image, in order, each once.
    const auto& stored = ob.deviceRecords;
    if (stored.size() > cx.expected.size())
        cx.out.add(3, "the device stored ", stored.size(), " records; the image has ",
                   cx.expected.size());
    for (std::size_t k = 0; k < std::min(stored.size(), cx.expected.size()); ++k)
        if (stored[k] != cx.expected[k]) {
            cx.out.add(3, "the device's record ", k + 1, " is not record ", k + 1, " of the image");
            break;
        }
}

// Discovery took another vendor's interface with the Tarvex's product ID for it, during this
// command or before it (at load, or in an earlier command).
bool impostorOpened(const Context& cx, const CommandRun& c) {
    for (std::size_t i = 0; i < c.logEnd; ++i) {
        const CallRecord& r = cx.ob.log[i];
        if (r.kind == CallKind::Open && r.result && !r.tarvex)
            if (const ForeignInterface* f = cx.foreignAt(r.path); f && isImpostor(*f))
                return true;
    }
    return false;
}

std::optional<std::int64_t> lastReportTime(const Context& cx, const CommandRun& c, bool data) {
    std::optional<std::int64_t> t;
    for (std::size_t i = c.logBegin; i < c.logEnd; ++i) {
        const CallRecord& r = cx.ob.log[i];
        if (r.kind != CallKind::SetFeature)
            continue;
        const bool entry =
            r.length >= 4 && carries(r.bytes, EnterBootloaderCode) && zeroFrom(r.bytes, 4);
        if (entry != data)
            t = r.time;
    }
    return t;
}

// (4) and (6): each command's outcome is told exactly when it failed; a refused command
// touches nothing; an upgrade ends with the window unloaded; nothing runs after a close.
void checkCommands(Context& cx) {
    const Observation& ob = cx.ob;
    for (std::size_t n = 0; n < ob.commands.size(); ++n) {
        const CommandRun& c = ob.commands[n];
        const char* name = c.command == Command::Upgrade ? "upgrade" : "force bootloader";
        const std::size_t told = c.messagesEnd - c.messagesBegin;
        const bool touched = c.logEnd != c.logBegin;
        const std::string firstTold = told ? ob.messages[c.messagesBegin].text : std::string();
        auto at = [&](auto&&... parts) { cx.out.add(parts..., " [", name, " #", n + 1, "]"); };

        if (c.boundExceeded)
            at(6, "still running ", *c.bound, " ms after it started with the device present");
        if (c.imageDescriptors > 0)
            at(5, "the image is left open after the command");
        if (told > 1)
            at(4, told, " messages for one command");
        if (c.closedAtLog) {
            for (std::size_t i = *c.closedAtLog; i < c.logEnd; ++i)
                if (ob.log[i].kind != CallKind::Close) {
                    at(6, "log ", i, ": ", kindName(ob.log[i].kind), " after the window closed");
                    break;
                }
        }
        if (c.unloadedAtLog && *c.unloadedAtLog != c.logEnd)
            at(6, "platform calls after the window was unloaded");
        if (c.unloadsEnd - c.unloadsBegin > 1)
            at(6, "the window was unloaded ", c.unloadsEnd - c.unloadsBegin, " times");

        if (!c.deviceFoundAtClick) {
            if (touched || told || c.unloadsEnd != c.unloadsBegin ||
                c.captionsEnd != c.captionsBegin || c.enabledAfter != c.enabledBefore)
                at(4, "with no device found the click did something");
            continue;
        }
        const ImagePlan& image =
            c.imageChangedBeforeClick && cx.sc.change ? cx.sc.change->to : cx.sc.image;
        if (c.command == Command::Upgrade && !sendableImage(image)) {
            if (touched)
                at(4, "the device was touched although the image cannot be sent");
            if (told != 1)
                at(4, "an image that cannot be sent was told in ", told, " messages");
            if (!c.enabledAfter || c.unloadsEnd != c.unloadsBegin ||
                c.captionsEnd != c.captionsBegin)
                at(4, "a refused upgrade changed the window");
            continue;
        }
        if (c.command == Command::ForceBootloader &&
            (c.unloadsEnd != c.unloadsBegin || c.captionsEnd != c.captionsBegin ||
             c.enabledAfter != c.enabledBefore))
            at(4, "Force Bootloader Mode changed the window");
        if (c.command == Command::Upgrade) {
            if (c.enabledAfter)
                at(4, "the upgrade ran with its button enabled");
            if (c.unloadsEnd - c.unloadsBegin != 1)
                at(6, "the upgrade did not end with the window unloaded");
        }
        if (c.closedAtLog || impostorOpened(cx, c))
            continue; // the user left, or another interface answered as the Tarvex
        if (c.command == Command::Upgrade) {
            const bool delivered =
                cx.expectedSendable && ob.deviceRecords.size() == cx.expected.size();
            const bool back = c.devicePresent && c.deviceMode == TarvexMode::Application;
            if (delivered && back && told)
                at(4, "a completed upgrade told \"", firstTold, "\"");
            if (!(delivered && back) && !told)
                at(4, "an upgrade that ended with ", ob.deviceRecords.size(), " of ",
                   cx.expected.size(), " records delivered and the device ",
                   !c.devicePresent                          ? "absent"
                   : c.deviceMode == TarvexMode::Application ? "in its application"
                                                             : "in its bootloader",
                   cx.expectedSendable ? "" : " (and the image it read cannot be sent)",
                   " told the user nothing");
        } else if (std::none_of(ob.log.begin() + static_cast<std::ptrdiff_t>(c.logBegin),
                                ob.log.begin() + static_cast<std::ptrdiff_t>(c.logEnd),
                                [](const CallRecord& r) { return r.kind == CallKind::Sleep; })) {
            // The entry report was refused: the device stays as it was, and the user is told.
            if (told != 1)
                at(4, "Force Bootloader Mode did nothing and told ", told, " messages");
        } else {
            const bool inBootloader = c.hostFound && c.hostProductId == BootModeProductId;
            if (inBootloader && told)
                at(4, "Force Bootloader Mode reached the bootloader and told \"", firstTold, "\"");
            if (!inBootloader && !told)
                at(4, "Force Bootloader Mode ended outside the bootloader and told nothing");
            if (inBootloader && !(c.devicePresent && c.deviceMode == TarvexMode::Bootloader))
                at(4, "Force Bootloader Mode believes in a bootloader the device is not in");
        }
        // A wrong mode is given its full ten seconds before it is told.
        if (firstTold == MessageNoBootloader) {
            const auto entry = lastReportTime(cx, c, false);
            if (!entry || c.timeEnd - *entry < WrongModeLimitMs)
                at(6, "gave up on the bootloader ", entry ? c.timeEnd - *entry : 0,
                   " ms after the entry report");
        }
        if (firstTold.find("did not restart") != std::string::npos) {
            const auto data = lastReportTime(cx, c, true);
            if (!data || c.timeEnd - *data < WrongModeLimitMs)
                at(6, "gave up on the restart ", data ? c.timeEnd - *data : 0,
                   " ms after the last record");
        }
    }
    for (const MessageRecord& m : ob.messages)
        if (m.windowClosing)
            cx.out.add(4, "told \"", m.text, "\" after the window was closed");
    for (const NestedClick& k : ob.nestedClicks)
        if (k.logAfter != k.logBefore || k.messagesAfter != k.messagesBefore ||
            k.captionsAfter != k.captionsBefore || k.enabledAfter != k.enabledBefore ||
            k.unloadsAfter != k.unloadsBefore)
            cx.out.add(6, "a click on ",
                       k.command == Command::Upgrade ? "Upgrade Firmware" : "Force Bootloader Mode",
                       " during a command did something (log ", k.logBefore, ")");
}

// (5) The image is never created, changed or left open.
void checkImage(Context& cx) {
    const Observation& ob = cx.ob;
    const ImageState& a = ob.imageAfter;
    if (ob.imageDescriptorsAtEnd > 0)
        cx.out.add(5, "the image is still open at the end");
    if (!ob.imageChanged) {
        const ImageState& b = ob.imageBefore;
        if (a.exists != b.exists)
            cx.out.add(5, a.exists ? "the image was created" : "the image was removed");
        else if (a.isDirectory != b.isDirectory || a.bytes != b.bytes)
            cx.out.add(5, "the image was changed");
        else if (a.exists && !a.isDirectory && a.mtime != b.mtime)
            cx.out.add(5, "the image was written to (its modification time changed)");
        return;
    }
    const ImagePlan& p = cx.sc.change->to;
    if (p.kind == ImageKind::Missing && a.exists)
        cx.out.add(5, "the removed image was created again");
    if (p.kind == ImageKind::Bytes && (!a.exists || a.bytes != imageContent(p)))
        cx.out.add(5, "the replaced image was changed");
}

} // namespace

std::vector<Record> imageRecords(const ImagePlan& plan) {
    const std::vector<std::uint8_t> bytes = imageContent(plan);
    std::vector<Record> records(bytes.size() / 40);
    for (std::size_t k = 0; k < records.size(); ++k)
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(40 * k), 40, records[k].begin());
    return records;
}

std::vector<std::string> checkInvariants(const Scenario& sc, const Observation& ob) {
    Context cx{sc, ob, {}, {}, false, {}};
    for (const auto* list : {&sc.foreignBefore, &sc.foreignAfter})
        for (const ForeignInterface& f : *list)
            cx.foreign[f.path] = &f;
    const ImagePlan& sent = ob.imageChanged ? sc.change->to : sc.image;
    cx.expected = imageRecords(sent);
    cx.expectedSendable = sendableImage(sent);
    checkHandles(cx);
    checkReports(cx);
    checkCommands(cx);
    checkImage(cx);
    return cx.out.take();
}

} // namespace quorvane::campaign
