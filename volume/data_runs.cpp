#include "volume/data_runs.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kestrafin::volume {

bool decode_runs(std::span<const std::byte> pairs, std::uint64_t first_vcn,
                 std::uint64_t cluster_count, std::vector<Run>& out, std::string& error) {
    std::uint64_t vcn = first_vcn;
    std::int64_t lcn = 0;
    std::size_t at = 0;
    while (at < pairs.size()) {
        unsigned header = std::to_integer<unsigned>(pairs[at]);
        if (header == 0) return true;
        unsigned length_bytes = header & 15;
        unsigned offset_bytes = header >> 4;
        if (length_bytes == 0 || length_bytes > 8 || offset_bytes > 8) {
            error = "its runs are encoded with a field of more than 8 bytes";
            return false;
        }
        if (pairs.size() - at - 1 < length_bytes + offset_bytes) {
            error = "its runs run past the end of their attribute";
            return false;
        }
        ++at;
        std::uint64_t length = 0;
        for (unsigned i = 0; i < length_bytes; ++i)
            length |= std::uint64_t{std::to_integer<std::uint8_t>(pairs[at + i])} << (8 * i);
        at += length_bytes;
        if (length == 0 || length > (std::uint64_t{1} << 62) || vcn + length < vcn) {
            error = "a run's length is out of range";
            return false;
        }
        Run run{.vcn = vcn, .length = length};
        if (offset_bytes == 0) {
            run.sparse = true;
        } else {
            std::uint64_t delta = 0;
            for (unsigned i = 0; i < offset_bytes; ++i)
                delta |= std::uint64_t{std::to_integer<std::uint8_t>(pairs[at + i])} << (8 * i);
            at += offset_bytes;
            // The offset is signed, relative to the previous run's start.
            if (offset_bytes < 8 && (delta >> (8 * offset_bytes - 1)) & 1)
                delta |= ~std::uint64_t{0} << (8 * offset_bytes);
            std::int64_t signed_delta = static_cast<std::int64_t>(delta);
            if ((signed_delta > 0 && lcn > INT64_MAX - signed_delta) ||
                (signed_delta < 0 && lcn < INT64_MIN - signed_delta)) {
                error = "a run's offset overflows";
                return false;
            }
            lcn += signed_delta;
            if (lcn < 0 || static_cast<std::uint64_t>(lcn) >= cluster_count ||
                length > cluster_count - static_cast<std::uint64_t>(lcn)) {
                error = "a run lies past the volume's end (clusters " + std::to_string(lcn) +
                        " + " + std::to_string(length) + " of " + std::to_string(cluster_count) +
                        ")";
                return false;
            }
            run.lcn = static_cast<std::uint64_t>(lcn);
        }
        out.push_back(run);
        vcn += length;
    }
    error = "its runs have no end mark";
    return false;
}

std::uint64_t mapped_clusters(std::span<const Run> runs) {
    std::uint64_t next = 0;
    for (const Run& run : runs) {
        if (run.vcn != next) return 0;
        next += run.length;
    }
    return next;
}

int read_through_runs(ByteSource& source, std::span<const Run> runs, std::uint32_t cluster_size,
                      std::uint64_t offset, std::span<std::byte> out) {
    auto run = std::upper_bound(runs.begin(), runs.end(), offset / cluster_size,
                                [](std::uint64_t vcn, const Run& r) { return vcn < r.vcn; });
    if (run == runs.begin()) return EIO;
    --run;
    std::size_t done = 0;
    while (done < out.size()) {
        if (run == runs.end()) return EIO;
        std::uint64_t run_start = run->vcn * cluster_size;
        std::uint64_t run_end = run_start + run->length * cluster_size;
        std::uint64_t at = offset + done;
        if (at < run_start || at >= run_end) return EIO;
        std::size_t piece =
            static_cast<std::size_t>(std::min<std::uint64_t>(run_end - at, out.size() - done));
        auto part = out.subspan(done, piece);
        if (run->sparse) {
            std::memset(part.data(), 0, part.size());
        } else if (int err = source.read(run->lcn * cluster_size + (at - run_start), part);
                   err != 0) {
            return err;
        }
        done += piece;
        ++run;
    }
    return 0;
}

}  // namespace kestrafin::volume
