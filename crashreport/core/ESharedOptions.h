#pragma once
// The shared copy: a named page-file mapping through which the live options
// of a module reach the other modules of the same process. Its name is the
// process id and the owning module's handle as 16 hexadecimal digits; it
// holds its total size, a flag byte (1 = options present) and an options
// stream in the current layout.
#include <windows.h>

#include <cstddef>
#include <string>

#include "platform/Handles.h"

namespace kv::crashreport {

class TOspreyModuleOptions;

std::string SharedOptionsMappingName(DWORD processId, HMODULE module);

// One opened mapping: the handle and the view, data starting behind the size.
class SharedOptionsMapping {
public:
    SharedOptionsMapping() = default;
    // dataSize 0 opens an existing mapping only (a reader). An existing
    // mapping keeps the size it was made with, whatever dataSize asks.
    static SharedOptionsMapping Create(HMODULE module, std::size_t dataSize);

    bool IsOpen() const noexcept { return view_.IsValid(); }
    std::uint8_t* Data() const noexcept { return static_cast<std::uint8_t*>(view_.Get()) + sizeof(std::int32_t); }
    std::size_t DataSize() const noexcept { return dataSize_; }

private:
    KernelHandle mapping_;
    MapView view_;
    std::size_t dataSize_ = 0;
};

// Writes the options into the shared copy of their module (kept open until
// the next store); a stream that does not fit leaves the flag 0.
void StoreSharedOptions(const TOspreyModuleOptions& options);
// Loads the options from their module's shared copy when it holds options.
void LoadSharedOptions(TOspreyModuleOptions& options);
// Closes this module's shared copy.
void ReleaseSharedOptionsMapping();

} // namespace kv::crashreport
