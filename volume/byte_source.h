// Where a volume's bytes come from: an image file, a block device or, on
// Windows, the volume itself. The volume reader asks for bytes by offset and
// knows nothing of the host; platform/raw_volume.h opens the host's sources.
// Its calls come one at a time, though not always from the thread that made it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrafin::volume {

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // The source's length in bytes, as the host tells it (0 where it cannot).
    virtual std::uint64_t size() const = 0;
    // Fills `out` with the bytes at `offset`. Returns 0, or the host's error
    // number when they could not all be read (a read past the end is EIO).
    virtual int read(std::uint64_t offset, std::span<std::byte> out) = 0;
};

}  // namespace kestrafin::volume
