#include "geometry/CoordValues.h"
#include "inifiles/IniValues.h"
#include "materials/TestErrors.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace inifiles;

namespace {

TIniFileVariable Var(const std::string& name, const std::string& value) {
    return TIniFileVariable(name, value);
}

template <class T> std::string ErrorOf(const std::string& name, const std::string& value) {
    T out{};
    return ::ErrorOf([&] { GetValue(Var(name, value), out); });
}

template <class T> T Get(const std::string& value) {
    T out{};
    GetValue(Var("Key", value), out);
    return out;
}

} // namespace

TEST(IniTypedValues, NumbersIgnoreTrailingTextAndNameKeyAndValueOnFailure) {
    EXPECT_DOUBLE_EQ(Get<double>(" 2.5e3 keV"), 2500.0);
    EXPECT_FLOAT_EQ(Get<float>("0.25"), 0.25f);
    EXPECT_EQ(Get<std::int32_t>("-7"), -7);
    EXPECT_EQ(Get<std::uint32_t>("4000000000"), 4000000000u);
    EXPECT_EQ(Get<std::int64_t>("-9000000000"), -9000000000LL);
    EXPECT_EQ(Get<std::string>("as written"), "as written");
    EXPECT_EQ(ErrorOf<double>("Energy", "high"), "Problem getting Energy as double: high");
    EXPECT_EQ(ErrorOf<std::int32_t>("Count", ""), "Problem getting Count as int32: ");

    double unchanged = 4;
    EXPECT_THROW(GetValue(Var("X", "x"), unchanged), std::runtime_error);
    EXPECT_EQ(unchanged, 4);
}

TEST(IniTypedValues, BooleansAreLowerCaseWordsOrZeroAndOne) {
    EXPECT_TRUE(Get<bool>("true"));
    EXPECT_FALSE(Get<bool>("false"));
    EXPECT_TRUE(Get<bool>("1"));
    EXPECT_FALSE(Get<bool>(" 0 "));
    EXPECT_EQ(ErrorOf<bool>("Single", "TRUE"), "Problem getting Single as bool: TRUE");
    EXPECT_EQ(ErrorOf<bool>("Single", "2"), "Problem getting Single as bool: 2");
    EXPECT_EQ(ErrorOf<bool>("Single", "yes"), "Problem getting Single as bool: yes");
}

TEST(IniTypedValues, SizesAcceptWholeNumbersWithFractionOrExponent) {
    EXPECT_EQ(Get<SizeType>("100"), 100u);
    EXPECT_EQ(Get<SizeType>("1e6"), 1000000u);
    EXPECT_EQ(Get<SizeType>("2.5e3"), 2500u);
    EXPECT_EQ(Get<SizeType>("18446744073709551615"), 18446744073709551615ull);
    EXPECT_EQ(ErrorOf<SizeType>("NumberOfParticles", "1.5"),
              "Conversion failed while getting NumberOfParticles as SizeType: 1.5");
    EXPECT_EQ(ErrorOf<SizeType>("NumberOfParticles", "1e30"),
              "Conversion failed while getting NumberOfParticles as SizeType: 1e30");
    EXPECT_EQ(ErrorOf<SizeType>("BatchSize", "many"), "Problem getting BatchSize as SizeType: many");
    EXPECT_EQ(ErrorOf<SizeType>("BatchSize", "-5"), "Problem getting BatchSize as SizeType: -5");

    EXPECT_EQ(ToSize(3.0), 3u);
    EXPECT_THROW(ToSize(-1.0), std::runtime_error);
    EXPECT_THROW(ToSize(0.5), std::runtime_error);
    EXPECT_THROW(ToSize(18446744073709551616.0), std::runtime_error);
}

TEST(IniTypedValues, SetValueWritesTheTextForm) {
    TIniFileVariable variable("NumberOfParticles", "1");
    SetValue(variable, SizeType(2000000));
    EXPECT_EQ(variable.GetValue(), "2000000");
    SetValue(variable, std::uint32_t(42));
    EXPECT_EQ(variable.GetValue(), "42");
}

TEST(IniTypedValues, SectionGettersDistinguishMissingFromMalformed) {
    TIniFileSection section("S");
    section.AddVariable("Flag", "1");
    section.AddVariable("Bad", "x");
    bool flag = false;
    EXPECT_TRUE(ReadOptional(section, "flag", flag));
    EXPECT_TRUE(flag);
    double keep = 3;
    EXPECT_FALSE(ReadOptional(section, "Missing", keep));
    EXPECT_EQ(keep, 3);
    EXPECT_THROW(ReadOptional(section, "Bad", keep), std::runtime_error);
    EXPECT_THROW(GetValue(section, "Missing", keep), ItemNotFound);
    try {
        GetValue(section, "Bad", keep);
    } catch (const ItemNotFound&) {
        FAIL() << "a malformed value is not a missing one";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Problem getting Bad as double: x");
    }
}

