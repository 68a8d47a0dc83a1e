#include "scan/sinks/record_output.h"

#include <chrono>
#include <cstdio>
#include <system_error>
#include <type_traits>
#include <variant>

#include "platform/host.h"
#include "platform/text.h"
#include "scan/rules/rule_list.h"
#include "scan/sinks/json_text.h"
#include "scan/sinks/own_file.h"
#include "search/path_text.h"

namespace kestrafin::scan {

namespace {

constexpr std::size_t kRecordBlock = 256 * 1024;
constexpr std::size_t kMostNameBytes = 100;

// Every reason an entry of `request` may carry, in the rules' order.
std::vector<Reason> possible_reasons(const ScanRequest& request) {
    const LengthRules rules = effective_rules(request);
    const ProfileSet chosen(request.checks);
    std::vector<Reason> reasons;
    for (std::size_t at = 0; at < std::size(kRules); ++at) {
        const bool used = std::visit(
            [&](const auto& judges) {
                using Judges = std::decay_t<decltype(judges)>;
                if constexpr (std::is_same_v<Judges, JudgesLengths>) {
                    return (rules.*judges.rule).has_value();
                } else if constexpr (std::is_same_v<Judges, JudgesEachName>) {
                    NameTests tests;
                    judges.set_up(chosen, tests);
                    return tests.anywhere.any() || tests.first.any() || tests.last.any() ||
                           tests.longer_than.has_value() || !tests.when.empty();
                } else {
                    return judges.make(chosen) != nullptr;
                }
            },
            kRules[at]->judges);
        if (used) reasons.emplace_back(at);
    }
    reasons.push_back(kUnreadable);
    return reasons;
}

void append_key(std::string& out, std::string_view key) {
    out.push_back('"');
    out.append(key);
    out.append("\":");
}

void append_number(std::string& out, std::string_view key, std::uint64_t value) {
    out.push_back(',');
    append_key(out, key);
    out.append(std::to_string(value));
}

void append_seconds(std::string& out, std::string_view key, double seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    out.push_back(',');
    append_key(out, key);
    out.append(text);
}

void append_bool(std::string& out, std::string_view key, bool value) {
    out.push_back(',');
    append_key(out, key);
    out.append(value ? "true" : "false");
}

void append_text(std::string& out, std::string_view key, std::string_view text) {
    out.push_back(',');
    append_json_text_field(out, key, text);
}

template <typename Texts>
void append_texts(std::string& out, std::string_view key, const Texts& texts) {
    out.push_back(',');
    append_key(out, key);
    out.push_back('[');
    bool first = true;
    for (const auto& text : texts) {
        if (!first) out.push_back(',');
        first = false;
        append_json_string(out, text);
    }
    out.push_back(']');
}

void append_optional(std::string& out, std::string_view key, std::optional<std::size_t> value) {
    append_key(out, key);
    out.append(value ? std::to_string(*value) : "null");
}

std::string_view end_name(RootEnd end) {
    switch (end) {
        case RootEnd::complete:
            return "complete";
        case RootEnd::incomplete:
            return "incomplete";
        case RootEnd::not_walked:
            return "not_walked";
        case RootEnd::stopped:
            return "stopped";
    }
    return "incomplete";
}

// The record's names of the reasons a folder is not entered; one whose
// identity the host would not tell, found by its path, is a cycle too.
constexpr std::pair<std::string_view, search::NotEntered> kNotEntered[] = {
    {"cycle", search::NotEntered::cycle},
    {"link_web", search::NotEntered::link_web},
    {"kernel_file_system", search::NotEntered::kernel_file_system},
    {"other_machine", search::NotEntered::other_machine},
    {"offline", search::NotEntered::offline},
    {"link", search::NotEntered::link},
    {"other_volume", search::NotEntered::other_volume},
    {"system_folder", search::NotEntered::system_folder},
    {"too_many_links", search::NotEntered::too_many_links},
};

bool is_device_name(std::string_view name) {
    // The part before the first dot, blanks after it dropped, is what Windows matches.
    std::string_view stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
    const std::string upper = platform::ascii_upper(stem);
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" || upper == "CONIN$" ||
        upper == "CONOUT$")
        return true;
    if (upper.size() < 4 || (!upper.starts_with("COM") && !upper.starts_with("LPT"))) return false;
    const std::string_view digit = std::string_view(upper).substr(3);
    return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') || digit == "\xC2\xB9" ||
           digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

}  // namespace

std::string new_scan_id() {
    unsigned char random[16];
    platform::random_bytes(random, sizeof random);
    std::string id;
    for (const unsigned char byte : random) {
        id.push_back("0123456789abcdef"[byte >> 4]);
        id.push_back("0123456789abcdef"[byte & 15]);
    }
    return id;
}

std::string record_time(std::int64_t seconds_since_1970) {
    using namespace std::chrono;
    const sys_seconds time{seconds(seconds_since_1970)};
    const sys_days day = floor<days>(time);
    const year_month_day date(day);
    const hh_mm_ss clock(time - day);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return text;
}

std::string file_name_safe(std::string_view text) {
    std::string safe;
    bool gap = false;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = search::utf8_sequence_length(text.substr(i));
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const bool refused =
            length == 0 || c < 0x20 || c == 0x7F ||
            std::string_view("/\\<>:\"|?*").find(static_cast<char>(c)) != std::string_view::npos;
        if (refused) {
            gap = true;
            i += length == 0 ? 1 : length;
            continue;
        }
        if (gap && !safe.empty()) safe.push_back('_');
        gap = false;
        if (safe.size() + length > kMostNameBytes) break;
        safe.append(text.substr(i, length));
        i += length;
    }
    const auto trimmed = [](char c) { return c == '.' || c == ' ' || c == '_'; };
    while (!safe.empty() && trimmed(safe.back())) safe.pop_back();
    std::size_t start = 0;
    while (start < safe.size() && trimmed(safe[start])) ++start;
    safe.erase(0, start);
    if (safe.empty()) return "root";
    if (is_device_name(safe)) safe.insert(0, "_");
    return safe;
}

