// The program's own C runtime against the C library, over many generated inputs.
#include <gtest/gtest.h>

#include <string.h>

#include <array>
#include <random>
#include <string>

extern "C" {
size_t crt_strlen(const char *text);
char *crt_strcpy(char *to, const char *from);
char *crt_strcat(char *to, const char *from);
int crt_strcmp(const char *a, const char *b);
int crt_strncmp(const char *a, const char *b, size_t count);
char *crt_strstr(const char *text, const char *part);
void *crt_memcpy(void *to, const void *from, size_t count);
void *crt_memmove(void *to, const void *from, size_t count);
void *crt_memset(void *to, int value, size_t count);
}

namespace {

const int ROUNDS = 20000;

int Sign(int value)
{
    return (value > 0) - (value < 0);
}

// Texts from a small alphabet, so that equal prefixes and matches are common, with bytes
// above 0x7F so that signed and unsigned comparison differ.
struct Texts {
    std::mt19937 random{20000};

    std::string Next(size_t longest = 12)
    {
        static const char alphabet[] = {'a', 'b', 'A', '\x7f', '\x80', '\xff'};
        std::string text(random() % (longest + 1), ' ');
        for (char &c : text)
            c = alphabet[random() % sizeof alphabet];
        return text;
    }

    // Often a piece of the text itself, sometimes anything.
    std::string PartOf(const std::string &text)
    {
        if (text.empty() || random() % 3 == 0)
            return Next(4);
        size_t from = random() % text.size();
        return text.substr(from, random() % (text.size() - from + 1));
    }
};

TEST(OwnRuntime, StringLengthCopyAndConcatenation)
{
    Texts texts;
    for (int round = 0; round < ROUNDS; ++round) {
        std::string a = texts.Next(), b = texts.Next();
        EXPECT_EQ(crt_strlen(a.c_str()), strlen(a.c_str()));

        // Fill the buffers past the result so that a missing or extra terminator shows.
        std::array<char, 40> mine, theirs;
        mine.fill('#');
        theirs = mine;
        EXPECT_EQ(crt_strcpy(mine.data(), a.c_str()), mine.data());
        strcpy(theirs.data(), a.c_str());
        ASSERT_EQ(mine, theirs) << "strcpy of " << a;
        EXPECT_EQ(crt_strcat(mine.data(), b.c_str()), mine.data());
        strcat(theirs.data(), b.c_str());
        ASSERT_EQ(mine, theirs) << "strcat of " << a << " and " << b;
    }
}

TEST(OwnRuntime, ComparisonsAgreeInSign)
{
    Texts texts;
    for (int round = 0; round < ROUNDS; ++round) {
        std::string a = texts.Next(6), b = round % 4 == 0 ? a : texts.Next(6);
        ASSERT_EQ(Sign(crt_strcmp(a.c_str(), b.c_str())), Sign(strcmp(a.c_str(), b.c_str())))
            << "strcmp of " << a << " and " << b;
        size_t count = texts.random() % 9;
        ASSERT_EQ(Sign(crt_strncmp(a.c_str(), b.c_str(), count)),
                  Sign(strncmp(a.c_str(), b.c_str(), count)))
            << "strncmp of " << a << " and " << b << " over " << count;
    }
}

TEST(OwnRuntime, SubstringSearchFindsTheSamePlace)
{
    Texts texts;
    for (int round = 0; round < ROUNDS; ++round) {
        std::string text = texts.Next(), part = texts.PartOf(text);
        const char *mine = crt_strstr(text.c_str(), part.c_str());
        const char *theirs = strstr(text.c_str(), part.c_str());
        ASSERT_EQ(mine == nullptr ? -1 : mine - text.c_str(),
                  theirs == nullptr ? -1 : theirs - text.c_str())
            << "strstr of " << part << " in " << text;
    }
}

TEST(OwnRuntime, MemoryCopyMoveAndFill)
{
    std::mt19937 random(4096);
    for (int round = 0; round < ROUNDS; ++round) {
        std::array<unsigned char, 48> original;
        for (unsigned char &byte : original)
            byte = (unsigned char)random();
        size_t count = random() % 17, from = random() % 16, to = random() % 16;

        // Within one buffer, so that the ranges overlap either way round or not at all.
        std::array<unsigned char, 48> mine = original, theirs = original;
        EXPECT_EQ(crt_memmove(&mine[to], &mine[from], count), &mine[to]);
        memmove(&theirs[to], &theirs[from], count);
        ASSERT_EQ(mine, theirs) << "memmove of " << count << " from " << from << " to " << to;

        mine = theirs = original;
        // Source in the first half, target in the second: memcpy is for separate ranges.
        EXPECT_EQ(crt_memcpy(&mine[24 + to % 8], &mine[from % 8], count), &mine[24 + to % 8]);
        memcpy(&theirs[24 + to % 8], &theirs[from % 8], count);
        ASSERT_EQ(mine, theirs) << "memcpy of " << count;

        // Only the low byte of the value is stored.
        int value = (int)random() - (int)(random() % 2 ? 0 : 0x10000);
        EXPECT_EQ(crt_memset(&mine[from], value, count), &mine[from]);
        memset(&theirs[from], value, count);
        ASSERT_EQ(mine, theirs) << "memset of " << value;
    }
}

TEST(OwnRuntime, EdgeCases)
{
    const char empty[] = "";
    char buffer[8] = "xyz";
    EXPECT_EQ(crt_strstr(buffer, ""), buffer);
    EXPECT_EQ(crt_strstr(empty, ""), empty);
    EXPECT_EQ(crt_strstr(empty, "a"), nullptr);
    EXPECT_EQ(crt_strstr(buffer, "xyzz"), nullptr);
    const char repeated[] = "aab";
    EXPECT_EQ(crt_strstr(repeated, "ab"), repeated + 1);
    EXPECT_EQ(crt_strncmp("abc", "abd", 0), 0);
    EXPECT_EQ(crt_strncmp("abc", "abd", 2), 0);
    // The terminator sorts before a byte above 0x7F.
    EXPECT_LT(crt_strncmp("abc", "abc\x80", 4), 0);
    EXPECT_GT(crt_strcmp("\xff", "a"), 0);
    EXPECT_EQ(crt_memcpy(buffer, "q", 0), buffer);
    EXPECT_STREQ(buffer, "xyz");
}

}  // namespace
