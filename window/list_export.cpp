#include "window/list_export.h"

#include <optional>

#include "platform/files.h"
#include "scan/entry.h"
#include "scan/request.h"
#include "scan/rules/rule_list.h"
#include "scan/sinks/entry_format.h"

namespace kestrafin::window {
namespace {

constexpr scan::Reason kFolderLength = scan::reason_of(scan::kFolderLengthRule);
constexpr scan::Reason kPathLength = scan::reason_of(scan::kPathLengthRule);
// Bytes gathered before they are handed to the file.
constexpr std::size_t kBlockBytes = 1 << 20;

}  // namespace

bool export_csv(const std::string& file, const EntryStore& store,
                const std::vector<std::size_t>& rows, std::string_view root,
                const std::atomic<bool>& stop) {
    const scan::EntryFormat format(scan::OutputFormat::csv, false, false, false);
    const scan::LengthMeasure measure(root, std::nullopt);
    // The window searches by the scanner's default rule.
    const scan::LengthRules rules = scan::effective_rules(scan::ScanRequest{});
    platform::AtomicFileWriter writer(file, "cannot export the list");
    std::string block = format.header();
    for (const std::size_t row : rows) {
        if (stop.load()) return false;
        scan::Entry entry;
        entry.path = store.text(row);
        entry.lengths = measure.measure(entry.path);
        const scan::Verdict verdict = scan::judge(rules, entry.lengths);
        if (verdict.by_folder) entry.reasons.add(kFolderLength);
        if (verdict.by_file) entry.reasons.add(kPathLength);
        format.append(block, entry);
        if (block.size() >= kBlockBytes) {
            writer.write(block);
            block.clear();
        }
    }
    writer.write(block);
    writer.commit();
    return true;
}

}  // namespace kestrafin::window