std::string expand_record_name(std::string_view pattern, const RecordNameFields& fields) {
    const std::string stamp = record_time(fields.started);
    std::string root = fields.roots.empty() ? "root" : file_name_safe(fields.roots.front());
    if (fields.roots.size() > 1) root += "+" + std::to_string(fields.roots.size() - 1);
    const std::pair<std::string_view, std::string> kFields[] = {
        {"{host}", file_name_safe(fields.host)},
        {"{date}", stamp.substr(0, 10)},
        {"{time}", stamp.substr(11, 2) + stamp.substr(14, 2) + stamp.substr(17, 2)},
        {"{root}", root},
    };
    std::string name;
    for (std::size_t i = 0; i < pattern.size();) {
        bool replaced = false;
        for (const auto& [placeholder, value] : kFields) {
            if (!pattern.substr(i).starts_with(placeholder)) continue;
            name += value;
            i += placeholder.size();
            replaced = true;
            break;
        }
        if (!replaced) name.push_back(pattern[i++]);
    }
    return name;
}

RootEnd root_end(const ScanReport& report) {
    // A walk stopped before it read the root has read nothing, but was walked.
    if (report.stopped && !report.root_error()) return RootEnd::stopped;
    if (report.end() == ScanEnd::root_not_walked) return RootEnd::not_walked;
    return report.end() == ScanEnd::complete ? RootEnd::complete : RootEnd::incomplete;
}

std::string_view path_below(std::string_view path, std::string_view slashed_root) {
    if (path.starts_with(slashed_root)) return path.substr(slashed_root.size());
    if (slashed_root.size() == path.size() + 1 && slashed_root.starts_with(path)) return {};
    return path;
}

int root_exit_status(RootEnd end) {
    switch (end) {
        case RootEnd::complete:
            return 0;
        case RootEnd::incomplete:
        case RootEnd::stopped:
            return 1;
        case RootEnd::not_walked:
            return 2;
    }
    return 2;
}

