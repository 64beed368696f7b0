#pragma once
// The reporter's data a module carries (an "ELDATA" resource, or the older
// form appended to its file): read into the module's entry, and used with the
// module's outside debug source and its exports to describe any code address.
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "crashreport/core/debuginfo/EDebugTypes.h"

namespace kv::crashreport {

// The extension that unit names carry in debug information and reports.
constexpr std::string_view UnitSourceExtension = ".cpp";

// The reporter's own source files: a hit there shows only the module.
bool IsHiddenUnit(std::string_view unitName);

bool HasReporterData(HMODULE module);
// The stored version word (not normalised) of the resource, else of the file
// tail; 0 when the module has none.
std::uint16_t GetReporterDataVersion(HMODULE module);
bool HasCompatibleReporterData(HMODULE module);
// Reads the module's data into its entry; false when it has none, when it is
// newer than this reporter or damaged.
bool ReadModuleData(TOspreyModuleInfo& module);
// The resource form from its bytes (what ReadModuleData does with a module's
// "ELDATA"); false for data it refuses or cannot read.
bool ReadReporterDataResource(TOspreyModuleInfo& module, std::string_view resource);

// The address of a runtime symbol of the reporter's own module, by its id;
// nullptr when the directory does not list it.
const void* FindDebugDataItem(std::uint8_t id);

// Describes a code address: from its module's own data, else its outside
// source, else its exports.
void GetDebugInfoOfAddress(const void* address, std::uint32_t threadId, TOspreyDebugInfo& info, bool errorLine,
                           bool runningThread);
// Own data of one module only (step one of the above); false when it does not
// cover the address.
bool GetOwnDebugInfo(TOspreyModuleInfo& module, std::uint32_t address, TOspreyDebugInfo& info);

// The details a report shows under the options.
TOspreyDebugDetails VisibleDebugDetails(const TOspreyModuleOptions& options);

// Names of exports as the report shows them (unit, class, procedure); false
// when the name gives nothing.
bool DescribeExportName(std::string_view exportName, TOspreyDebugInfo& info);

// Who is asked for a module's password: the module itself (through its event
// exports) and then this program's own handlers. Installed by the event layer;
// without it every module's password is the empty one.
struct PasswordRequestHooks {
    // Fills `password` from the module's own export; false when it has none.
    bool (*AskModule)(HMODULE module, std::string& password) = nullptr;
    void (*AskOwnHandlers)(HMODULE module, std::string& password) = nullptr;
};
void SetPasswordRequestHooks(const PasswordRequestHooks& hooks) noexcept;

// Connects the reader with the event layer: other modules' data versions
// (normalised) for their event exports, and password requests through the
// module's own export, then this program's handlers, each on the raising
// thread. Run by the reporter's start-up.
void InstallReporterDataEvents();


} // namespace kv::crashreport
