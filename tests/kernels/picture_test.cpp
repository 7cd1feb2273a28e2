// The picture record as modules see it through their accessors, laid out by
// the host harness.
#include <gtest/gtest.h>

#include "kernel_test.h"
#include "kernels/common/picture.h"

TEST(PictureRecord, AccessorsReadTheHostsBigEndianWords)
{
    uint8_t* bytes = host_new_picture(100, 50, 24, true);
    ASSERT_NE(bytes, nullptr);
    const picture_record* record = picture_at(host_address(bytes));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(picture_width(record), 100u);
    EXPECT_EQ(picture_height(record), 50u);
    EXPECT_EQ(picture_depth(record), 24u);
    EXPECT_EQ(picture_pixels_length(record), 15000u) << "3 x width x height";
    EXPECT_EQ(shared_room(shared_pointer(picture_pixels(record))), 15000u);
    EXPECT_EQ(bytes[8], 0);
    EXPECT_EQ(bytes[11], 100) << "big-endian";

    picture_record* writable = picture_at(host_address(bytes));
    set_picture_bits_per_pixel(writable, 24);
    picture_colour(writable, 255)[2] = 0x42;
    EXPECT_EQ(host_word(bytes, 199), 24u);
    EXPECT_EQ(bytes[24 + 3 * 255 + 2], 0x42);
    host_free_picture(bytes);
}

TEST(PictureRecord, ARecordThatDoesNotFitIsNotTaken)
{
    SharedArena arena;
    EXPECT_EQ(picture_at(0), nullptr);
    EXPECT_EQ(picture_at(host_address(arena.alloc(819))), nullptr);
    EXPECT_NE(picture_at(host_address(arena.alloc(820))), nullptr);
}
