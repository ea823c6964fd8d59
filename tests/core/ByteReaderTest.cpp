#include "core/ByteReader.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

// Each read from the same six bytes: what it gives and where it leaves the reader; a read that
// runs past the end raises the stream read error and leaves the position where it was.
TEST(ByteReader, ReadsLittleEndianAndRefusesToReadPastTheEnd)
{
    const std::string data("\x01\x02\x03\x04\xFE\xFF", 6);
    struct Case {
        const char* what;
        std::size_t from;
        std::function<std::uint64_t(core::ByteReader&)> read;
        std::uint64_t value;  // ignored when the read fails
        std::size_t position; // after the read
        bool fails;
    } cases[] = {
        {"u8", 0, [](auto& in) { return in.u8(); }, 0x01, 1, false},
        {"u16", 0, [](auto& in) { return in.u16(); }, 0x0201, 2, false},
        {"u32", 0, [](auto& in) { return in.u32(); }, 0x04030201, 4, false},
        {"i32 of FFFE0403", 2, [](auto& in) { return std::uint64_t(std::int64_t(in.i32())); },
         std::uint64_t(std::int64_t(std::int32_t(0xFFFE0403))), 6, false},
        {"u16 at the last byte", 5, [](auto& in) { return in.u16(); }, 0, 5, true},
        {"u32 with three left", 3, [](auto& in) { return in.u32(); }, 0, 3, true},
        {"bytes(2)", 4, [](auto& in) { return in.bytes(2).size(); }, 2, 6, false},
        {"bytes(3) with two left", 4, [](auto& in) { return in.bytes(3).size(); }, 0, 4, true},
        {"upTo(9) with two left", 4, [](auto& in) { return in.upTo(9).size(); }, 2, 6, false},
        {"skip(7)", 0,
         [](auto& in) {
             in.skip(7);
             return 0;
         },
         0, 0, true},
        {"need(2) with two left", 4,
         [](auto& in) {
             in.need(2);
             return 0;
         },
         0, 4, false},
    };
    for (const Case& c : cases) {
        core::ByteReader in(data);
        in.seek(c.from);
        if (c.fails) {
            EXPECT_THROW(c.read(in), EReadError) << c.what;
        } else {
            EXPECT_EQ(c.read(in), c.value) << c.what;
        }
        EXPECT_EQ(in.position(), c.position) << c.what;
    }

    core::ByteReader in(data);
    in.seek(99); // past the end: at the end
    EXPECT_EQ(in.remaining(), 0u);
    in.stepBack(9); // before the start: at the start
    EXPECT_EQ(in.position(), 0u);
}
