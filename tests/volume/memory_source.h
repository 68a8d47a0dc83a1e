// A volume held in memory, for tests that damage a copy of an image.
#pragma once

#include <cerrno>
#include <cstring>
#include <vector>

#include "volume/byte_source.h"

namespace kestrafin::testing {

class MemorySource final : public volume::ByteSource {
  public:
    explicit MemorySource(std::vector<std::byte> bytes) : bytes(std::move(bytes)) {}
    std::uint64_t size() const override { return bytes.size(); }
    int read(std::uint64_t offset, std::span<std::byte> out) override {
        if (offset > bytes.size() || out.size() > bytes.size() - offset) return EIO;
        std::memcpy(out.data(), bytes.data() + offset, out.size());
        return 0;
    }
    std::vector<std::byte> bytes;
};

}  // namespace kestrafin::testing
