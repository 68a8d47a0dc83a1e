// Fuzzes the NTFS volume reader on arbitrary image bytes, in both listing
// orders and by a walk of each index's tree. Reads past the input's end fail as a device's would.
//
// Invariants checked on every volume that is read:
//  - its figures add up: no more records whole or damaged than read;
//  - every listed name is 1 to 255 units and names a record that was read;
//  - find() finds each folder that its folder lists once by its name.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "tests/volume/memory_source.h"
#include "volume/ntfs_volume.h"
#include "volume/volume_tree.h"

using namespace kestrafin::volume;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kestrafin::testing::MemorySource source({reinterpret_cast<const std::byte*>(data),
                                             reinterpret_cast<const std::byte*>(data) + size});
    for (int order = 0; order < 3; ++order) {
        VolumeReadResult read = order == 2
                                    ? read_ntfs_volume_in_tree_order(source)
                                    : read_ntfs_volume(source, static_cast<ListingOrder>(order));
        if (!read.tree) {
            if (read.error.empty()) std::abort();
            continue;
        }
        VolumeFigures figures = read.tree->figures();
        if (figures.records_in_use + figures.damaged_records > figures.records_read) std::abort();
        std::vector<VolumeEntry> entries;
        for (RecordNumber folder = 0; folder < figures.records_read; ++folder) {
            read.tree->list(folder, entries);
            for (const VolumeEntry& entry : entries) {
                if (entry.name.empty() || entry.name.size() > 255) std::abort();
                if (entry.record >= figures.records_read) std::abort();
                if (!entry.folder) continue;
                std::size_t same = 0;
                for (const VolumeEntry& other : entries) same += other.name == entry.name;
                if (same != 1) continue;
                auto found = read.tree->find(folder, std::u16string(entry.name));
                if (!found || found->record != entry.record) std::abort();
            }
        }
        read.tree->unplaced_damage();
    }
    return 0;
}
