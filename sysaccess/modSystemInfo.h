#pragma once
// The system page's facts about the operating system and the computer, read
// through WMI (Win32_OperatingSystem, Win32_ComputerSystem).
#include <map>
#include <string>
#include <vector>

#include "platform/ui/ListView.h"

struct IWbemClassObject;

namespace modSystemInfo {

// One property of an instance: a scalar has one value, an array its elements.
// A property that the system lacks, or that is null, is absent from the map.
struct Property {
    bool isArray = false;
    std::vector<std::wstring> values;
};
using Instance = std::map<std::wstring, Property>;

// The named properties of one WMI object: scalars as their text (numbers in
// decimal, True/False), arrays element by element; null or missing ones are
// left out.
Instance ReadInstance(IWbemClassObject* object, const std::vector<std::wstring>& properties);

// Where the facts come from.  The default asks WMI ("ROOT\CIMV2") on the
// calling thread, whose COM apartment the caller has initialised.
class WmiSource {
public:
    virtual ~WmiSource() = default;
    // The instances of the class with the named properties read; false when
    // the class cannot be bound or enumerated at all.
    virtual bool InstancesOf(const std::wstring& className, const std::vector<std::wstring>& properties,
                             std::vector<Instance>& instances);
    static WmiSource& Platform();
};

// Clears the list (columns "类型", "值") and adds a row per fact with its
// icon key ("sysicon01" ...) from images: four per operating system, an empty
// row, then per computer eight facts, empty rows between the groups, and one
// "启动项N" row per boot option.  A class that cannot be read still gives its
// rows, with empty values; nothing is reported.
void ShowSystemInfo(ui::ListView& list, const ui::ImageList& images, WmiSource& source = WmiSource::Platform());

}  // namespace modSystemInfo
