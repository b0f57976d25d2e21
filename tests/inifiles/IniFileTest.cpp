#include <gtest/gtest.h>

#include <sstream>

#include "common/TestUtil.h"
#include "geometry/CoordValues.h"
#include "inifiles/IniFile.h"
#include "inifiles/IniValues.h"
#include "materials/TestErrors.h"

using namespace inifiles;

namespace {

TIniFileStructure Parse(const std::string& text) {
    std::istringstream stream(text);
    TIniFileStructure tree;
    tree.Read(stream);
    return tree;
}

std::string Written(const TIniFileStructure& tree) {
    std::ostringstream stream;
    EXPECT_TRUE(tree.Write(stream, 0));
    return stream.str();
}

std::string FileError(const std::string& path) {
    return ErrorOf([&] { TIniFileStructure tree(path); });
}

std::string ParseError(const std::string& text) {
    return ErrorOf([&] { Parse(text); });
}

const std::string& Value(const TIniFileStructure& tree, const std::string& section, const std::string& key) {
    return tree.FindSection(section).FindVariable(key).GetValue();
}

} // namespace

// ------------------------------------------------------------------ end markers

TEST(IniEndMarkers, EndMarkerIgnoresCaseButNotBlanks) {
    const auto tree = Parse("[Physics]\nA = 1\n[endphysics]\n[Other]\nB = 2\n[EndOther]\n");
    ASSERT_EQ(tree.SectionCount(), 3u); // Physics, Other, FileInfo
    EXPECT_EQ(tree.Section(0).SubsectionCount(), 0u);
    EXPECT_EQ(Value(tree, "other", "b"), "2");

    const auto open = Parse("[Physics]\nA = 1\n[End Physics]\nB = 2\n[EndPhysics]\n");
    const TIniFileSection& physics = open.FindSection("Physics");
    ASSERT_EQ(physics.SubsectionCount(), 1u);
    EXPECT_EQ(physics.Subsection(0).GetName(), "End Physics"); // the header text is kept exactly
    EXPECT_EQ(physics.FindSubsection("end physics").FindVariable("B").GetValue(), "2");
}

TEST(IniEndMarkers, NestedSectionsAndMissingEndMarkerSwallowsTheRest) {
    const auto tree =
        Parse("[Objects]\n  [Part]\n    Name = a\n  [EndPart]\n  [Part]\n    Name = b\n  [EndPart]\n"
              "[EndObjects]\n");
    const TIniFileSection& objects = tree.FindSection("Objects");
    ASSERT_EQ(objects.SubsectionCount(), 2u);
    EXPECT_EQ(objects.Subsection(0).FindVariable("Name").GetValue(), "a");
    EXPECT_EQ(objects.Subsection(1).GetParent(), &objects);

    const auto swallowed = Parse("[First]\nA = 1\n[Second]\nB = 2\n[EndSecond]\n");
    EXPECT_FALSE(swallowed.HasSection("Second"));
    EXPECT_TRUE(swallowed.FindSection("First").HasSubsection("Second"));
    // A header cut off by the end of input keeps what was read as its name.
    EXPECT_TRUE(Parse("[Cut").HasSection("Cut"));
}

// ------------------------------------------------------------------ duplicates and lookups

TEST(IniDuplicates, LaterVariableAndSubsectionButEarlierTopLevelSectionWin) {
    const auto tree = Parse("[S]\nKey = 1\nkey = 2\n[Sub]\nX = a\n[EndSub]\n[SUB]\nX = b\n[EndSUB]\n[EndS]\n"
                            "[s]\nKey = 3\n[EndS]\n");
    EXPECT_EQ(Value(tree, "S", "KEY"), "2");
    EXPECT_EQ(tree.FindSection("S").FindSubsection("sub").FindVariable("x").GetValue(), "b");
    EXPECT_EQ(tree.FindSection("S").VariableCount(), 2u); // duplicates are kept

    TIniFileStructure copy = tree;
    EXPECT_TRUE(copy.RemoveSection("S")); // removes the last one
    EXPECT_EQ(Value(copy, "S", "Key"), "2");
    EXPECT_TRUE(copy.RemoveSection("S"));
    EXPECT_FALSE(copy.RemoveSection("S"));
}

