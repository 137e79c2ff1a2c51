#pragma once
#include <cstddef>
#include <cstdint>

namespace tessel {

// Read-only view of captured bytes. Every accessor checks the offset against the captured
// length and reports failure instead of reading past it; packet memory is never cast to a
// header struct. Cheap to copy; does not own the bytes.
class FrameReader {
  public:
    FrameReader(const std::uint8_t* bytes, std::size_t length)
        : data(bytes), size(bytes ? length : 0) {}

    std::size_t length() const { return size; }
    // True when [offset, offset + count) lies inside the captured bytes.
    bool has(std::size_t offset, std::size_t count) const {
        return offset <= size && count <= size - offset;
    }

    bool u8(std::size_t offset, std::uint8_t* out) const {
        if (!has(offset, 1)) return false;
        *out = data[offset];
        return true;
    }
    // Network (big-endian) order.
    bool be16(std::size_t offset, std::uint16_t* out) const {
        if (!has(offset, 2)) return false;
        *out = static_cast<std::uint16_t>((data[offset] << 8) | data[offset + 1]);
        return true;
    }
    bool le16(std::size_t offset, std::uint16_t* out) const {
        if (!has(offset, 2)) return false;
        *out = static_cast<std::uint16_t>(data[offset] | (data[offset + 1] << 8));
        return true;
    }
    bool be32(std::size_t offset, std::uint32_t* out) const {
        if (!has(offset, 4)) return false;
        *out = (std::uint32_t(data[offset]) << 24) | (std::uint32_t(data[offset + 1]) << 16) |
               (std::uint32_t(data[offset + 2]) << 8) | std::uint32_t(data[offset + 3]);
        return true;
    }
    bool le32(std::size_t offset, std::uint32_t* out) const {
        if (!has(offset, 4)) return false;
        *out = std::uint32_t(data[offset]) | (std::uint32_t(data[offset + 1]) << 8) |
               (std::uint32_t(data[offset + 2]) << 16) | (std::uint32_t(data[offset + 3]) << 24);
        return true;
    }
    bool le64(std::size_t offset, std::uint64_t* out) const {
        std::uint32_t lo = 0, hi = 0;
        if (!le32(offset, &lo) || !le32(offset + 4, &hi)) return false;
        *out = (std::uint64_t(hi) << 32) | lo;
        return true;
    }
    // Copies `count` bytes; false (and nothing copied) when they are not all there.
    bool bytes(std::size_t offset, std::size_t count, std::uint8_t* out) const {
        if (!has(offset, count)) return false;
        for (std::size_t i = 0; i < count; ++i) out[i] = data[offset + i];
        return true;
    }
    // The bytes from `offset` on (empty when offset is past the end): a layer sees its own bytes.
    FrameReader from(std::size_t offset) const {
        if (offset >= size) return FrameReader(nullptr, 0);
        return FrameReader(data + offset, size - offset);
    }

  private:
    const std::uint8_t* data;
    std::size_t size;
};

}  // namespace tessel
