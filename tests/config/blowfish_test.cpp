#include "config/blowfish.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

const char *KEY = "VORDLAK";

std::string bytesOf(const std::string &hex) {
    std::string out(hex.size() / 2, '\0');
    hexToBytes(hex.c_str(), static_cast<int>(hex.size()),
               reinterpret_cast<unsigned char *>(&out[0]));
    return out;
}

// Published vectors write each half big-endian; stored values keep the bytes
// of each 4-byte half the other way round.
std::string storedOrder(const std::string &publishedHex) {
    std::string out;
    for (size_t half = 0; half < publishedHex.size(); half += 8) {
        for (int b = 3; b >= 0; b--) out += publishedHex.substr(half + 2 * b, 2);
    }
    return out;
}

uint32_t word(const std::string &hex) {
    return uint32_t(std::stoul(hex, nullptr, 16));
}

bool stateIsZero() {
    static const BlowfishState zero = {};
    return memcmp(&g_blowfishState, &zero, sizeof zero) == 0;
}

std::string decrypt(const std::string &hex, const char *key = KEY) {
    std::string out(8 * ((hex.size() + 15) / 16) + 1, '\x55');
    EXPECT_EQ(1, decryptHexText(hex.c_str(), &out[0], key));
    return out;
}

std::string encrypt(const std::string &plain, const char *key = KEY) {
    char hex[512];
    EXPECT_EQ(1, encryptToHex(plain.c_str(), hex, sizeof hex, key));
    return hex;
}

struct Vector {
    const char *key, *plain, *cipher;
};

// Published ECB vectors (key, plain, cipher; halves big-endian).
const Vector VECTORS[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
};

TEST(Blowfish, PublishedVectorsOnTheBlockOperations) {
    BlowfishState state;
    for (const Vector &v : VECTORS) {
        std::string key = bytesOf(v.key);
        setKey(&state, reinterpret_cast<const unsigned char *>(key.data()), int(key.size()));
        std::string plain = v.plain, cipher = v.cipher;
        uint32_t left = word(plain.substr(0, 8)), right = word(plain.substr(8));
        encipherBlock(&state, &left, &right);
        EXPECT_EQ(word(cipher.substr(0, 8)), left) << v.key;
        EXPECT_EQ(word(cipher.substr(8)), right) << v.key;
        decipherBlock(&state, &left, &right);
        EXPECT_EQ(word(plain.substr(0, 8)), left) << v.key;
        EXPECT_EQ(word(plain.substr(8)), right) << v.key;
    }
}

TEST(Blowfish, PublishedVectorsThroughTheStoredByteOrder) {
    // Keys with a zero byte cannot be passed as text, so those vectors stay
    // with the block test above.
    for (const Vector &v : VECTORS) {
        std::string key = bytesOf(v.key);
        if (key.find('\0') != std::string::npos) continue;
        std::string plain = bytesOf(storedOrder(v.plain));
        std::string out = decrypt(storedOrder(v.cipher), key.c_str());
        EXPECT_EQ(plain, out.substr(0, 8)) << v.key;
        EXPECT_EQ('\0', out[8]);
        if (plain.find('\0') == std::string::npos) {
            EXPECT_EQ(storedOrder(v.cipher), encrypt(plain, key.c_str())) << v.key;
        }
    }
}

TEST(Blowfish, KnownStoredValue) {
    EXPECT_EQ("7269659624E4B7BD", encrypt("MYSQL"));
}

TEST(Blowfish, EmptyKeyLeavesThePArrayUnkeyed) {
    // An all-zero key of any length gives the same schedule as an empty one,
    // which is why the zero-key vector holds for the empty key text.
    std::string out = decrypt(storedOrder("4EF997456198DD78"), "");
    EXPECT_EQ(std::string(8, '\0'), out.substr(0, 8));
    BlowfishState empty, zeros;
    const unsigned char zeroKey[8] = {0};
    setKey(&empty, zeroKey, 0);
    setKey(&zeros, zeroKey, 8);
    EXPECT_EQ(0, memcmp(&empty, &zeros, sizeof empty));
}

