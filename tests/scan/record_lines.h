// Scan records made by the tests themselves, line by line as
// docs/record-format.md gives them, with every total right, so that each
// test spoils exactly what it means to.
#pragma once

#include <algorithm>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/path_rules.h"
#include "scan/sinks/entry_format.h"
#include "scan/sinks/json_text.h"
#include "scan/sinks/record_output.h"
#include "scan/sinks/summary.h"
#include "search/path_text.h"

namespace kestrafin::tests {

struct RecordEntry {
    std::string root;           // the first root when empty
    std::string relative_path;  // with "/", written with the host's separator
    std::vector<std::string> reasons = {"folder_length"};
    std::string kind = "file";
    std::size_t folder_length = 210;
    std::size_t path_length = 230;
};

struct TestRecord {
    std::string scan_id = "0123456789abcdef0123456789abcdef";
    std::vector<std::string> roots = {"/srv/a"};
    scan::LengthRules length_rules{200, std::nullopt};
    std::string checks = "[]";
    std::string excludes = "[]";
    std::vector<std::string> reasons = {"name_length", "folder_length", "path_length",
                                        "unreadable"};
    std::vector<RecordEntry> entries;
    // How a root's walk ended where not complete: incomplete, not_walked, or
    // empty for a root the scan stopped before.
    std::map<std::string, std::string> ends;

    static std::string host_path(std::string path) {
        std::replace(path.begin(), path.end(), '/', platform::kPathSeparator);
        return path;
    }

    static std::string texts(const std::vector<std::string>& items) {
        std::string out = "[";
        for (const std::string& item : items) {
            if (out.size() > 1) out += ",";
            scan::append_json_string(out, item);
        }
        return out + "]";
    }

    std::string rules_text() const {
        const auto number = [](const std::optional<std::size_t>& rule) {
            return rule ? std::to_string(*rule) : std::string("null");
        };
        return R"({"folder_longer_than":)" + number(length_rules.folder_longer_than) +
               R"(,"path_longer_than":)" + number(length_rules.file_longer_than) + "}";
    }

    // The root's folders where to act, as the scan works them out.
    std::string folders_to_act_on(const std::string& root) const {
        scan::ScanSummary summary(length_rules, search::addslash(root));
        for (const RecordEntry& entry : entries_of(root)) {
            if (entry.kind == "error") continue;
            scan::Reasons codes;
            for (const std::string& code : entry.reasons)
                for (std::size_t at = 0; at < scan::kMostReasons; ++at)
                    if (scan::reason_code(scan::Reason(at)) == code) codes.add(scan::Reason(at));
            const std::string path =
                root + platform::kPathSeparator + host_path(entry.relative_path);
            const scan::EntryKind kind = entry.kind == "folder" ? scan::EntryKind::folder
                                         : entry.kind == "link" ? scan::EntryKind::link
                                                                : scan::EntryKind::file;
            summary.entry_listed(codes, {entry.folder_length, entry.path_length},
                                 scan::counted_folder(kind, codes, path));
        }
        std::string out = "[";
        for (const scan::FolderToActOn& folder : summary.folders_to_act_on()) {
            if (out.size() > 1) out += ",";
            out += "{";
            scan::append_json_text_field(out, "relative_path",
                                         scan::path_below(folder.path, search::addslash(root)));
            out += R"(,"entries":)" + std::to_string(folder.entries) + R"(,"units_to_lose":)" +
                   std::to_string(folder.units_to_lose) + "}";
        }
        return out + "]";
    }