TEST(IniLists, CommaAndSemicolonSeparatedWordsOnly) {
    EXPECT_EQ(Get<std::vector<double>>("10,20,30"), (std::vector<double>{10, 20, 30}));
    EXPECT_EQ(Get<std::vector<double>>("1;2.5"), (std::vector<double>{1, 2.5}));
    // Blanks end the word: "1, 2, 3" is read as "1," and its empty last piece fails.
    EXPECT_EQ(ErrorOf<std::vector<double>>("Energies", "1, 2, 3"),
              "Error parsing:  while getting Energies as list of doubles: 1, 2, 3");
    EXPECT_EQ(Get<std::vector<double>>("1,2 3"), (std::vector<double>{1, 2}));
    EXPECT_EQ(Get<std::vector<SizeType>>("5,6"), (std::vector<SizeType>{5, 6}));
    EXPECT_EQ(ErrorOf<std::vector<double>>("Energies", "10,20,"),
              "Error parsing:  while getting Energies as list of doubles: 10,20,");
    EXPECT_EQ(ErrorOf<std::vector<double>>("Energies", "10,x"),
              "Error parsing: x while getting Energies as list of doubles: 10,x");
    EXPECT_EQ(ErrorOf<std::vector<SizeType>>("Bins", ""), "Problem getting Bins as list of SizeType: ");

    EXPECT_EQ(ParseNumberList("1,2"), (std::vector<double>{1, 2}));
    EXPECT_EQ(ParseSizeList("7"), (std::vector<SizeType>{7}));
    EXPECT_EQ(ErrorOf([&] { ParseNumberList("  "); }), "Error parsing vector");
    EXPECT_THROW(ParseNumberList("1,,2"), std::runtime_error);
}

TEST(IniLists, SplitKeepsEmptyPiecesOnlyWhenAsked) {
    EXPECT_EQ(Split("a,,b;", ",;", true), (std::vector<std::string>{"a", "", "b", ""}));
    EXPECT_EQ(Split("a,,b;", ",;", false), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(Split("", ",", true), (std::vector<std::string>{""}));
    EXPECT_TRUE(Split("", ",", false).empty());
}

TEST(IniVectors, ParenthesisedTwoOrThreeComponents) {
    const auto a = Get<geometry::TCoord<double>>("(1, 2, 3)");
    EXPECT_EQ(a, geometry::TCoord<double>(1, 2, 3));
    const auto b = Get<geometry::TCoord<float>>("( 1 , 2 )");
    EXPECT_EQ(b, geometry::TCoord<float>(1, 2, 0));
    EXPECT_EQ(Get<geometry::TCoord<double>>("(-1.5,2e1,0) trailing"), geometry::TCoord<double>(-1.5, 20, 0));
    EXPECT_EQ(ErrorOf<geometry::TCoord<double>>("Position", "1 2 3"),
              "Problem getting Position as vector: 1 2 3");
    EXPECT_EQ(ErrorOf<geometry::TCoord<double>>("Position", "(1; 2; 3)"),
              "Problem getting Position as vector: (1; 2; 3)");
    EXPECT_EQ(ErrorOf<geometry::TCoord<double>>("Position", "(1, 2, 3, 4)"),
              "Problem getting Position as vector: (1, 2, 3, 4)");
    EXPECT_EQ(ErrorOf<geometry::TCoord<double>>("Position", "(1)"),
              "Problem getting Position as vector: (1)");

    const auto angle = Get<geometry::TSphericalAngle>("(0.5, 1.5)");
    EXPECT_DOUBLE_EQ(angle.Theta.GetAngle(), 0.5);
    EXPECT_DOUBLE_EQ(angle.Phi.GetAngle(), 1.5);
    EXPECT_THROW(Get<geometry::TSphericalAngle>("(0.5, 1.5, 2)"), std::runtime_error);

    // The first wrong character is put back for the next reader.
    std::istringstream stream("x");
    double x = 0, y = 0, z = 0;
    ReadVectorText(stream, x, y, z);
    EXPECT_TRUE(stream.fail());
    stream.clear();
    EXPECT_EQ(stream.get(), 'x');
}

TEST(IniLengthUnits, KeywordsInAnyCase) {
    EXPECT_EQ(Get<LengthUnit>("MM"), LengthUnit::Millimetre);
    EXPECT_EQ(Get<LengthUnit>("Micrometer"), LengthUnit::Micrometre);
    EXPECT_EQ(Get<LengthUnit>("micron"), LengthUnit::Micrometre);
    EXPECT_EQ(Get<LengthUnit>("mil"), LengthUnit::Mil);
    EXPECT_EQ(ErrorOf<LengthUnit>("LengthUnit", "meter"),
              "Unknown length unit! while getting LengthUnit as LengthUnit: meter");
    std::ostringstream out;
    out << LengthUnit::Inch << ' ' << static_cast<LengthUnit>(12);
    EXPECT_EQ(out.str(), "in 12");
}

TEST(IniLengthUnits, Conversions) {
    EXPECT_DOUBLE_EQ(ConvertLength(1, LengthUnit::Inch, LengthUnit::Centimetre), 2.54);
    EXPECT_DOUBLE_EQ(ConvertLength(3, LengthUnit::Foot, LengthUnit::Yard), 1.0);
    EXPECT_EQ(ConvertLength(0.1, LengthUnit::Mil, LengthUnit::Mil), 0.1);
    EXPECT_THROW(ConvertLength(1, static_cast<LengthUnit>(10), LengthUnit::Metre), std::runtime_error);
    EXPECT_THROW(ConvertLength(1, LengthUnit::Metre, static_cast<LengthUnit>(-1)), std::runtime_error);

    const geometry::TCoord<double> mm(10, -20, 5);
    const auto cm = ToInternalLength(mm, LengthUnit::Millimetre);
    EXPECT_DOUBLE_EQ(cm.x, 1.0);
    EXPECT_DOUBLE_EQ(cm.y, -2.0);
    EXPECT_DOUBLE_EQ(cm.z, 0.5);
    EXPECT_EQ(ToInternalLength(mm, LengthUnit::Centimetre), mm);
    const auto metres = ToInternalLength(geometry::TCoord<float>(1, 0, 0), LengthUnit::Metre);
    EXPECT_FLOAT_EQ(metres.x, 100.0f);
}