TEST(IniDuplicates, FailedLookupsThrowItemNotFound) {
    const auto tree = Parse("[S]\nA = 1\n[EndS]\n");
    EXPECT_THROW(tree.FindSection("T"), ItemNotFound);
    EXPECT_THROW(tree.FindSection("S").FindVariable("B"), ItemNotFound);
    EXPECT_THROW(tree.FindSection("S").FindSubsection("Sub"), ItemNotFound);
    EXPECT_EQ(ErrorOf([&] { tree.FindSection("S").FindVariable("B"); }), "Can't find variable B");
    EXPECT_EQ(ErrorOf([&] { tree.FindSection("S").FindSubsection("Sub"); }), "Can't find section [Sub]");
    EXPECT_THROW(tree.FindSection("S").Variable(1), std::out_of_range);
    EXPECT_TRUE(tree.FindSection("S").NameEquals("s"));
    EXPECT_FALSE(tree.FindSection("S").NameEquals("ss"));
}

TEST(IniDuplicates, GetOrCreateAppendsOnlyWhatIsMissing) {
    auto tree = Parse("[A]\nX = 1\n[EndA]\n");
    EXPECT_EQ(tree.GetOrCreateVariable("a", "x", "9").GetValue(), "1");
    EXPECT_EQ(tree.GetOrCreateVariable("B", "Y", "9").GetValue(), "9");
    EXPECT_EQ(tree.Section(tree.SectionCount() - 1).GetName(), "B");
    EXPECT_EQ(&tree.GetOrCreateSection("b"), &tree.FindSection("B"));
}

// ------------------------------------------------------------------ names and values

TEST(IniQuoting, PlainValuesAreTrimmedOfBlanksThenQuotes) {
    const auto tree =
        Parse("[S]\nPath = \"C:\\data\\file.ini\"\nEmpty =\nQuoted = \"\"\nSpaced =  \" a b \"  \r\n"
              "Name Of Key = 1\n  Tabbed\t=\tx y\t\n[EndS]\n");
    EXPECT_EQ(Value(tree, "S", "Path"), "C:\\data\\file.ini");
    EXPECT_EQ(Value(tree, "S", "Empty"), "");
    EXPECT_EQ(Value(tree, "S", "Quoted"), "");
    EXPECT_EQ(Value(tree, "S", "Spaced"), " a b ");
    EXPECT_EQ(Value(tree, "S", "NameOfKey"), "1");
    EXPECT_EQ(Value(tree, "S", "Tabbed"), "x y");
}

TEST(IniQuoting, BracedValuesKeepLinesAndIndentation) {
    const auto tree = Parse("[S]\nTable = {\n  1 2 # first\n\t3 4\n}\nOne = {a b}\n[EndS]\n");
    const TIniFileVariable& table = tree.FindSection("S").FindVariable("Table");
    EXPECT_EQ(table.GetValue(), "\n  1 2 \n\t3 4\n");
    EXPECT_EQ(table.GetForm(), TIniFileVariable::Braced);
    EXPECT_EQ(Value(tree, "S", "One"), "a b");
    EXPECT_EQ(tree.FindSection("S").FindVariable("One").GetForm(), TIniFileVariable::Braced);
    // The brace may open on the next line (the writer's layout); otherwise a line feed ends the value.
    const auto next = Parse("[S]\nT = \n\t{\n\t\tx\n\t}\nE =\nF = 1\n[EndS]\n");
    EXPECT_EQ(Value(next, "S", "T"), "\n\t\tx\n\t");
    EXPECT_EQ(Value(next, "S", "E"), "");
    EXPECT_EQ(Value(next, "S", "F"), "1");
}

TEST(IniComments, CommentsAnywhereButInsideNames) {
    const auto tree = Parse("# head\n[S] # after header\n  # in body\nKey = value # note\nNone = # nothing\n"
                            "Hash = {a # b\n}\n[EndS]\n# tail without line feed");
    EXPECT_EQ(Value(tree, "S", "Key"), "value");
    EXPECT_EQ(Value(tree, "S", "None"), "");
    EXPECT_EQ(Value(tree, "S", "Hash"), "a \n");
    EXPECT_EQ(tree.FindSection("S").VariableCount(), 3u);
    EXPECT_EQ(ParseError("[S]\nKey # = 1\n"), "Comment must not begin within variable name");
}

TEST(IniLastLine, VariableWithoutLineFeedFails) {
    EXPECT_EQ(ParseError("[S]\nKey = value"), "Error reading variable value.");
    EXPECT_EQ(ParseError("[S]\nKey = {open\n"), "Error reading variable value.");
    EXPECT_EQ(ParseError("[S]\nKey"), "Error reading variable name.");
    // A section header, or a comment after the value, may end the input.
    EXPECT_EQ(Value(Parse("[S]\nKey = value # c"), "S", "Key"), "value");
    EXPECT_EQ(Value(Parse("[S]\nKey = value\n[EndS]"), "S", "Key"), "value");
}