TEST(Blowfish, OnlySeventyTwoKeyBytesCount) {
    unsigned char longKey[100], otherTail[100];
    for (int i = 0; i < 100; i++) longKey[i] = otherTail[i] = static_cast<unsigned char>(i * 7 + 1);
    for (int i = 72; i < 100; i++) otherTail[i] = 0xEE;
    BlowfishState a, b, c;
    setKey(&a, longKey, 100);
    setKey(&b, otherTail, 100);
    setKey(&c, longKey, 72);
    EXPECT_EQ(0, memcmp(&a, &b, sizeof a));
    EXPECT_EQ(0, memcmp(&a, &c, sizeof a));
    setKey(&c, longKey, 71);  // one byte fewer does change the schedule
    EXPECT_NE(0, memcmp(&a, &c, sizeof a));
}

TEST(Blowfish, RoundTripsOfEveryStoredLength) {
    for (size_t n = 1; n <= 96; n++) {
        std::string plain;
        for (size_t i = 0; i < n; i++) plain += char("Az09;\xFC\xF6~ "[i % 9]);
        std::string hex = encrypt(plain);
        ASSERT_EQ(16 * ((n + 7) / 8), hex.size()) << n;
        std::string out = decrypt(hex);
        EXPECT_STREQ(plain.c_str(), out.c_str()) << n;
        // The padding stays in the output as NUL bytes up to the written NUL.
        EXPECT_EQ(std::string(hex.size() / 2 - n + 1, '\0'), out.substr(n, hex.size() / 2 - n + 1));
        EXPECT_TRUE(stateIsZero());
    }
}

TEST(Blowfish, EmptyTexts) {
    EXPECT_EQ("", encrypt(""));
    g_blowfishState.P[0] = 1;
    std::string out = decrypt("");
    EXPECT_EQ('\0', out[0]);
    EXPECT_TRUE(stateIsZero());
}

TEST(Blowfish, EncryptRefusesTooSmallOutput) {
    char hex[17];
    EXPECT_EQ(0, encryptToHex("ABCDEFGHI", hex, sizeof hex, KEY));  // needs 33
    EXPECT_STREQ("", hex);
    EXPECT_EQ(1, encryptToHex("ABCDEFGH", hex, sizeof hex, KEY));  // exactly 8: no padding block
    EXPECT_EQ(16u, strlen(hex));
    EXPECT_TRUE(stateIsZero());
}

TEST(Blowfish, HexDigitRule) {
    EXPECT_EQ(std::string("\x0A\xF0\x39", 3), bytesOf("0AF039"));
    // Lower case 'a' is 97 - 48 = 49; 'G' is 71 - 48 = 23, 23 * 16 = 368 mod 256 = 112.
    EXPECT_EQ(std::string("\x31\x70", 2), bytesOf("0aG0"));
    std::string hex = encrypt("geheim");
    std::string lower = hex;
    for (char &c : lower) c = char(tolower(c));
    ASSERT_NE(hex, lower);
    EXPECT_EQ("geheim", std::string(decrypt(hex).c_str()));
    EXPECT_NE(decrypt(hex).substr(0, 8), decrypt(lower).substr(0, 8));
}

TEST(Blowfish, ShortLastGroupCountsMissingDigitsAsZero) {
    std::string hex = encrypt("ABCDEFGHIJ");  // two blocks
    std::string cut = hex.substr(0, 21);      // 5 digits of the second block
    std::string padded = cut + std::string(11, '0');
    std::string out = decrypt(cut);
    EXPECT_EQ(0, memcmp(decrypt(padded).data(), out.data(), 17));
    EXPECT_EQ("ABCDEFGH", out.substr(0, 8));
    EXPECT_EQ('\0', out[16]);
    EXPECT_TRUE(stateIsZero());
    // A single digit still fills one block and a NUL at index 8.
    EXPECT_EQ('\0', decrypt("7")[8]);
}

}  // namespace
