#include "inifiles/IniFile.h"

#include "datafiles/Text.h"
#include "datafiles/XRTCStream.h"
#include "inifiles/IniValues.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <istream>
#include <ostream>

namespace inifiles {

namespace {

constexpr int kEnd = std::char_traits<char>::eof();

// Peek and get that never touch a stream already at its end, so a stream that
// throws on failure does not throw merely because the input ran out.
int Peek(std::istream& stream) {
    return stream.eof() ? kEnd : stream.peek();
}

int Get(std::istream& stream) {
    const int c = Peek(stream);
    if (c != kEnd)
        stream.get();
    return c;
}

void SkipWhitespace(std::istream& stream) {
    for (int c = Peek(stream); c != kEnd && std::isspace(c); c = Peek(stream))
        stream.get();
}

// Consumes the rest of the line; `keepLineFeed` leaves the line feed in the stream.
void SkipLine(std::istream& stream, bool keepLineFeed = false) {
    for (int c = Peek(stream); c != kEnd; c = Peek(stream)) {
        if (c == '\n' && keepLineFeed)
            return;
        stream.get();
        if (c == '\n')
            return;
    }
}

// After '[': everything up to ']' taken exactly; the end of input ends the name too.
std::string ReadSectionHeader(std::istream& stream) {
    std::string name;
    for (int c = Get(stream); c != kEnd && c != ']'; c = Get(stream))
        name += static_cast<char>(c);
    if (stream.bad())
        throw std::runtime_error("Error reading section name.");
    return name;
}

std::string TrimQuotes(const std::string& text) {
    const auto first = text.find_first_not_of('"');
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of('"') - first + 1);
}

std::string TrimValue(const std::string& text) {
    return TrimQuotes(TrimWhite(text));
}

// A section that has an `Ignore` variable reading true is dropped after reading.
bool IsIgnored(const TIniFileSection& section) {
    const TIniFileVariable* ignore = section.TryFindVariable("Ignore");
    if (ignore == nullptr)
        return false;
    bool value = false;
    GetBool(*ignore, value);
    return value;
}

// Sections whose end markers are missing nest every later section; reading them recurses
// per level, so the depth is bounded to keep a mistyped file from exhausting the stack.
constexpr int kMaxSectionDepth = 1000;

// The number of sections from the top level down to `element` (the structure is not one).
int NestingDepth(const TIniFileElement& element) {
    int depth = 0;
    for (const TIniFileElement* e = element.GetParent(); e != nullptr; e = e->GetParent())
        ++depth;
    return depth;
}

// Reads the body of a section whose header was read, and adds it unless ignored.
template <class Container>
void ReadNestedSection(std::istream& stream, const std::string& name, Container& parent) {
    if (NestingDepth(parent) >= kMaxSectionDepth)
        throw std::runtime_error("Sections nested deeper than " + std::to_string(kMaxSectionDepth) +
                                 " levels (is an end marker missing?)");
    auto section = std::make_unique<TIniFileSection>(name);
    section->SetParent(&parent);
    if (!section->Read(stream))
        throw std::runtime_error("Error reading section.");
    if (!IsIgnored(*section))
        parent.AddSection(std::move(section));
}

template <class Element>
Element* FindLast(const std::vector<std::unique_ptr<Element>>& list, const std::string& name) {
    for (auto it = list.rbegin(); it != list.rend(); ++it)
        if ((*it)->NameEquals(name))
            return it->get();
    return nullptr;
}

template <class Element>
bool RemoveLast(std::vector<std::unique_ptr<Element>>& list, const std::string& name) {
    for (auto it = list.rbegin(); it != list.rend(); ++it)
        if ((*it)->NameEquals(name)) {
            list.erase(std::next(it).base());
            return true;
        }
    return false;
}

// Passes a stream's characters through one at a time and counts the line feeds taken,
// so a parse error can name its line.
class LineCountingBuffer : public std::streambuf {
public:
    explicit LineCountingBuffer(std::streambuf* source) : Source(source) {}
    std::size_t Line() const { return LineFeeds + 1; }

protected:
    int_type underflow() override { return Source->sgetc(); }
    int_type uflow() override {
        const int_type c = Source->sbumpc();
        if (c == '\n')
            ++LineFeeds;
        return c;
    }

private:
    std::streambuf* Source;
    std::size_t LineFeeds = 0;
};

void Indent(std::ostream& stream, int level) {
    for (int i = 0; i < level; ++i)
        stream << '\t';
}

} // namespace

// ---------------------------------------------------------------- elements

bool TIniFileElement::IsRestored() const {
    return Parent != nullptr && Parent->IsRestored();
}

