#include "update_record.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <utility>

#include <nlohmann/json.hpp>

namespace quorvane {

namespace {

using json = nlohmann::ordered_json;

// A whole number that fits `T`; anything else (a fraction, 1e300, 70000 for 16 bits) makes the
// line a damaged one.
template <typename T> void integerTo(const json& j, T& out) {
    if (j.is_number_unsigned() && std::in_range<T>(j.get<std::uint64_t>()))
        out = static_cast<T>(j.get<std::uint64_t>());
    else if (j.is_number_integer() && !j.is_number_unsigned() &&
             std::in_range<T>(j.get<std::int64_t>()))
        out = static_cast<T>(j.get<std::int64_t>());
    else
        throw std::out_of_range("not a whole number within range");
}

json deviceJson(const std::optional<DeviceSnapshot>& d) {
    if (!d)
        return nullptr;
    return {{"mode", d->mode},
            {"vendor_id", d->vendorId},
            {"product_id", d->productId},
            {"version", d->version},
            {"manufacturer", d->manufacturer},
            {"product", d->product},
            {"serial_number", d->serialNumber},
            {"path", d->path}};
}

std::optional<DeviceSnapshot> deviceFrom(const json& j) {
    if (j.is_null())
        return std::nullopt;
    DeviceSnapshot d;
    j.at("mode").get_to(d.mode), integerTo(j.at("vendor_id"), d.vendorId);
    integerTo(j.at("product_id"), d.productId), j.at("version").get_to(d.version);
    j.at("manufacturer").get_to(d.manufacturer), j.at("product").get_to(d.product);
    j.at("serial_number").get_to(d.serialNumber), j.at("path").get_to(d.path);
    return d;
}

} // namespace

const char* outcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::Completed:
        return "completed";
    case Outcome::Failed:
        return "failed";
    case Outcome::Stopped:
        break;
    }
    return "stopped";
}

json toJson(const UpdateRecord& r) {
    json image = nullptr;
    if (r.image)
        image = {{"path", r.image->path}, {"size", r.image->size}, {"sha256", r.image->sha256}};
    return {{"started", r.started},
            {"ended", r.ended},
            {"program", r.program},
            {"command", r.command},
            {"device_before", deviceJson(r.deviceBefore)},
            {"device_after", deviceJson(r.deviceAfter)},
            {"image", image},
            {"records_sent", r.recordsSent},
            {"records_total", r.recordsTotal},
            {"outcome", r.outcome},
            {"message", r.message},
            {"sleep_held_off", r.sleepHeldOff},
            {"other_units", r.otherUnits}};
}

std::optional<UpdateRecord> recordFromJson(const json& j) {
    try {
        UpdateRecord r;
        j.at("started").get_to(r.started), j.at("ended").get_to(r.ended);
        j.at("program").get_to(r.program), j.at("command").get_to(r.command);
        r.deviceBefore = deviceFrom(j.at("device_before"));
        r.deviceAfter = deviceFrom(j.at("device_after"));
        if (const json& image = j.at("image"); !image.is_null()) {
            r.image = ImageSummary{image.at("path"), 0, image.at("sha256")};
            integerTo(image.at("size"), r.image->size);
        }
        integerTo(j.at("records_sent"), r.recordsSent);
        integerTo(j.at("records_total"), r.recordsTotal);
        j.at("outcome").get_to(r.outcome), j.at("message").get_to(r.message);
        j.at("sleep_held_off").get_to(r.sleepHeldOff);
        if (const auto others = j.find("other_units"); others != j.end()) // older lines lack it
            others->get_to(r.otherUnits);
        return r;
    } catch (const json::exception&) {
        return std::nullopt;
    } catch (const std::out_of_range&) {
        return std::nullopt;
    }
}

std::string jsonText(const json& j, int indent) {
    return j.dump(indent, ' ', false, json::error_handler_t::replace);
}

std::string utcNow() {
    using namespace std::chrono;
    const auto now = floor<milliseconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date{day};
    const hh_mm_ss time{now - day};
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                  static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()),
                  static_cast<int>(time.subseconds().count()));
    return text.data();
}

} // namespace quorvane
