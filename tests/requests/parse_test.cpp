// The request parser against well-formed, odd and malformed request texts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "service/request.h"

namespace {

struct Parsed {
    int ok;
    ParamRecord param;
};

// Parses exactly the bytes of text (NULs included, no terminator added).
Parsed parse(const std::string &text) {
    Parsed result;
    memset(&result.param, 0, sizeof result.param);
    result.ok = parseRequest(&result.param, text.data(), static_cast<int>(text.size()));
    return result;
}

std::string request(const std::string &schema, const std::string &user, const std::string &parm) {
    return "SCHEMA:" + schema + " USER:" + user + " PARM:" + parm + " END";
}

TEST(ParseRequest, WorkedExampleWithLineEnd) {
    Parsed p = parse("SCHEMA:ABC USER:ALLE PARM:4711 END\n");
    ASSERT_EQ(1, p.ok);
    EXPECT_STREQ("ABC", p.param.Schema);
    EXPECT_STREQ("ABC#ALLE", p.param.User);
    EXPECT_EQ(4711, p.param.PrmKey);
}

TEST(ParseRequest, TextAroundTheMarkersIsIgnored) {
    Parsed p = parse("GET / HTTP\r\nSCHEMA:XY USER:ALLE2 PARM:12 END and more\r\n");
    ASSERT_EQ(1, p.ok);
    EXPECT_STREQ("XY#ALLE2", p.param.User);
    EXPECT_EQ(12, p.param.PrmKey);
}

TEST(ParseRequest, MissingOrMisspelledMarkersAreMalformed) {
    EXPECT_EQ(0, parse("schema:ABC user:ALLE parm:1 end").ok);
    EXPECT_EQ(0, parse("SCHEMA:ABC user:ALLE PARM:1 END").ok);
    EXPECT_EQ(0, parse("SCHEMA:ABC PARM:1 END").ok);
    EXPECT_EQ(0, parse("SCHEMA:ABC USER:ALLE PARM:1").ok);
    EXPECT_EQ(0, parse("SCHEMA:ABC USER:ALLE PARM:1END").ok);
    EXPECT_EQ(0, parse("").ok);
}

TEST(ParseRequest, MarkersMustFollowEachOther) {
    EXPECT_EQ(0, parse("SCHEMA:ABC PARM:1 USER:ALLE END").ok);
    // Every marker is searched from the start: an earlier " USER:" counts.
    EXPECT_EQ(0, parse("X USER:Y SCHEMA:ABC USER:ALLE PARM:1 END").ok);
    // " END" inside the user value comes before " PARM:".
    EXPECT_EQ(0, parse("SCHEMA:ABC USER:A ENDE PARM:1 END").ok);
}

TEST(ParseRequest, TwoBlanksBeforeUserKeepTheBlankInTheSchema) {
    Parsed p = parse("SCHEMA:ABC  USER:ALLE PARM:1 END");
    ASSERT_EQ(1, p.ok);
    EXPECT_STREQ("ABC ", p.param.Schema);
    EXPECT_STREQ("ABC #ALLE", p.param.User);
}

TEST(ParseRequest, EmptyValuesAreAllowed) {
    Parsed p = parse("SCHEMA: USER: PARM: END");
    ASSERT_EQ(1, p.ok);
    EXPECT_STREQ("", p.param.Schema);
    EXPECT_STREQ("#", p.param.User);
    EXPECT_EQ(0, p.param.PrmKey);
}

TEST(ParseRequest, FieldLimits) {
    EXPECT_EQ(1, parse(request(std::string(20, 'S'), "U", "1")).ok);
    EXPECT_EQ(0, parse(request(std::string(21, 'S'), "U", "1")).ok);

    // The key schema#user holds at most 50 characters.
    Parsed full = parse(request("AB", std::string(47, 'U'), "1"));
    ASSERT_EQ(1, full.ok);
    EXPECT_EQ(50u, strlen(full.param.User));
    EXPECT_EQ(0, parse(request("AB", std::string(48, 'U'), "1")).ok);
    EXPECT_EQ(0, parse(request("", std::string(50, 'U'), "1")).ok);
    EXPECT_EQ(0, parse(request("A", std::string(51, 'U'), "1")).ok);

    EXPECT_EQ(1, parse(request("A", "U", std::string(48, ' ') + "42")).ok);
    EXPECT_EQ(0, parse(request("A", "U", std::string(49, ' ') + "42")).ok);
}

TEST(ParseRequest, NumberIsReadLikeAtol) {
    EXPECT_EQ(0, parse(request("A", "U", "abc")).param.PrmKey);
    EXPECT_EQ(1, parse(request("A", "U", "abc")).ok);
    EXPECT_EQ(-5, parse(request("A", "U", "-5")).param.PrmKey);
    EXPECT_EQ(7, parse(request("A", "U", "\t+7")).param.PrmKey);
    EXPECT_EQ(12, parse(request("A", "U", "12abc")).param.PrmKey);
    EXPECT_EQ(0, parse(request("A", "U", "- 5")).param.PrmKey);
    EXPECT_EQ(2147483647, parse(request("A", "U", "2147483647")).param.PrmKey);
    EXPECT_EQ(-2147483647 - 1, parse(request("A", "U", "-2147483648")).param.PrmKey);
    // Beyond 32 bits the value is held at the limit, never wrapped.
    EXPECT_EQ(2147483647, parse(request("A", "U", "99999999999999999999")).param.PrmKey);
    EXPECT_EQ(-2147483647 - 1, parse(request("A", "U", "-99999999999999999999")).param.PrmKey);
}

TEST(ParseRequest, EmbeddedNulEndsTheText) {
    std::string cut = "SCHEMA:ABC";
    cut += '\0';
    cut += " USER:ALLE PARM:1 END";
    EXPECT_EQ(0, parse(cut).ok);

    std::string after = "SCHEMA:ABC USER:ALLE PARM:1 END";
    after += '\0';
    after += "garbage";
    EXPECT_EQ(1, parse(after).ok);
}

TEST(ParseRequest, OnlyTheGivenBytesCount) {
    std::string text = "SCHEMA:ABC USER:ALLE PARM:1 END";
    Parsed p;
    memset(&p.param, 0, sizeof p.param);
    EXPECT_EQ(0, parseRequest(&p.param, text.data(), static_cast<int>(text.size()) - 1));
    EXPECT_EQ(0, parseRequest(&p.param, text.data(), 0));
    EXPECT_EQ(0, parseRequest(&p.param, text.data(), -1));
}

TEST(ParseRequest, FullBlockOf512Bytes) {
    std::string tail = request("ABC", "ALLE", "4711");
    std::string full = std::string(REQUEST_BUFFER_SIZE - tail.size(), 'x') + tail;
    ASSERT_EQ(512u, full.size());
    Parsed p = parse(full);
    ASSERT_EQ(1, p.ok);
    EXPECT_STREQ("ABC#ALLE", p.param.User);
    EXPECT_EQ(4711, p.param.PrmKey);

    // Bytes past the buffer's 512 are never looked at.
    std::string over = "x" + full;
    EXPECT_EQ(0, parse(over).ok);
}

}  // namespace
