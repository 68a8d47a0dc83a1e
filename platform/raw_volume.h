// A volume's bytes, read past the file system: an image file or a block
// device (Linux), or the volume itself (Windows: "\\.\C:", a volume GUID
// path), opened for reading only. And which local NTFS volume a folder lies
// on, so that a scan may read that volume's table instead of walking it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace kestrafin::platform {

class RawVolume {
  public:
    // Opens `source` for reading; others may go on reading and writing it.
    // Null, with `error` set, when it cannot be opened.
    static std::unique_ptr<RawVolume> open(std::string_view source, std::error_code& error);
    virtual ~RawVolume() = default;
    // Its length in bytes.
    virtual std::uint64_t size() const = 0;
    // Fills `out` with the bytes at `offset`, whatever alignment the host
    // asks of reads. Returns 0, or the host's error number (EIO past the end).
    virtual int read(std::uint64_t offset, std::span<std::byte> out) = 0;
};

struct NtfsVolumeOfPath {
    std::string source;       // what RawVolume::open takes
    std::string mount_point;  // the root's leading part that is the volume's root, as the root spells it
    std::vector<std::string> names_below;  // the root's folders below the mount point, in UTF-8
};

// The local NTFS volume that the folder `root` lies on, when this process
// can open it for reading; otherwise nothing, and `why_not` says why ("it
// lies on a share", "the volume is ReFS", "opening \\.\C: needs an
// administrator").
std::optional<NtfsVolumeOfPath> ntfs_volume_of(std::string_view root, std::string& why_not);

// Whether this host's NTFS driver lists a folder in the order of its
// index's tree (Windows) rather than block by block (the Linux drivers).
bool host_lists_ntfs_in_collation_order();

}  // namespace kestrafin::platform