std::string TIniFileElement::GetBasePath() const {
    return Parent != nullptr ? Parent->GetBasePath() : std::string();
}

LengthUnit TIniFileElement::GetLengthUnit() const {
    return Parent != nullptr ? Parent->GetLengthUnit() : LengthUnit::Centimetre;
}

bool TNamedIniFileElement::NameEquals(const std::string& text) const {
    return text.size() == Name.size() && ToLower(text) == ToLower(Name);
}

bool TNamedIniFileElement::IsEndMarker(const std::string& text) const {
    return ToLower(text) == "end" + ToLower(Name);
}

// ---------------------------------------------------------------- variable

bool TIniFileVariable::Read(std::istream& stream) {
    std::string name;
    for (;;) { // blanks anywhere in a name are dropped
        SkipWhitespace(stream);
        const int c = Get(stream);
        if (c == kEnd)
            throw std::runtime_error("Error reading variable name.");
        if (c == '=')
            break;
        if (c == '#')
            throw std::runtime_error("Comment must not begin within variable name");
        name += static_cast<char>(c);
    }
    SetName(name);

    enum { Start, Line, InBraces } state = Start;
    std::string value;
    for (;;) {
        const int c = Get(stream);
        if (c == kEnd)
            throw std::runtime_error("Error reading variable value.");
        if (state == InBraces) {
            if (c == '}')
                break;
            if (c == '#')
                SkipLine(stream, true);
            else
                value += static_cast<char>(c);
            continue;
        }
        if (c == '\n') {
            // The writer puts the brace of a braced value on the next line.
            if (state == Start) {
                SkipWhitespace(stream);
                if (Peek(stream) == '{') {
                    stream.get();
                    state = InBraces;
                    continue;
                }
            }
            break;
        }
        if (c == '#') {
            SkipLine(stream);
            break;
        }
        if (state == Start) {
            if (std::isspace(c))
                continue;
            if (c == '{') {
                state = InBraces;
                continue;
            }
            state = Line;
        }
        value += static_cast<char>(c);
    }
    if (state == InBraces) {
        Value = value;
        Form = Braced;
    } else {
        Value = TrimValue(value);
        Form = Plain;
    }
    return true;
}

bool TIniFileVariable::Write(std::ostream& stream, int level) const {
    Indent(stream, level);
    stream << GetName() << " = ";
    if (Form != Braced) {
        stream << (Value.empty() ? std::string("\"\"") : Value) << '\n';
        return stream.good();
    }
    stream << '\n';
    Indent(stream, level);
    stream << "{\n";
    // The line feed after '{' and the indentation before '}' are layout, not lines.
    std::vector<std::string> lines = Split(Value, "\n", true);
    if (!lines.empty() && lines.front().empty())
        lines.erase(lines.begin());
    if (!lines.empty() && TrimWhite(lines.back()).empty())
        lines.pop_back();
    for (const auto& line : lines) {
        Indent(stream, level + 1);
        stream << line << '\n';
    }
    Indent(stream, level);
    stream << "}\n";
    return stream.good();
}

// ---------------------------------------------------------------- section

TIniFileSection::TIniFileSection(const TIniFileSection& other) : TNamedIniFileElement(other) {
    for (const auto& section : other.Subsections)
        AddSection(*section);
    for (const auto& variable : other.Variables)
        AddVariable(std::make_unique<TIniFileVariable>(*variable));
}

TIniFileSection& TIniFileSection::operator=(const TIniFileSection& other) {
    if (this != &other) {
        TIniFileSection copy(other);
        SetName(copy.GetName());
        Subsections = std::move(copy.Subsections);
        Variables = std::move(copy.Variables);
        for (auto& section : Subsections)
            section->SetParent(this);
        for (auto& variable : Variables)
            variable->SetParent(this);
    }
    return *this;
}

bool TIniFileSection::Read(std::istream& stream) {
    for (;;) {
        SkipWhitespace(stream);
        const int c = Peek(stream);
        if (c == kEnd) {
            if (stream.bad())
                throw std::runtime_error("Error reading section contents.");
            return true; // a section without end marker ends with the input
        }
        if (c == '#') {
            SkipLine(stream);
        } else if (c == '[') {
            stream.get();
            const std::string header = ReadSectionHeader(stream);
            if (IsEndMarker(header))
                return true;
            ReadNestedSection(stream, header, *this);
        } else {
            auto variable = std::make_unique<TIniFileVariable>();
            variable->SetParent(this);
            variable->Read(stream);
            AddVariable(std::move(variable));
        }
    }
}