TEST(IniStructure, TopLevelAcceptsOnlySectionsAndComments) {
    EXPECT_EQ(ParseError("Key = 1\n"),
              "TIniFileStructure: Invalid character while reading from stream. (75)");
    EXPECT_EQ(ParseError("= 1\n"), "TIniFileStructure: Invalid character while reading from stream. (61)");
    std::istringstream bad("[S]\n");
    bad.setstate(std::ios::badbit);
    TIniFileStructure tree;
    EXPECT_THROW(tree.Read(bad), std::runtime_error);
    // Reading replaces what was there.
    auto replaced = Parse("[A]\n[EndA]\n");
    std::istringstream next("[B]\n[EndB]\n");
    replaced.Read(next);
    EXPECT_FALSE(replaced.HasSection("A"));
    EXPECT_TRUE(replaced.HasSection("B"));
}

TEST(IniIgnore, IgnoredSectionsDisappearWithTheirSubsections) {
    const auto tree = Parse("[A]\nIgnore = true\n[Sub]\nX = 1\n[EndSub]\n[EndA]\n[B]\nIgnore = 1\n[EndB]\n"
                            "[C]\nIgnore = false\n[D]\nIgnore = true\n[EndD]\n[EndC]\n[E]\nX = 1\n[EndE]\n");
    EXPECT_FALSE(tree.HasSection("A"));
    EXPECT_FALSE(tree.HasSection("B"));
    ASSERT_TRUE(tree.HasSection("C"));
    EXPECT_FALSE(tree.FindSection("C").HasSubsection("D"));
    EXPECT_TRUE(tree.HasSection("E"));
    EXPECT_EQ(ParseError("[A]\nIgnore = yes\n[EndA]\n"), "Problem getting Ignore as bool: yes");
}

// ------------------------------------------------------------------ base paths

TEST(IniBasePaths, JoinPathAndAbsolutePaths) {
    EXPECT_EQ(JoinPath("scenes", "parts/a.stl"), "scenes/parts/a.stl");
    EXPECT_EQ(JoinPath("scenes/", "a.stl"), "scenes/a.stl");
    EXPECT_EQ(JoinPath("scenes\\", "a.stl"), "scenes\\a.stl");
    EXPECT_EQ(JoinPath("scenes", "D:\\x.stl"), "D:\\x.stl");
    EXPECT_EQ(JoinPath("scenes", "/x.stl"), "/x.stl");
    EXPECT_EQ(JoinPath(" \"scenes\" ", ""), "scenes");
    EXPECT_EQ(JoinPath("", " \"a b.stl\"\r\n"), "a b.stl");
    EXPECT_TRUE(IsAbsolutePath("\\\\server\\x"));
    EXPECT_FALSE(IsAbsolutePath("1:x"));
    EXPECT_EQ(DirectoryPart("a/b\\c.ini"), "a/b");
    EXPECT_EQ(DirectoryPart("c.ini"), "");
}

TEST(IniBasePaths, SectionsResolveAgainstTheFilesDirectory) {
    testutil::TempDir dir;
    testutil::WriteFile(dir.File("scene.ini"), "[Objects]\nFile = parts/a.stl\nAbs = D:\\x.stl\n"
                                               "[Group]\nBasePath = sub\n[EndGroup]\n"
                                               "[Own]\nBasePath = /elsewhere\n[EndOwn]\n[EndObjects]\n");
    TIniFileStructure tree(dir.File("scene.ini"));
    EXPECT_EQ(tree.GetBasePath(), dir.Path());
    EXPECT_EQ(Value(tree, "FileInfo", "BasePath"), dir.Path());
    const TIniFileSection& objects = tree.FindSection("Objects");
    EXPECT_EQ(MakePath(objects, objects.FindVariable("File").GetValue()), dir.Path() + "/parts/a.stl");
    EXPECT_EQ(MakePath(objects, objects.FindVariable("Abs").GetValue()), "D:\\x.stl");
    EXPECT_EQ(objects.FindSubsection("Group").GetBasePath(), dir.Path() + "/sub");
    EXPECT_EQ(MakePath(objects.FindSubsection("Own"), "a.stl"), "/elsewhere/a.stl");

    // A detached section uses its BasePath as it is.
    TIniFileSection detached(objects.FindSubsection("Group"));
    EXPECT_EQ(detached.GetBasePath(), "sub");
}

