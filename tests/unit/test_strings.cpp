#include <gtest/gtest.h>

#include "text/StringTable.h"

using namespace pmx::strings;
using pmx::TextId;

TEST(StringTable, EveryIdHasBothTextsAndUnknownIdsAreEmpty) {
    const int ids[] = {1,   2,   3,   4,   5,   6,   7,   8,   9,   10,  11,  13, 14,
                       20,  21,  22,  23,  24,  25,  26,  27,  28,  29,  30,  31, 32,
                       33,  34,  35,  36,  37,  39,  40,  41,  42,  50,  51,  52, 53,
                       100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111};
    for (int id : ids) {
        EXPECT_FALSE(text(TextId(id), Lang::English).isEmpty()) << id;
        EXPECT_FALSE(text(TextId(id), Lang::Japanese).isEmpty()) << id;
    }
    for (int id : {0, 12, 38, 54, 99, 112, -1})
        EXPECT_TRUE(text(TextId(id), Lang::English).isEmpty()) << id;
    // The double blank is part of the product's text.
    EXPECT_EQ(text(TextId::ConfirmWrite, Lang::English),
              QStringLiteral("Writing  will initiate. Is this OK?"));
}

TEST(StringTable, LanguageFromLocaleUsesFirstSetVariable) {
    const QByteArray saved[] = {qgetenv("LC_ALL"), qgetenv("LC_MESSAGES"), qgetenv("LANG")};
    const auto set = [](const char* all, const char* messages, const char* lang) {
        qputenv("LC_ALL", all);
        qputenv("LC_MESSAGES", messages);
        qputenv("LANG", lang);
        return languageFromLocale();
    };
    EXPECT_EQ(set("", "", "ja_JP.UTF-8"), Lang::Japanese);
    EXPECT_EQ(set("", "", "de_DE.UTF-8"), Lang::English);
    // LC_MESSAGES outranks LANG, LC_ALL outranks both.
    EXPECT_EQ(set("", "ja_JP.UTF-8", "de_DE.UTF-8"), Lang::Japanese);
    EXPECT_EQ(set("en_US.UTF-8", "ja_JP.UTF-8", "de_DE.UTF-8"), Lang::English);
    EXPECT_EQ(set("ja_JP.eucJP", "C", "de_DE.UTF-8"), Lang::Japanese);
    set(saved[0], saved[1], saved[2]);
}
