#pragma once
// Bounds-checked access to bytes that come from outside the program: a device's reply, a
// request the emulated storage stack receives, a file, a child process. Every read and write
// names its offset and fails (nothing, or false) when it would leave the span, so a length the
// other side reports can never carry a reader past the buffer. Multi-byte values are
// little-endian unless the name says otherwise; packed records are copied whole with
// ReadRecord / WriteRecord, which check the record's size against the span.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <type_traits>

namespace tarvex::platform {

// True when [offset, offset + length) lies inside a span of `size` bytes (no overflow).
[[nodiscard]] constexpr bool FitsIn(size_t size, size_t offset, size_t length) {
    return offset <= size && length <= size - offset;
}

class ByteReader {
public:
    ByteReader() = default;
    explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    [[nodiscard]] size_t Size() const { return bytes_.size(); }
    [[nodiscard]] bool Has(size_t offset, size_t length) const { return FitsIn(bytes_.size(), offset, length); }

    // The bytes [offset, offset + length), or nothing when they are not all there.
    [[nodiscard]] std::optional<std::span<const uint8_t>> Bytes(size_t offset, size_t length) const {
        if (!Has(offset, length)) {
            return std::nullopt;
        }
        return bytes_.subspan(offset, length);
    }
    [[nodiscard]] std::optional<uint8_t> U8(size_t offset) const {
        if (!Has(offset, 1)) {
            return std::nullopt;
        }
        return bytes_[offset];
    }
    [[nodiscard]] std::optional<uint16_t> U16(size_t offset) const { return Little<uint16_t>(offset); }
    [[nodiscard]] std::optional<uint32_t> U32(size_t offset) const { return Little<uint32_t>(offset); }
    [[nodiscard]] std::optional<uint64_t> U64(size_t offset) const { return Little<uint64_t>(offset); }
    [[nodiscard]] std::optional<uint32_t> U32BigEndian(size_t offset) const {
        if (!Has(offset, 4)) {
            return std::nullopt;
        }
        uint32_t v = 0;
        for (size_t i = 0; i < 4; ++i) {
            v = (v << 8) | bytes_[offset + i];
        }
        return v;
    }

    // A packed record (a request header, a page layout) copied out of the span.
    template <typename T>
    [[nodiscard]] std::optional<T> ReadRecord(size_t offset = 0) const {
        static_assert(std::is_trivially_copyable_v<T>);
        if (!Has(offset, sizeof(T))) {
            return std::nullopt;
        }
        T value;
        std::memcpy(&value, bytes_.data() + offset, sizeof(T));
        return value;
    }

private:
    template <typename T>
    [[nodiscard]] std::optional<T> Little(size_t offset) const {
        if (!Has(offset, sizeof(T))) {
            return std::nullopt;
        }
        T v = 0;
        for (size_t i = 0; i < sizeof(T); ++i) {
            v = static_cast<T>(v | (static_cast<T>(bytes_[offset + i]) << (8 * i)));
        }
        return v;
    }

    std::span<const uint8_t> bytes_;
};

class ByteWriter {
public:
    ByteWriter() = default;
    explicit ByteWriter(std::span<uint8_t> bytes) : bytes_(bytes) {}

    [[nodiscard]] size_t Size() const { return bytes_.size(); }
    [[nodiscard]] bool Has(size_t offset, size_t length) const { return FitsIn(bytes_.size(), offset, length); }
    [[nodiscard]] std::span<uint8_t> Span() const { return bytes_; }

    // Room for [offset, offset + length), or nothing when the span is shorter.
    [[nodiscard]] std::optional<std::span<uint8_t>> Bytes(size_t offset, size_t length) const {
        if (!Has(offset, length)) {
            return std::nullopt;
        }
        return bytes_.subspan(offset, length);
    }
    [[nodiscard]] bool CopyIn(size_t offset, std::span<const uint8_t> source) const {
        if (!Has(offset, source.size())) {
            return false;
        }
        if (!source.empty()) {
            std::memcpy(bytes_.data() + offset, source.data(), source.size());
        }
        return true;
    }
    [[nodiscard]] bool U8(size_t offset, uint8_t v) const {
        if (!Has(offset, 1)) {
            return false;
        }
        bytes_[offset] = v;
        return true;
    }
    [[nodiscard]] bool U16(size_t offset, uint16_t v) const { return Little(offset, v); }
    [[nodiscard]] bool U32(size_t offset, uint32_t v) const { return Little(offset, v); }
    [[nodiscard]] bool U64(size_t offset, uint64_t v) const { return Little(offset, v); }
    [[nodiscard]] bool U32BigEndian(size_t offset, uint32_t v) const {
        if (!Has(offset, 4)) {
            return false;
        }
        for (size_t i = 0; i < 4; ++i) {
            bytes_[offset + i] = static_cast<uint8_t>(v >> (8 * (3 - i)));
        }
        return true;
    }

    template <typename T>
    [[nodiscard]] bool WriteRecord(size_t offset, const T& value) const {
        static_assert(std::is_trivially_copyable_v<T>);
        if (!Has(offset, sizeof(T))) {
            return false;
        }
        std::memcpy(bytes_.data() + offset, &value, sizeof(T));
        return true;
    }

private:
    template <typename T>
    [[nodiscard]] bool Little(size_t offset, T v) const {
        if (!Has(offset, sizeof(T))) {
            return false;
        }
        for (size_t i = 0; i < sizeof(T); ++i) {
            bytes_[offset + i] = static_cast<uint8_t>(v >> (8 * i));
        }
        return true;
    }

    std::span<uint8_t> bytes_;
};

}  // namespace tarvex::platform
