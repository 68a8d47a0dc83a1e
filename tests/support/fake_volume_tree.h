// A volume's tree held in memory, for tests of what plays or chooses it.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/folders.h"
#include "platform/path_rules.h"
#include "platform/text.h"
#include "volume/volume_tree.h"

namespace kestrafin::testing {

using volume::RecordNumber;

inline constexpr std::uint32_t kSymbolicLinkTag = 0xA000000C;

// A volume's tree held in memory, each folder's names in the order added.
class FakeVolumeTree : public volume::VolumeTree {
  public:
    struct Node {
        std::u16string name;
        RecordNumber record;
        bool folder;
        std::uint32_t tag, attributes;
    };
    FakeVolumeTree() { children_[volume::kRootFolder]; }

    RecordNumber add(RecordNumber parent, const std::string& name, bool folder,
                     std::uint32_t tag = 0, std::uint32_t attributes = 0) {
        const RecordNumber record = next_++;
        children_[parent].push_back(
            {platform::utf16_from_utf8(name), record, folder, tag, attributes});
        if (folder && tag == 0) children_[record];
        return record;
    }
    // Lists `record` in `parent` too, as a damaged volume may.
    void also_in(RecordNumber parent, RecordNumber record, const std::string& name) {
        children_[parent].push_back({platform::utf16_from_utf8(name), record, true, 0, 0});
    }
    // The same tree as the host lists the real folder `path`, in its order.
    RecordNumber add_from_disk(RecordNumber parent, const std::string& path) {
        std::error_code error;
        platform::Folder folder = platform::Folder::open(path, error);
        platform::FolderEntry entry;
        std::vector<std::pair<std::string, platform::EntryKind>> names;
        while (folder.next(entry, error))
            if (entry.name != "." && entry.name != "..") names.emplace_back(entry.name, entry.kind);
        for (const auto& [name, kind] : names) {
            using platform::EntryKind;
            const bool link = kind == EntryKind::link_to_folder || kind == EntryKind::other;
            const RecordNumber record =
                add(parent, name, kind != EntryKind::file && kind != EntryKind::other,
                    link ? kSymbolicLinkTag : 0);
            if (kind == EntryKind::folder)
                add_from_disk(record, path + platform::kPathSeparator + name);
        }
        return parent;
    }

    std::map<RecordNumber, volume::FolderDamage> damage;
    std::vector<volume::FolderDamage> unplaced;

    std::optional<volume::FolderDamage> list(RecordNumber folder,
                                             std::vector<volume::VolumeEntry>& out) const override {
        out.clear();
        const auto found = children_.find(folder);
        if (found == children_.end()) return volume::FolderDamage{5, "no folder"};
        for (const Node& node : found->second)
            out.push_back({node.name, node.record, node.folder, node.tag, node.attributes});
        const auto damaged = damage.find(folder);
        if (damaged != damage.end()) return damaged->second;
        return std::nullopt;
    }
    std::optional<volume::VolumeEntry> find(RecordNumber folder,
                                            std::u16string_view name) const override {
        const auto found = children_.find(folder);
        if (found != children_.end())
            for (const Node& node : found->second)
                if (node.name == name)
                    return volume::VolumeEntry{node.name, node.record, node.folder, node.tag, 0};
        return std::nullopt;
    }
    std::vector<volume::FolderDamage> unplaced_damage() const override { return unplaced; }
    volume::VolumeFigures figures() const override { return {.records_read = next_}; }

  private:
    std::map<RecordNumber, std::vector<Node>> children_;
    RecordNumber next_ = 64;
};

}  // namespace kestrafin::testing