RecordOutput::RecordOutput(const std::string& path, const ScanRequest& request,
                           const RecordedScan& scan)
    : file_(path, "record"),
      scan_id_(scan.scan_id),
      reasons_(possible_reasons(request)),
      with_target_(request.target_prefix.has_value()) {
    line_.reserve(kRecordBlock + 8192);
    std::string& out = line_;
    out.append("{\"kind\":\"scan\",\"scan_id\":\"" + scan_id_ + "\"");
    append_number(out, "format", kRecordFormat);
    append_text(out, "program", "kestrafin-scan");
    append_text(out, "version", scan.version);
    append_text(out, "host", scan.host);
    append_text(out, "user", scan.user);
    append_text(out, "started", scan.started);
    append_texts(out, "roots", scan.roots);
    const LengthRules rules = effective_rules(request);
    out.append(",\"rules\":{");
    append_optional(out, "folder_longer_than", rules.folder_longer_than);
    out.push_back(',');
    append_optional(out, "path_longer_than", rules.file_longer_than);
    out.push_back('}');
    std::vector<std::string_view> checks;
    for (const CheckProfile& profile : kCheckProfiles)
        for (const CheckProfile* chosen : request.checks)
            if (chosen->id == profile.id) {
                checks.push_back(profile.name);
                break;
            }
    append_texts(out, "checks", checks);
    std::vector<std::string_view> codes;
    for (const Reason reason : reasons_) codes.push_back(reason_code(reason));
    append_texts(out, "reasons", codes);
    if (request.target_prefix) append_text(out, "target_prefix", *request.target_prefix);
    append_texts(out, "excludes", request.excludes);
    append_number(out, "threads", request.threads);
    append_bool(out, "follow_links", request.follow_links);
    append_bool(out, "one_file_system", request.one_file_system);
    append_bool(out, "include_offline", request.include_offline);
    out.append("}\n");
}

std::optional<search::LeftOutFile> RecordOutput::own_file() const {
    return left_out_file(file_.temporary_file());
}

void RecordOutput::root_begins(const std::string& root) {
    root_ = root;
    slashed_root_ = search::addslash(root);
    escaped_root_.clear();
    root_valid_ = append_json_escaped(escaped_root_, slashed_root_);
    root_entries_ = 0;
    root_unreadable_ = 0;
    std::fill(std::begin(root_by_reason_), std::end(root_by_reason_), 0);
}

void RecordOutput::append_entry_start(const Entry& entry) {
    std::string& out = line_;
    out.append("{\"kind\":\"");
    out.append(kind_name(entry.kind));
    out.append("\",\"scan_id\":\"" + scan_id_ + "\"");
    append_text(out, "root", root_);
    // The path is the root's and the relative path's, escaped once.
    const std::string_view relative = path_below(entry.path, slashed_root_);
    out.append(",\"relative_path\":\"");
    const std::size_t start = out.size();
    const bool valid = append_json_escaped(out, relative);
    const std::size_t length = out.size() - start;
    out.push_back('"');
    if (!valid) {
        out.append(",\"relative_path_base64\":\"");
        append_base64(out, relative);
        out.push_back('"');
    }
    if (entry.path.size() == slashed_root_.size() + relative.size() &&
        entry.path.starts_with(slashed_root_)) {
        out.reserve(out.size() + escaped_root_.size() + length + 16);
        out.append(",\"path\":\"");
        out.append(escaped_root_);
        out.append(out.data() + start, length);
        out.push_back('"');
        if (!valid || !root_valid_) {
            out.append(",\"path_base64\":\"");
            append_base64(out, entry.path);
            out.push_back('"');
        }
    } else {
        append_text(out, "path", entry.path);
    }
    append_number(out, "folder_length", entry.lengths.folder);
    append_number(out, "path_length", entry.lengths.path);
    if (with_target_) append_text(out, "target_path", entry.target_path);
    out.append(",\"reasons\":[");
    entry.reasons.each([&, first = true](Reason reason) mutable {
        if (!first) out.push_back(',');
        first = false;
        out.push_back('"');
        out.append(reason_code(reason));
        out.push_back('"');
    });
    out.push_back(']');
}