bool TIniFileSection::Write(std::ostream& stream, int level) const {
    Indent(stream, level);
    stream << '[' << GetName() << "]\n";
    if (!Variables.empty() && !Subsections.empty())
        stream << '\n';
    for (const auto& variable : Variables)
        if (!variable->Write(stream, level + 1))
            throw std::runtime_error("TIniFileSection::InternalWrite. Error writing variable.");
    for (const auto& section : Subsections) {
        stream << '\n';
        if (!section->Write(stream, level + 1))
            throw std::runtime_error("TIniFileSection::InternalWrite. Error writing subsection.");
    }
    if (!Subsections.empty())
        stream << '\n';
    Indent(stream, level);
    stream << "[End" << GetName() << "]\n";
    return stream.good();
}

std::string TIniFileSection::GetBasePath() const {
    const TIniFileVariable* basePath = TryFindVariable("BasePath");
    if (basePath == nullptr)
        return TIniFileElement::GetBasePath();
    if (IsAbsolutePath(basePath->GetValue()) || GetParent() == nullptr)
        return basePath->GetValue();
    return JoinPath(GetParent()->GetBasePath(), basePath->GetValue());
}

LengthUnit TIniFileSection::GetLengthUnit() const {
    const TIniFileVariable* unit = TryFindVariable("LengthUnit");
    if (unit == nullptr)
        return TIniFileElement::GetLengthUnit();
    LengthUnit result = LengthUnit::Centimetre;
    GetValue(*unit, result);
    return result;
}

TIniFileSection* TIniFileSection::AddSection(std::unique_ptr<TIniFileSection> section) {
    section->SetParent(this);
    Subsections.push_back(std::move(section));
    return Subsections.back().get();
}

TIniFileSection* TIniFileSection::AddSection(const TIniFileSection& section) {
    return AddSection(std::make_unique<TIniFileSection>(section));
}

TIniFileVariable* TIniFileSection::AddVariable(std::unique_ptr<TIniFileVariable> variable) {
    variable->SetParent(this);
    Variables.push_back(std::move(variable));
    return Variables.back().get();
}

TIniFileVariable* TIniFileSection::AddVariable(const std::string& name, const std::string& value) {
    return AddVariable(std::make_unique<TIniFileVariable>(name, value));
}

TIniFileSection* TIniFileSection::TryFindSubsection(const std::string& name) const {
    return FindLast(Subsections, name);
}

TIniFileVariable* TIniFileSection::TryFindVariable(const std::string& name) const {
    return FindLast(Variables, name);
}

TIniFileSection& TIniFileSection::FindSubsection(const std::string& name) const {
    if (TIniFileSection* section = TryFindSubsection(name))
        return *section;
    throw ItemNotFound("Can't find section [" + name + "]");
}

TIniFileVariable& TIniFileSection::FindVariable(const std::string& name) const {
    if (TIniFileVariable* variable = TryFindVariable(name))
        return *variable;
    throw ItemNotFound("Can't find variable " + name);
}

bool TIniFileSection::RemoveVariable(const std::string& name) {
    return RemoveLast(Variables, name);
}

// ---------------------------------------------------------------- structure

TIniFileStructure::TIniFileStructure(const std::string& fileName) {
    ReadFile(fileName);
}

TIniFileStructure::TIniFileStructure(const TIniFileStructure& other)
    : TIniFileElement(other), BasePath(other.BasePath), Restored(other.Restored) {
    for (const auto& section : other.Sections)
        AddSection(*section);
}

TIniFileStructure& TIniFileStructure::operator=(const TIniFileStructure& other) {
    if (this != &other) {
        TIniFileStructure copy(other);
        Sections = std::move(copy.Sections);
        for (auto& section : Sections)
            section->SetParent(this);
        BasePath = copy.BasePath;
        Restored = copy.Restored;
    }
    return *this;
}

void TIniFileStructure::ReadFile(const std::string& fileName) {
    // Through the compressed stream, which passes plain text through unchanged.
    const auto stream = datafiles::OpenInputFile(fileName);
    SetBasePath(DirectoryPart(fileName));
    ReadFrom(*stream, fileName);
}

void CopySectionWithBasePath(TIniFileStructure& target, const TIniFileStructure& source, const std::string& name) {
    while (target.RemoveSection(name)) {
    }
    TIniFileSection* copy = target.AddSection(source.FindSection(name));
    // Absolute, because the copy's relative paths would otherwise be joined with the target's own base.
    const std::filesystem::path base = source.FindSection(name).GetBasePath();
    const std::string basePath = std::filesystem::absolute(base.empty() ? "." : base).lexically_normal().string();
    if (TIniFileVariable* variable = copy->TryFindVariable("BasePath"))
        variable->SetValue(basePath);
    else
        copy->AddVariable("BasePath", basePath);
}

