#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "TextConv.h"
#include "TextCut.h"

using namespace strevo;

TEST(TextConv, Utf8ToGbkWithCapacityRules) {
    const char* name = "演播室 1";  // 3 Chinese characters: 9 bytes in UTF-8, 6 in GBK
    char out[16];
    int cap = sizeof out;
    ASSERT_EQ(Utf8ToAnsi(name, out, &cap, "GBK"), out);
    EXPECT_EQ(cap, 8 + 1 + 1);  // 8 bytes + NUL, plus one
    EXPECT_EQ(std::strlen(out), 8u);
    EXPECT_EQ(static_cast<unsigned char>(out[0]), 0xD1);  // 演 = D1 DD
    EXPECT_EQ(static_cast<unsigned char>(out[1]), 0xDD);

    // Capacity must exceed the size by one: exactly the size is refused, untouched.
    char small[9];
    std::memset(small, 'z', sizeof small);
    cap = sizeof small;
    EXPECT_EQ(Utf8ToAnsi(name, small, &cap, "GBK"), nullptr);
    EXPECT_EQ(cap, 10);
    EXPECT_EQ(small[0], 'z');
    cap = 10;
    char fits[10];
    EXPECT_NE(Utf8ToAnsi(name, fits, &cap, "GBK"), nullptr);

    // And back again.
    char back[32];
    cap = sizeof back;
    ASSERT_NE(AnsiToUtf8(out, back, &cap, "GBK"), nullptr);
    EXPECT_STREQ(back, name);
}

TEST(TextConv, UnmappableAndBrokenInputBecomeQuestionMarks) {
    char out[32];
    int cap = sizeof out;
    ASSERT_NE(Utf8ToAnsi("a\xF0\x9F\x98\x80"
                         "b",
                         out, &cap, "GBK"),
              nullptr);  // emoji has no GBK form
    EXPECT_STREQ(out, "a?b");
    cap = sizeof out;
    ASSERT_NE(Utf8ToAnsi("x\xFFy", out, &cap, "GBK"), nullptr);
    EXPECT_STREQ(out, "x?y");
    cap = sizeof out;
    EXPECT_EQ(Utf8ToAnsi("abc", out, &cap, "NO-SUCH-CODESET"), nullptr);

    // Ill-formed sequences never pass through, not even to UTF-8 itself: a code
    // point past U+10FFFF, a surrogate, an overlong form, a cut character.
    const char* broken = "\xE6\x8A\x8A|\xF5\x8A\x8A\x8A|\xED\xA0\x80|\xC0\xAF|\xE8\x31";
    for (const char* target : {"UTF-8", "GBK"}) {
        cap = sizeof out;
        ASSERT_NE(Utf8ToAnsi(broken, out, &cap, target), nullptr) << target;
        std::string text(out);
        EXPECT_EQ(text.substr(text.find('|')), "|????|???|??|?1") << target;
    }
}

TEST(TextCut, NeverOverrunsNorSplitsACharacter) {
    char field[8];
    CutText("1234567890", field, sizeof field, true);
    EXPECT_STREQ(field, "1234567");
    // UTF-8: "ab" + two 3-byte characters = 8 bytes; only one character fits in 7.
    CutText("ab\xE6\xBC\x94\xE6\x92\xAD", field, sizeof field, true);
    EXPECT_STREQ(field, "ab\xE6\xBC\x94");
    // GBK: "a" + three 2-byte characters = 7 bytes fit; "ab" + three do not.
    CutText("a\xD1\xDD\xB2\xA5\xCA\xD2", field, sizeof field, false);
    EXPECT_STREQ(field, "a\xD1\xDD\xB2\xA5\xCA\xD2");
    CutText("ab\xD1\xDD\xB2\xA5\xCA\xD2", field, sizeof field, false);
    EXPECT_STREQ(field, "ab\xD1\xDD\xB2\xA5");
}
