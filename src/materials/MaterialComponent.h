#pragma once

#include <istream>

namespace materials {

// Every loadable item of material data: a loaded flag and a reader.
class TBasicMaterialPropertiesComponent {
public:
    virtual ~TBasicMaterialPropertiesComponent() = default;
    // Reads the item's data; errors are exceptions with the user-visible text.
    virtual bool LoadDataFromStream(std::istream& in) = 0;
    bool IsLoaded() const { return loaded_; }

protected:
    bool loaded_ = false;
};

} // namespace materials