TEST(IniBasePaths, FileInfoSetsTheBasePathAndSetBasePathRecordsIt) {
    const auto tree = Parse("[FileInfo]\nBasePath = data/run\n[EndFileInfo]\n[S]\n[EndS]\n");
    EXPECT_EQ(tree.GetBasePath(), "data/run");
    EXPECT_EQ(MakePath(tree.FindSection("S"), "x"), "data/run/x");

    TIniFileStructure empty;
    empty.SetBasePath("base");
    EXPECT_EQ(Value(empty, "FileInfo", "BasePath"), "base");
    std::istringstream stream("[S]\n[EndS]\n");
    empty.Read(stream); // the base path survives a read of a file without FileInfo
    EXPECT_EQ(Value(empty, "FileInfo", "BasePath"), "base");
    EXPECT_FALSE(empty.IsRestored());
    empty.SetRestored(true);
    EXPECT_TRUE(empty.FindSection("S").IsRestored());
}

TEST(IniBasePaths, LengthUnitIsInherited) {
    const auto tree =
        Parse("[A]\nLengthUnit = mm\n[B]\n[EndB]\n[EndA]\n[C]\n[EndC]\n[D]\nLengthUnit = parsec\n[EndD]\n");
    EXPECT_EQ(tree.FindSection("A").FindSubsection("B").GetLengthUnit(), LengthUnit::Millimetre);
    EXPECT_EQ(tree.FindSection("C").GetLengthUnit(), LengthUnit::Centimetre);
    EXPECT_THROW(tree.FindSection("D").GetLengthUnit(), std::runtime_error);
}

// ------------------------------------------------------------------ files

TEST(IniFiles, ErrorsNameTheFile) {
    testutil::TempDir dir;
    EXPECT_EQ(FileError(dir.File("missing.ini")),
              "Can not open file for reading: " + dir.File("missing.ini"));
    testutil::WriteFile(dir.File("bad.ini"), "[S]\nKey = no line feed");
    EXPECT_EQ(FileError(dir.File("bad.ini")),
              "Error reading variable value. while parsing " + dir.File("bad.ini") + ", line 2");
    // Thousands of sections without end markers nest that deep; refused, not a stack overflow.
    std::string nested;
    for (int i = 0; i < 50000; ++i)
        nested += "[S]\n";
    testutil::WriteFile(dir.File("nest.ini"), nested);
    EXPECT_EQ(FileError(dir.File("nest.ini")),
              "Sections nested deeper than 1000 levels (is an end marker missing?)"
              " while parsing " +
                  dir.File("nest.ini") + ", line 1001");
    testutil::WriteFile(dir.File("deep.ini"), nested.substr(0, 4 * 1000));
    EXPECT_NO_THROW(TIniFileStructure(dir.File("deep.ini")));
    std::istringstream stream("x");
    TIniFileStructure tree;
    EXPECT_THROW(tree.ReadFrom(stream, "-"), std::runtime_error);
}

TEST(IniFiles, CrLfFilesReadLikeLfFiles) {
    const auto tree = Parse("[S]\r\nKey = value\r\nText = {\r\n a\r\n}\r\n[EndS]\r\n");
    EXPECT_EQ(Value(tree, "S", "Key"), "value");
    EXPECT_EQ(Value(tree, "S", "Text"), "\r\n a\r\n");
}

// ------------------------------------------------------------------ writer and round trip

TEST(IniWriter, WritesTheDialectsLayout) {
    TIniFileStructure tree;
    TIniFileSection& outer = tree.GetOrCreateSection("Outer");
    outer.AddVariable("Key", "value");
    outer.AddVariable("Empty", "");
    outer.AddVariable(std::make_unique<TIniFileVariable>("Table", "\n1 2\n3 4\n", TIniFileVariable::Braced));
    outer.AddSection(std::make_unique<TIniFileSection>("Inner"))->AddVariable("X", "1");
    tree.GetOrCreateSection("Last");
    EXPECT_EQ(Written(tree), "[Outer]\n"
                             "\n"
                             "\tKey = value\n"
                             "\tEmpty = \"\"\n"
                             "\tTable = \n"
                             "\t{\n"
                             "\t\t1 2\n"
                             "\t\t3 4\n"
                             "\t}\n"
                             "\n"
                             "\t[Inner]\n"
                             "\t\tX = 1\n"
                             "\t[EndInner]\n"
                             "\n"
                             "[EndOuter]\n"
                             "\n"
                             "[Last]\n"
                             "[EndLast]\n");
}

