#include "base/TextCodec.h"

#include <gtest/gtest.h>

// The tests run with code page 936 as the ANSI code page, as on the users' systems.
TEST(TextCodec, ChineseRoundTripsBetweenUtf8AndGbk) {
    ASSERT_EQ(GetACP(), 936u);
    const std::string utf8 = "下载完毕";
    const std::string gbk = utf8ToAnsi(utf8);
    EXPECT_EQ(gbk, "\xCF\xC2\xD4\xD8\xCD\xEA\xB1\xCF");
    EXPECT_EQ(ansiToUtf8(gbk), utf8);
    EXPECT_EQ(utf8ToWide(utf8), L"下载完毕");
}

TEST(TextCodec, EmbeddedNulAndEmptyTextSurvive) {
    EXPECT_EQ(utf8ToWide(""), L"");
    EXPECT_EQ(wideToAnsi(L""), "");
    const std::string withNul("a\0b", 3);
    EXPECT_EQ(utf8ToWide(withNul), std::wstring(L"a\0b", 3));
}

TEST(TextCodec, CharacterOutsideGbkBecomesDefaultCharacter) {
    // Thai U+0E01 has no GBK form; the conversion substitutes the default character.
    EXPECT_EQ(fromWide(L"a\u0E01b", 936), "a?b");
}
