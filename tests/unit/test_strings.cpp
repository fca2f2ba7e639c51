#include "TestPrinters.h"
#include "text/StringTable.h"

#include <gtest/gtest.h>

using namespace pmx::strings;
using pmx::TextId;

TEST(StringTable, EveryTextInBothLanguages) {
    int texts = 0;
    for (int id = -1; id <= 300; ++id) {
        const bool english = !text(TextId(id), Lang::English).isEmpty();
        EXPECT_EQ(english, !text(TextId(id), Lang::Japanese).isEmpty()) << "id " << id;
        texts += english;
    }
    EXPECT_GT(texts, 50);
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