namespace {

// Braced values are compared line by line without surrounding blanks: the writer
// indents their lines, and the reader keeps that indentation.
std::vector<std::string> BracedLines(const std::string& value) {
    std::vector<std::string> lines;
    std::istringstream stream(value);
    for (std::string line; std::getline(stream, line);) {
        const auto first = line.find_first_not_of(" \t\r");
        if (first != std::string::npos)
            lines.push_back(line.substr(first, line.find_last_not_of(" \t\r") - first + 1));
    }
    return lines;
}

void ExpectSameSection(const TIniFileSection& a, const TIniFileSection& b) {
    SCOPED_TRACE("section " + a.GetName());
    EXPECT_EQ(a.GetName(), b.GetName());
    ASSERT_EQ(a.VariableCount(), b.VariableCount());
    for (std::size_t i = 0; i < a.VariableCount(); ++i) {
        const TIniFileVariable& va = a.Variable(i);
        const TIniFileVariable& vb = b.Variable(i);
        EXPECT_EQ(va.GetName(), vb.GetName());
        ASSERT_EQ(va.GetForm(), vb.GetForm()) << va.GetName();
        if (va.GetForm() == TIniFileVariable::Braced)
            EXPECT_EQ(BracedLines(va.GetValue()), BracedLines(vb.GetValue())) << va.GetName();
        else
            EXPECT_EQ(va.GetValue(), vb.GetValue()) << va.GetName();
    }
    ASSERT_EQ(a.SubsectionCount(), b.SubsectionCount());
    for (std::size_t i = 0; i < a.SubsectionCount(); ++i)
        ExpectSameSection(a.Subsection(i), b.Subsection(i));
}

void ExpectSameTree(const TIniFileStructure& a, const TIniFileStructure& b) {
    ASSERT_EQ(a.SectionCount(), b.SectionCount());
    for (std::size_t i = 0; i < a.SectionCount(); ++i)
        ExpectSameSection(a.Section(i), b.Section(i));
}

} // namespace

TEST(IniRoundTrip, WrittenTreeRereadsToTheSameTree) {
    std::vector<std::string> files = {
        // nested sections, duplicates, comments, quotes, Ignore, an empty section
        "# configuration\n[ApplicationTask]\nNumber Of Particles = 1e6 # one million\nResultDir = \"out "
        "dir\"\n"
        "Empty =\nEmpty = \"\"\n[EndApplicationTask]\n"
        "[Objects]\n  [Part]\n    Name = a\n    [Placement]\n      Position = (1, 2, 3)\n    [EndPlacement]\n"
        "  [EndPart]\n  [Skipped]\n    Ignore = true\n  [EndSkipped]\n  [Part]\n    Name = b\n  [EndPart]\n"
        "[EndObjects]\n[Dropped]\nIgnore = 1\n[EndDropped]\n[Empty]\n[EndEmpty]\n",
        // braced values, with comments, several lines, CR LF and one on a single line
        "[Mesh]\nVertices = {\n  0 0 0   # origin\n  1 0 0\r\n\n  0 1 0\n}\nInline = {1 2 3}\nNote = x\n"
        "[Sub]\nT = {\n\t\ta\n\t}\n[EndSub]\n[EndMesh]\n",
        // a section without end marker that swallows the next one, a header at the end
        "[Open]\nA = \"quoted # not a comment?\"\n[Inner]\nB = 2\n[EndInner]\n[Next]\nC=3\n",
    };
    // The shipped configurations: a saved state holds them as written text.
    for (const char* name : {"/../../examples/tarvo.ini", "/../../examples/phantom.ini",
                             "/../../data/materials/materials.ini"})
        files.push_back(testutil::ReadFile(std::string(TARVO_TEST_DATA) + name));
    for (const auto& text : files) {
        SCOPED_TRACE(text);
        const TIniFileStructure original = Parse(text);
        const std::string once = Written(original);
        const TIniFileStructure reread = Parse(once);
        ExpectSameTree(original, reread);
        // Writing the re-read tree and reading it again changes nothing either.
        ExpectSameTree(reread, Parse(Written(reread)));
        // Plain values survive byte for byte.
        EXPECT_EQ(Value(reread, "FileInfo", "BasePath"), "");
    }
}

TEST(IniRoundTrip, CopiesAreDeepAndReparented) {
    const auto tree = Parse("[A]\nBasePath = sub\nX = 1\n[B]\nY = 2\n[EndB]\n[EndA]\n");
    TIniFileStructure target;
    target.SetBasePath("/root");
    TIniFileSection* copy = target.AddSection(tree.FindSection("A"));
    EXPECT_EQ(copy->FindSubsection("B").GetBasePath(), "/root/sub");
    copy->FindVariable("X").SetValue("changed");
    EXPECT_EQ(Value(tree, "A", "X"), "1");
    TIniFileStructure assigned;
    assigned = target;
    EXPECT_EQ(assigned.FindSection("A").GetParent(), &assigned);
    EXPECT_EQ(assigned.GetBasePath(), "/root");
    ExpectSameTree(assigned, target);
}

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
