#pragma once

// The INI dialect shared by every input file: a tree of nested sections and
// variables, read from and written to streams.
//
//   # comment                 [Section]            Key = value   # comment
//   Key = "quoted value"        [Nested] ... [EndNested]
//   Text = {                  [EndSection]
//       several lines   # comment dropped
//   }
//
// Names are matched without regard to letter case. A section ends at its end
// marker "[End<Name>]" (any case, no blank); a section with `Ignore = true`
// is dropped with everything in it.

#include <iosfwd>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace inifiles {

// Thrown by every failed lookup; readers of optional keys catch only this.
class ItemNotFound : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Length units; the factor of each is in IniValues.h. Code 2 (centimetre) is
// the default of every tree and the unit in which geometry is held internally.
enum class LengthUnit : int {
    Metre = 0,
    Decimetre = 1,
    Centimetre = 2,
    Millimetre = 3,
    Micrometre = 4,
    Nanometre = 5,
    Yard = 6,
    Foot = 7,
    Inch = 8,
    Mil = 9,
};

class TIniFileElement {
public:
    TIniFileElement() = default;
    TIniFileElement(const TIniFileElement&) : TIniFileElement() {} // a copy has no parent yet
    TIniFileElement& operator=(const TIniFileElement&) { return *this; }

    // Parses this element from the stream; throws std::runtime_error on malformed input.
    virtual bool Read(std::istream& stream) = 0;
    // Writes this element indented by `level` tabs; true if the stream is still good.
    virtual bool Write(std::ostream& stream, int level) const = 0;
    virtual ~TIniFileElement() = default;
    // The parent's values; at the root: false, "", centimetre.
    virtual bool IsRestored() const;
    virtual std::string GetBasePath() const;
    virtual LengthUnit GetLengthUnit() const;

    TIniFileElement* GetParent() const { return Parent; }
    void SetParent(TIniFileElement* parent) { Parent = parent; }

private:
    TIniFileElement* Parent = nullptr;
};

class TNamedIniFileElement : public TIniFileElement {
public:
    TNamedIniFileElement() = default;
    explicit TNamedIniFileElement(std::string name) : Name(std::move(name)) {}

    const std::string& GetName() const { return Name; }
    void SetName(const std::string& name) { Name = name; }
    // Equal to the name ignoring letter case.
    bool NameEquals(const std::string& text) const;
    // `text` is "End" followed by the name, ignoring letter case.
    bool IsEndMarker(const std::string& text) const;

private:
    std::string Name;
};

class TIniFileVariable : public TNamedIniFileElement {
public:
    enum ValueForm { Braced = 1, Plain = 2 };

    TIniFileVariable() = default;
    TIniFileVariable(std::string name, std::string value, ValueForm form = Plain)
        : TNamedIniFileElement(std::move(name)), Value(std::move(value)), Form(form) {}

    // Reads "Name = value" from the current position (the name's first character).
    bool Read(std::istream& stream) override;
    bool Write(std::ostream& stream, int level) const override;

    const std::string& GetValue() const { return Value; }
    void SetValue(const std::string& value) { Value = value; }
    ValueForm GetForm() const { return Form; }
    void SetForm(ValueForm form) { Form = form; }

private:
    std::string Value;
    ValueForm Form = Plain;
};

class TIniFileSection : public TNamedIniFileElement {
public:
    TIniFileSection() = default;
    explicit TIniFileSection(std::string name) : TNamedIniFileElement(std::move(name)) {}
    TIniFileSection(const TIniFileSection& other); // deep copy, without parent
    TIniFileSection& operator=(const TIniFileSection& other);

    // Reads the body after the header, up to the end marker or the end of input.
    bool Read(std::istream& stream) override;
    bool Write(std::ostream& stream, int level) const override;
    // The value of `BasePath` if absolute or at the root, else joined to the parent's;
    // without `BasePath` the parent's.
    std::string GetBasePath() const override;
    // `LengthUnit` of this section, else the parent's.
    LengthUnit GetLengthUnit() const override;

    // Both take ownership, set the parent and return the added element.
    TIniFileSection* AddSection(std::unique_ptr<TIniFileSection> section);
    TIniFileSection* AddSection(const TIniFileSection& section); // adds a copy
    TIniFileVariable* AddVariable(std::unique_ptr<TIniFileVariable> variable);
    TIniFileVariable* AddVariable(const std::string& name, const std::string& value);

