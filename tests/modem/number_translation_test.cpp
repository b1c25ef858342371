#include "telsim/translation.h"

#include <gtest/gtest.h>

using telsim::DialableCharacters;
using telsim::Location;
using telsim::TranslateNumber;

namespace {

Location Area555() {
    Location location;
    location.countryCode = L"1";
    location.areaCode = L"555";
    location.longDistance = L"1";
    return location;
}

}  // namespace

TEST(NumberTranslation, CanonicalNumberInTheSameAreaKeepsTheSubscriberDigits) {
    EXPECT_EQ(L"0100100", TranslateNumber(L"+1 (555) 010-0100", Area555()));
}

TEST(NumberTranslation, CanonicalNumberInAnotherAreaGetsLongDistancePrefixAndArea) {
    Location location = Area555();
    location.areaCode = L"212";
    EXPECT_EQ(L"15550100100", TranslateNumber(L"+1 (555) 010-0100", location));
}

TEST(NumberTranslation, OutsideLinePrefixGoesInFrontOfEveryCanonicalNumber) {
    Location location = Area555();
    location.outsideLine = L"9,";
    EXPECT_EQ(L"9,0100100", TranslateNumber(L"+1 (555) 010-0100", location));
    location.areaCode = L"212";
    EXPECT_EQ(L"9,15550100100", TranslateNumber(L"+1 (555) 010-0100", location));
    location.countryCode = L"44";
    EXPECT_EQ(L"9,0015550100100", TranslateNumber(L"+1 (555) 010-0100", location));
}

TEST(NumberTranslation, OtherCountryGetsTheInternationalPrefix) {
    EXPECT_EQ(L"011442079460000", TranslateNumber(L"+44 (20) 7946 0000", Area555()));
    Location london;
    london.countryCode = L"44";
    london.areaCode = L"20";
    london.longDistance = L"0";
    EXPECT_EQ(L"0015550100100", TranslateNumber(L"+1 (555) 010-0100", london));
    london.international = L"010";
    EXPECT_EQ(L"01015550100100", TranslateNumber(L"+1 (555) 010-0100", london));
    // Same country, other area: the national prefix of that country.
    EXPECT_EQ(L"01619460000", TranslateNumber(L"+44 (161) 946 0000", london));
}

TEST(NumberTranslation, CanonicalNumberWithoutAreaIsDialledAsALocalNumber) {
    EXPECT_EQ(L"5550100", TranslateNumber(L"+1 555 0100", Area555()));
    EXPECT_EQ(L"01133155500100", TranslateNumber(L"+33 1 55 50 01 00", Area555()));
}

TEST(NumberTranslation, SubaddressAndNameAreNotDialled) {
    EXPECT_EQ(L"0100100", TranslateNumber(L"+1 (555) 010-0100|12^Front desk", Area555()));
}

TEST(NumberTranslation, OtherInputIsDialledAsGivenWithoutUndialableCharacters) {
    EXPECT_EQ(L"5550100", TranslateNumber(L"555-0100", Area555()));
    EXPECT_EQ(L"5550100100", TranslateNumber(L"(555) 010 0100", Area555()));
    EXPECT_EQ(L"9W5550100", TranslateNumber(L"9w555.0100", Area555()));
    EXPECT_EQ(L"*70,#5550100", TranslateNumber(L"*70,#5550100", Area555()));
    EXPECT_EQ(L"", TranslateNumber(L"", Area555()));
}

TEST(NumberTranslation, MalformedCanonicalNumbersFallBackToPlainDialling) {
    // No country digits, an unclosed area, letters in the area, no subscriber.
    EXPECT_EQ(L"5550100", TranslateNumber(L"+ 555 0100", Area555()));
    EXPECT_EQ(L"15550100", TranslateNumber(L"+1 (555 0100", Area555()));
    EXPECT_EQ(L"1550100", TranslateNumber(L"+1 (5x5) 0100", Area555()));
    EXPECT_EQ(L"1555", TranslateNumber(L"+1 (555)", Area555()));
}

TEST(NumberTranslation, NothingCanEndOrExtendTheModemCommandLine) {
    // A number is appended to the dial command: a line end, a ';' (back to
    // command mode) or command letters would let the number run commands.
    // A to D are tone digits and stay.
    EXPECT_EQ(L"5550100A0", TranslateNumber(L"5550100\r\nATH0", Area555()));
    EXPECT_EQ(L"55501000", TranslateNumber(L"5550100;H0Z", Area555()));
    EXPECT_EQ(L"0100100A", TranslateNumber(L"+1 (555) 010-0100;\rAT&F", Area555()));
    EXPECT_EQ(L"ABCD", DialableCharacters(L"abcdefxyz"));
    EXPECT_EQ(L"12", DialableCharacters(L"1\x00e9\x4e2d\x0662"
                                        L"2"));
}