void RecordOutput::entry(const Entry& entry) {
    ++root_entries_;
    entry.reasons.each([&](Reason reason) { ++root_by_reason_[reason.index()]; });
    append_entry_start(entry);
    line_.append("}\n");
    flush_if_full();
}

void RecordOutput::folder_unreadable(const Entry& folder, int error) {
    ++root_unreadable_;
    append_entry_start(folder);
    // The host's words, as JSON shows any text; the format gives them no exact bytes.
    line_.append(",\"error\":");
    append_json_string(line_, folder.error);
    // The host's number as it gives it: Windows' are unsigned.
    append_number(line_, "error_number", static_cast<std::uint32_t>(error));
    line_.append("}\n");
    flush_if_full();
}

void RecordOutput::root_ends(const ScanReport& report, const ScanSummary& summary) {
    std::string& out = line_;
    const RootEnd end = root_end(report);
    out.append("{\"kind\":\"root\",\"scan_id\":\"" + scan_id_ + "\"");
    append_text(out, "root", root_);
    append_text(out, "end", end_name(end));
    append_number(out, "exit_status", static_cast<std::uint64_t>(root_exit_status(end)));
    if (end == RootEnd::not_walked) {
        const std::optional<int> error = report.root_error();
        append_text(out, "error",
                    !report.refused.empty() ? report.refused
                    : error                 ? platform::error_text({*error, std::system_category()})
                                            : std::string("the root was not entered"));
    }
    if (!report.volume.empty()) append_text(out, "volume", report.volume);
    append_number(out, "folders_read", report.folders_read());
    append_number(out, "files_seen", report.files_seen());
    append_number(out, "entries", root_entries_);
    out.append(",\"entries_by_reason\":{");
    bool first = true;
    for (const Reason reason : reasons_) {
        if (!first) out.push_back(',');
        first = false;
        append_key(out, reason_code(reason));
        out.append(std::to_string(root_by_reason_[reason.index()]));
    }
    out.push_back('}');
    append_number(out, "unreadable", root_unreadable_);
    out.append(",\"not_entered\":{");
    first = true;
    for (const auto& [name, reason] : kNotEntered) {
        std::size_t count = report.declined().of(reason);
        if (reason == search::NotEntered::cycle)
            count += report.declined().of(search::NotEntered::path_cycle);
        if (!first) out.push_back(',');
        first = false;
        append_key(out, name);
        out.append(std::to_string(count));
    }
    out.append("},\"folders_to_act_on\":[");
    first = true;
    for (const FolderToActOn& folder : summary.folders_to_act_on()) {
        if (!first) out.push_back(',');
        first = false;
        out.push_back('{');
        append_json_text_field(out, "relative_path", path_below(folder.path, slashed_root_));
        append_number(out, "entries", folder.entries);
        append_number(out, "units_to_lose", folder.units_to_lose);
        out.push_back('}');
    }
    out.push_back(']');
    append_seconds(out, "seconds", std::chrono::duration<double>(report.elapsed).count());
    out.append("}\n");
    entries_ += root_entries_;
    unreadable_ += root_unreadable_;
    flush_if_full();
}

void RecordOutput::finish(std::int64_t finished, double seconds, bool stopped, int exit_status) {
    std::string& out = line_;
    out.append("{\"kind\":\"end\",\"scan_id\":\"" + scan_id_ + "\"");
    append_text(out, "finished", record_time(finished));
    append_seconds(out, "seconds", seconds);
    append_bool(out, "stopped", stopped);
    append_number(out, "entries", entries_);
    append_number(out, "unreadable", unreadable_);
    append_number(out, "exit_status", static_cast<std::uint64_t>(exit_status));
    out.append("}\n");
    file_.write(line_);
    line_.clear();
    file_.commit();
}

void RecordOutput::flush_if_full() {
    if (line_.size() < kRecordBlock) return;
    file_.write(line_);
    line_.clear();
}

}  // namespace kestrafin::scan
