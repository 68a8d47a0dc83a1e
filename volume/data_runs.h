// A non-resident attribute's runs (its mapping pairs): which clusters of
// the volume hold which of its clusters. Decoding refuses runs past the
// volume's end and counts that overflow; reading through the runs fills
// sparse runs with zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "volume/byte_source.h"

namespace kestrafin::volume {

struct Run {
    std::uint64_t vcn = 0;     // its first cluster within the attribute
    std::uint64_t length = 0;  // clusters
    std::uint64_t lcn = 0;     // its first cluster within the volume
    bool sparse = false;       // no clusters on disk: reads as zeros
};

// Appends the runs encoded in `pairs`, the first at cluster `first_vcn` of
// the attribute, to `out`. False, with `error`, when the encoding is broken
// or a run lies outside the volume's `cluster_count` clusters.
bool decode_runs(std::span<const std::byte> pairs, std::uint64_t first_vcn,
                 std::uint64_t cluster_count, std::vector<Run>& out, std::string& error);

// The clusters `runs` map, from cluster 0 on without a gap; 0 when they
// leave one (the runs of an attribute's pieces must follow each other).
std::uint64_t mapped_clusters(std::span<const Run> runs);

// Reads `out.size()` bytes at byte `offset` of the attribute whose runs are
// `runs`. Returns 0, the source's error number, or EIO when the bytes lie
// past what the runs map.
int read_through_runs(ByteSource& source, std::span<const Run> runs, std::uint32_t cluster_size,
                      std::uint64_t offset, std::span<std::byte> out);

}  // namespace kestrafin::volume