void TIniFileStructure::ReadFrom(std::istream& stream, const std::string& sourceName) {
    LineCountingBuffer counter(stream.rdbuf());
    std::istream counted(&counter);
    counted.setstate(stream.rdstate());
    try {
        counted.exceptions(stream.exceptions());
        Read(counted);
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string(e.what()) + " while parsing " + sourceName + ", line " +
                                 std::to_string(counter.Line()));
    }
}

bool TIniFileStructure::Read(std::istream& stream) {
    if (!stream)
        throw std::runtime_error("TIniFileStructure: Can not read from stream.");
    Sections.clear();
    for (;;) {
        SkipWhitespace(stream);
        const int c = Peek(stream);
        if (c == kEnd) {
            if (stream.bad())
                throw std::runtime_error("TIniFileStructure: Can not read from stream.");
            break;
        }
        if (c == '#') {
            SkipLine(stream);
        } else if (c == '[') {
            stream.get();
            ReadNestedSection(stream, ReadSectionHeader(stream), *this);
        } else {
            throw std::runtime_error("TIniFileStructure: Invalid character while reading from stream. (" +
                                     std::to_string(c) + ")");
        }
    }
    BasePath = GetOrCreateVariable("FileInfo", "BasePath", BasePath).GetValue();
    return true;
}

bool TIniFileStructure::Write(std::ostream& stream, int level) const {
    for (std::size_t i = 0; i < Sections.size(); ++i) {
        if (i > 0)
            stream << '\n';
        if (!Sections[i]->Write(stream, level))
            throw std::runtime_error("TIniFileStructure::Write. Error writing subsection.");
    }
    return stream.good();
}

bool TIniFileStructure::IsRestored() const {
    return Restored;
}

std::string TIniFileStructure::GetBasePath() const {
    if (GetParent() != nullptr && !IsAbsolutePath(BasePath))
        return JoinPath(GetParent()->GetBasePath(), BasePath);
    return BasePath;
}

void TIniFileStructure::SetBasePath(const std::string& path) {
    BasePath = path;
    GetOrCreateVariable("FileInfo", "BasePath", path).SetValue(path);
}

TIniFileSection* TIniFileStructure::TryFindSection(const std::string& name) const {
    for (const auto& section : Sections)
        if (section->NameEquals(name))
            return section.get();
    return nullptr;
}

TIniFileSection& TIniFileStructure::FindSection(const std::string& name) const {
    if (TIniFileSection* section = TryFindSection(name))
        return *section;
    throw ItemNotFound("Can't find section [" + name + "]");
}

TIniFileSection& TIniFileStructure::GetOrCreateSection(const std::string& name) {
    if (TIniFileSection* section = TryFindSection(name))
        return *section;
    return *AddSection(std::make_unique<TIniFileSection>(name));
}

TIniFileVariable& TIniFileStructure::GetOrCreateVariable(const std::string& sectionName,
                                                         const std::string& variableName,
                                                         const std::string& defaultValue) {
    TIniFileSection& section = GetOrCreateSection(sectionName);
    if (TIniFileVariable* variable = section.TryFindVariable(variableName))
        return *variable;
    return *section.AddVariable(variableName, defaultValue);
}

bool TIniFileStructure::RemoveSection(const std::string& name) {
    return RemoveLast(Sections, name);
}

TIniFileSection* TIniFileStructure::AddSection(std::unique_ptr<TIniFileSection> section) {
    section->SetParent(this);
    Sections.push_back(std::move(section));
    return Sections.back().get();
}

TIniFileSection* TIniFileStructure::AddSection(const TIniFileSection& section) {
    return AddSection(std::make_unique<TIniFileSection>(section));
}

// ---------------------------------------------------------------- paths

bool IsAbsolutePath(const std::string& path) {
    if (!path.empty() && (path[0] == '/' || path[0] == '\\'))
        return true;
    return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

std::string JoinPath(const std::string& base, const std::string& rel) {
    const std::string b = TrimValue(base);
    const std::string r = TrimValue(rel);
    if (r.empty())
        return b;
    if (b.empty() || IsAbsolutePath(r))
        return r;
    if (b.back() == '/' || b.back() == '\\')
        return b + r;
    return b + '/' + r;
}

std::string MakePath(const TIniFileElement& element, const std::string& fileName) {
    return JoinPath(element.GetBasePath(), fileName);
}

std::string DirectoryPart(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

} // namespace inifiles