    // Lookups return the LAST match; the Find* versions throw ItemNotFound
    // ("Can't find section [" name "]", "Can't find variable " name).
    TIniFileSection& FindSubsection(const std::string& name) const;
    TIniFileVariable& FindVariable(const std::string& name) const;
    TIniFileSection* TryFindSubsection(const std::string& name) const;
    TIniFileVariable* TryFindVariable(const std::string& name) const;
    bool HasSubsection(const std::string& name) const { return TryFindSubsection(name) != nullptr; }
    bool HasVariable(const std::string& name) const { return TryFindVariable(name) != nullptr; }

    // Indexed access in file order; an index out of range throws std::out_of_range.
    std::size_t SubsectionCount() const { return Subsections.size(); }
    std::size_t VariableCount() const { return Variables.size(); }
    TIniFileSection& Subsection(std::size_t index) const { return *Subsections.at(index); }
    TIniFileVariable& Variable(std::size_t index) const { return *Variables.at(index); }

    // Deletes the LAST variable of that name; false if there is none.
    bool RemoveVariable(const std::string& name);

private:
    std::vector<std::unique_ptr<TIniFileSection>> Subsections;
    std::vector<std::unique_ptr<TIniFileVariable>> Variables;
};

class TIniFileStructure : public TIniFileElement {
public:
    TIniFileStructure() = default;
    // Reads a file: ReadFile(fileName).
    explicit TIniFileStructure(const std::string& fileName);
    TIniFileStructure(const TIniFileStructure& other); // deep copy, without parent
    TIniFileStructure& operator=(const TIniFileStructure& other);

    // Opens `fileName` in binary mode ("Can not open file for reading: " name),
    // sets the base path to its directory and reads it with ReadFrom.
    void ReadFile(const std::string& fileName);
    // Read(stream); any std::exception is rethrown as a runtime error whose text
    // ends in " while parsing " + sourceName. The base path is not changed
    // before reading: call SetBasePath first.
    void ReadFrom(std::istream& stream, const std::string& sourceName);

    // Replaces all sections by those of the stream; afterwards the base path is the
    // value of [FileInfo] BasePath (created with the current base path if missing).
    bool Read(std::istream& stream) override;
    // Sections at `level`, one empty line between them.
    bool Write(std::ostream& stream, int level = 0) const override;
    bool IsRestored() const override;
    std::string GetBasePath() const override;

    // Stores the path and sets [FileInfo] BasePath to it (both created if missing).
    void SetBasePath(const std::string& path);
    void SetRestored(bool restored) { Restored = restored; }
    // Deletes every section.
    void Clear() { Sections.clear(); }

    // The FIRST top-level section of that name; throws ItemNotFound.
    TIniFileSection& FindSection(const std::string& name) const;
    TIniFileSection* TryFindSection(const std::string& name) const;
    bool HasSection(const std::string& name) const { return TryFindSection(name) != nullptr; }
    TIniFileSection& GetOrCreateSection(const std::string& name);
    // Created as a plain variable holding `defaultValue` when missing.
    TIniFileVariable& GetOrCreateVariable(const std::string& sectionName, const std::string& variableName,
                                          const std::string& defaultValue);
    // Deletes the LAST top-level section of that name; false if there is none.
    bool RemoveSection(const std::string& name);

    TIniFileSection* AddSection(std::unique_ptr<TIniFileSection> section);
    TIniFileSection* AddSection(const TIniFileSection& section); // adds a copy

    std::size_t SectionCount() const { return Sections.size(); }
    TIniFileSection& Section(std::size_t index) const { return *Sections.at(index); }

private:
    std::vector<std::unique_ptr<TIniFileSection>> Sections;
    std::string BasePath;
    bool Restored = false;
};

// Whether `path` begins with '/' or '\', or with a letter followed by ':'.
bool IsAbsolutePath(const std::string& path);
// Both trimmed of blanks, tabs, CR, LF and then of double quotes; `rel` if `base` is
// empty or `rel` absolute, `base` if `rel` is empty, else base + '/' (unless present) + rel.
std::string JoinPath(const std::string& base, const std::string& rel);
// `fileName` resolved against element.GetBasePath().
std::string MakePath(const TIniFileElement& element, const std::string& fileName);
// Everything before the last '/' or '\'; empty if there is none.
std::string DirectoryPart(const std::string& path);

// Replaces the sections `name` of `target` by a copy of the one in `source`, with a
// "BasePath" variable holding the directory its relative file names refer to, so
// that `target` alone describes the run.
void CopySectionWithBasePath(TIniFileStructure& target, const TIniFileStructure& source, const std::string& name);

} // namespace inifiles
