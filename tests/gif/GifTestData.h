#pragma once

// Builders for the test fixtures: LZW code streams written code by code, a small LZW encoder
// for whole images, and GIF files assembled field by field.

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace giftest {

// Packs codes least significant bit first, at the width the decoder expects for each code:
// minimum code size + 1 after a clear code, one bit more each time the table reaches the next
// power of two, never more than 12. The first code after a clear code adds no table entry;
// every later code adds one until the table holds 4096 entries.
class CodeWriter {
public:
    explicit CodeWriter(int minimumCodeSize)
        : minimumCodeSize_(minimumCodeSize), clear_(1 << minimumCodeSize), end_(clear_ + 1)
    {
        reset();
    }

    int clearCode() const { return clear_; }
    int endCode() const { return end_; }
    int nextFree() const { return nextFree_; }
    int width() const { return width_; }

    CodeWriter& clear()
    {
        put(clear_);
        reset();
        return *this;
    }
    CodeWriter& end()
    {
        put(end_);
        return *this;
    }
    // A data code: a root, a table entry, or the entry about to be defined.
    CodeWriter& code(int value)
    {
        put(value);
        if (firstAfterClear_) {
            firstAfterClear_ = false;
        } else if (nextFree_ < 4096) {
            if (++nextFree_ == (1 << width_) && width_ < 12)
                ++width_;
        }
        return *this;
    }
    // Writes a value at a given width without touching the table model (malformed streams).
    CodeWriter& raw(int value, int width)
    {
        for (int bit = 0; bit < width; ++bit)
            pushBit((value >> bit) & 1);
        return *this;
    }

    // The packed bytes; a partly filled last byte is padded with zero bits.
    std::vector<std::uint8_t> bytes() const
    {
        std::vector<std::uint8_t> out = bytes_;
        if (bitCount_ > 0)
            out.push_back(current_);
        return out;
    }

private:
    void reset()
    {
        width_ = minimumCodeSize_ + 1;
        nextFree_ = end_ + 1;
        firstAfterClear_ = true;
    }
    void put(int value) { raw(value, width_); }
    void pushBit(int bit)
    {
        current_ = static_cast<std::uint8_t>(current_ | bit << bitCount_);
        if (++bitCount_ == 8) {
            bytes_.push_back(current_);
            current_ = 0;
            bitCount_ = 0;
        }
    }

    int minimumCodeSize_;
    int clear_;
    int end_;
    int width_ = 0;
    int nextFree_ = 0;
    bool firstAfterClear_ = true;
    std::vector<std::uint8_t> bytes_;
    std::uint8_t current_ = 0;
    int bitCount_ = 0;
};

// Compresses palette indexes the way a GIF encoder does: a clear code first, the longest known
// string at each step, a clear code whenever the table is full, the end code last.
inline std::vector<std::uint8_t> lzwEncode(const std::vector<std::uint8_t>& pixels,
                                           int minimumCodeSize)
{
    const int clear = 1 << minimumCodeSize;
    const int end = clear + 1;
    std::vector<std::uint8_t> out;
    std::uint32_t bits = 0;
    int bitCount = 0;
    int width = minimumCodeSize + 1;
    auto put = [&](int code) {
        bits |= static_cast<std::uint32_t>(code) << bitCount;
        bitCount += width;
        while (bitCount >= 8) {
            out.push_back(static_cast<std::uint8_t>(bits));
            bits >>= 8;
            bitCount -= 8;
        }
    };
    std::map<std::pair<int, int>, int> table;
    int next = end + 1;
    auto restart = [&] {
        table.clear();
        next = end + 1;
        width = minimumCodeSize + 1;
    };
    put(clear);
    if (!pixels.empty()) {
        int prefix = pixels[0];
        for (std::size_t i = 1; i < pixels.size(); ++i) {
            const int pixel = pixels[i];
            if (auto found = table.find({prefix, pixel}); found != table.end()) {
                prefix = found->second;
                continue;
            }
            put(prefix);
            table[{prefix, pixel}] = next++;
            // The decoder learns each entry one code later, so the width grows one code later.
            if (next - 1 == (1 << width) && width < 12)
                ++width;
            if (next == 4096) {
                put(clear);
                restart();
            }
            prefix = pixel;
        }
        put(prefix);
    }
    put(end);
    if (bitCount > 0)
        out.push_back(static_cast<std::uint8_t>(bits));
    return out;
}

// A GIF file assembled field by field, little-endian.
class GifBuilder {
public:
    GifBuilder& text(const std::string& value)
    {
        bytes += value;
        return *this;
    }
    GifBuilder& u8(int value)
    {
        bytes += static_cast<char>(value & 0xFF);
        return *this;
    }
    GifBuilder& u16(int value) { return u8(value).u8(value >> 8); }
    // Splits data into sub-blocks of at most 255 bytes and ends them with the terminator.
    GifBuilder& subBlocks(const std::vector<std::uint8_t>& values)
    {
        for (std::size_t at = 0; at < values.size(); at += 255) {
            const std::size_t size = std::min<std::size_t>(255, values.size() - at);
            u8(static_cast<int>(size));
            bytes.append(values.begin() + static_cast<std::ptrdiff_t>(at),
                         values.begin() + static_cast<std::ptrdiff_t>(at + size));
        }
        return u8(0);
    }

    // The usual header: signature, logical screen, and a global table of the given colours
    // (red, green, blue each); the table's size field is derived from the colour count, which
    // must be a power of two from 2 to 256.
    GifBuilder& header(int width, int height, const std::vector<std::uint32_t>& colors)
    {
        text("GIF89a");                                           // signature and version
        u16(width).u16(height);                                   // logical screen size
        u8(colors.empty() ? 0 : 0x80 | sizeField(colors.size())); // global table flag, size
        u8(0);                                                    // background colour index
        u8(0);                                                    // pixel aspect ratio
        return table(colors);
    }
    GifBuilder& table(const std::vector<std::uint32_t>& colors)
    {
        for (std::uint32_t rgb : colors)
            u8(static_cast<int>(rgb >> 16))
                .u8(static_cast<int>(rgb >> 8))
                .u8(static_cast<int>(rgb));
        return *this;
    }
    // A graphic control extension with a delay in hundredths of a second.
    GifBuilder& graphicControl(int delay)
    {
        u8(0x21).u8(0xF9); // extension introducer, graphic control label
        u8(4);             // block size
        u8(0);             // packed flags: no disposal, no transparency
        u16(delay);        // delay time
        u8(0);             // transparent colour index
        return u8(0);      // terminator
    }
    GifBuilder& comment(const std::string& value)
    {
        u8(0x21).u8(0xFE);                  // extension introducer, comment label
        u8(static_cast<int>(value.size())); // one sub-block
        text(value);
        return u8(0); // terminator
    }
    // An image block whose pixels are compressed by lzwEncode; flags as in the descriptor
    // (0x40 interlaced, 0x80 with a local table of the given colours).
    GifBuilder& image(int width, int height, const std::vector<std::uint8_t>& pixels,
                      int minimumCodeSize = 2, int flags = 0,
                      const std::vector<std::uint32_t>& localColors = {})
    {
        descriptor(width, height,
                   localColors.empty() ? flags : flags | 0x80 | sizeField(localColors.size()));
        table(localColors);
        u8(minimumCodeSize); // LZW minimum code size
        return subBlocks(lzwEncode(pixels, minimumCodeSize));
    }
    // An image descriptor at (0, 0); the colour table and the image data follow separately.
    GifBuilder& descriptor(int width, int height, int flags = 0)
    {
        u8(0x2C);               // image separator
        u16(0).u16(0);          // left, top
        u16(width).u16(height); // image size
        return u8(flags);       // packed flags
    }
    GifBuilder& trailer() { return u8(0x3B); }

    std::string bytes;

private:
    static int sizeField(std::size_t count)
    {
        int field = 0;
        while ((std::size_t{2} << field) < count)
            ++field;
        return field;
    }
};

} // namespace giftest
