#pragma once
// A control's saved design-time properties, by name.  A value equal to the
// default it is written with is not stored, so a read with that default
// gives it back; reads of absent names give the default.
#include <map>
#include <string>

namespace vb {

class PropertyBag {
public:
    long ReadProperty(const std::wstring& name, long defaultValue) const {
        auto it = values_.find(name);
        return it == values_.end() ? defaultValue : it->second;
    }
    void WriteProperty(const std::wstring& name, long value, long defaultValue) {
        if (value == defaultValue)
            values_.erase(name);
        else
            values_[name] = value;
    }
    bool Contains(const std::wstring& name) const { return values_.count(name) != 0; }
    size_t Count() const { return values_.size(); }

private:
    std::map<std::wstring, long> values_;
};

}  // namespace vb