    std::vector<std::string> lines() const {
        const std::string id = R"("scan_id":")" + scan_id + R"(")";
        std::vector<std::string> lines;
        std::string scan =
            R"({"kind":"scan",)" + id +
            R"(,"format":1,"program":"kestrafin-scan","version":"1.0.0",)"
            R"("host":"fs01","user":"ann","started":"2026-12-01T02:00:00Z","roots":)" +
            texts(roots) + R"(,"rules":)" + rules_text() + R"(,"checks":)" + checks +
            R"(,"reasons":)" + texts(reasons) + R"(,"excludes":)" + excludes +
            R"(,"threads":4,"follow_links":true,"one_file_system":false,)"
            R"("include_offline":false})";
        lines.push_back(scan);
        std::size_t all_entries = 0;
        std::size_t all_unreadable = 0;
        int worst = 0;
        bool stopped = false;
        for (const std::string& root : roots) {
            const std::string end = ends.contains(root) ? ends.at(root) : "complete";
            if (end.empty()) {
                stopped = true;
                break;
            }
            const int status = end == "complete" ? 0 : end == "not_walked" ? 2 : 1;
            worst = std::max(worst, status);
            std::size_t entries = 0;
            std::size_t unreadable = 0;
            std::vector<std::size_t> by_reason(reasons.size());
            for (const RecordEntry& entry : entries_of(root)) {
                std::string line = R"({"kind":")" + entry.kind + R"(",)" + id + ",";
                scan::append_json_text_field(line, "root", root);
                line += ",";
                scan::append_json_text_field(line, "relative_path", host_path(entry.relative_path));
                line += ",";
                scan::append_json_text_field(
                    line, "path", root + platform::kPathSeparator + host_path(entry.relative_path));
                line += R"(,"folder_length":)" + std::to_string(entry.folder_length) +
                        R"(,"path_length":)" + std::to_string(entry.path_length) +
                        R"(,"reasons":)" + texts(entry.reasons);
                if (entry.kind == "error") {
                    line += R"(,"error":"Permission denied","error_number":13)";
                    ++unreadable;
                } else {
                    ++entries;
                    for (std::size_t at = 0; at < reasons.size(); ++at)
                        by_reason[at] +=
                            std::count(entry.reasons.begin(), entry.reasons.end(), reasons[at]);
                }
                lines.push_back(line + "}");
            }
            std::string line = R"({"kind":"root",)" + id + ",";
            scan::append_json_text_field(line, "root", root);
            line += R"(,"end":")" + end + R"(","exit_status":)" + std::to_string(status) +
                    (end == "not_walked" ? R"(,"error":"No such file or directory")" : "") +
                    R"(,"folders_read":12,"files_seen":40,"entries":)" + std::to_string(entries) +
                    R"(,"entries_by_reason":{)";
            for (std::size_t at = 0; at < reasons.size(); ++at)
                line += (at > 0 ? "," : "") + ("\"" + reasons[at] + "\":") +
                        std::to_string(by_reason[at]);
            line += R"(},"unreadable":)" + std::to_string(unreadable) +
                    R"(,"not_entered":{"cycle":0,"link_web":0,"kernel_file_system":0,)"
                    R"("other_machine":0,"offline":0,"link":0,"other_volume":0,)"
                    R"("system_folder":0,"too_many_links":0},)"
                    R"("folders_to_act_on":)" +
                    folders_to_act_on(root) + R"(,"seconds":0.25})";
            lines.push_back(line);
            all_entries += entries;
            all_unreadable += unreadable;
        }
        lines.push_back(R"({"kind":"end",)" + id +
                        R"(,"finished":"2026-12-01T02:10:00Z","seconds":600,"stopped":)" +
                        (stopped ? "true" : "false") + R"(,"entries":)" +
                        std::to_string(all_entries) + R"(,"unreadable":)" +
                        std::to_string(all_unreadable) + R"(,"exit_status":)" +
                        std::to_string(stopped ? std::max(worst, 1) : worst) + "}");
        return lines;
    }

    std::string text() const { return joined(lines()); }

    static std::string joined(const std::vector<std::string>& lines) {
        std::string text;
        for (const std::string& line : lines) text += line + "\n";
        return text;
    }

  private:
    std::vector<RecordEntry> entries_of(const std::string& root) const {
        std::vector<RecordEntry> of_root;
        for (const RecordEntry& entry : entries)
            if (entry.root == root || (entry.root.empty() && root == roots.front()))
                of_root.push_back(entry);
        return of_root;
    }
};

}  // namespace kestrafin::tests
