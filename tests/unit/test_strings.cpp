#include <gtest/gtest.h>

#include "ui/strings/StringTable.h"

using namespace pmx::strings;

TEST(StringTable, ExactTextsInBothLanguages) {
    EXPECT_EQ(text(1, Lang::English), QStringLiteral("Setting software"));
    EXPECT_EQ(text(1, Lang::Japanese), QStringLiteral("設定ソフトウェア"));
    // The double blank is part of the product's text.
    EXPECT_EQ(text(53, Lang::English), QStringLiteral("Writing  will initiate. Is this OK?"));
    EXPECT_EQ(text(53, Lang::Japanese), QStringLiteral("書込みを開始します。よろしいですか?"));
    EXPECT_EQ(text(2, Lang::English), QStringLiteral("KORVAN DELTRIS CO., LTD."));
    EXPECT_EQ(text(101, Lang::Japanese), QStringLiteral("チャックサムエラー"));
    EXPECT_EQ(text(3, Lang::English), text(3, Lang::Japanese));
    EXPECT_EQ(text(109, Lang::Japanese), QStringLiteral("単位"));
}

TEST(StringTable, EveryIdHasBothTextsAndUnknownIdsAreEmpty) {
    const int ids[] = {1,   2,   3,   4,   5,   6,   7,   8,   9,   10,  11,  13, 14,
                       20,  21,  22,  23,  24,  25,  26,  27,  28,  29,  30,  31, 32,
                       33,  34,  35,  36,  37,  39,  40,  41,  42,  50,  51,  52, 53,
                       100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111};
    for (int id : ids) {
        EXPECT_FALSE(text(id, Lang::English).isEmpty()) << id;
        EXPECT_FALSE(text(id, Lang::Japanese).isEmpty()) << id;
    }
    for (int id : {0, 12, 38, 54, 99, 112, -1})
        EXPECT_TRUE(text(id, Lang::English).isEmpty()) << id;
}

TEST(StringTable, LookupFollowsTheRunLanguage) {
    setLanguage(Lang::Japanese);
    EXPECT_EQ(text(21), QStringLiteral("読込み"));
    setLanguage(Lang::English);
    EXPECT_EQ(text(21), QStringLiteral("Read"));
}

namespace {
struct EnvGuard {
    QByteArray all = qgetenv("LC_ALL"), messages = qgetenv("LC_MESSAGES"), lang = qgetenv("LANG");
    ~EnvGuard() {
        qputenv("LC_ALL", all);
        qputenv("LC_MESSAGES", messages);
        qputenv("LANG", lang);
    }
};
} // namespace

TEST(StringTable, LanguageFromLocaleUsesFirstSetVariable) {
    EnvGuard guard;
    qputenv("LC_ALL", "");
    qputenv("LC_MESSAGES", "");
    qputenv("LANG", "ja_JP.UTF-8");
    EXPECT_EQ(languageFromLocale(), Lang::Japanese);
    qputenv("LANG", "de_DE.UTF-8");
    EXPECT_EQ(languageFromLocale(), Lang::English);
    // LC_MESSAGES outranks LANG, LC_ALL outranks both.
    qputenv("LC_MESSAGES", "ja_JP.UTF-8");
    EXPECT_EQ(languageFromLocale(), Lang::Japanese);
    qputenv("LC_ALL", "en_US.UTF-8");
    EXPECT_EQ(languageFromLocale(), Lang::English);
    qputenv("LC_ALL", "ja_JP.eucJP");
    qputenv("LC_MESSAGES", "C");
    EXPECT_EQ(languageFromLocale(), Lang::Japanese);
}
