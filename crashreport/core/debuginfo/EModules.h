#pragma once
// The modules of this process and the processes of the machine, as a report
// lists them, and what a module's headers, version resource and export
// directory tell about it.
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "crashreport/core/debuginfo/EDebugTypes.h"

namespace kv::crashreport {

// The reporter's lists: made at start-up (the modules list) and for each
// report (the processes list); nullptr before.
TOspreyModulesList* ModulesList() noexcept;
TOspreyProcessesList* ProcessesList() noexcept;
void CreateModulesLists();
void DestroyModulesLists() noexcept;
// True only while BuildModulesList runs.
bool ModulesListRebuilding() noexcept;

HMODULE FindModuleOfAddress(const void* address);
TOspreyModuleInfo* GetModuleInfoByHandle(HMODULE handle);
TOspreyModuleInfo* GetModuleInfoByAddress(const void* address);
bool AddModuleInfo(HMODULE handle, const std::string& fileName, bool loadDebugData);
bool LoadModuleInfo(HMODULE handle);
void BuildModulesList();
void BuildProcessesList();

bool ModuleIsDLL(HMODULE handle);
TOspreyModuleType GetModuleType(HMODULE handle);
void GetFileVersionText(const std::string& fileName, std::string& description, std::string& version);
bool FillExportsList(HMODULE handle, TOspreyFunctionsList& list);
std::uint32_t GetParentProcessId();

// The Windows version the list builders go by; replaceable so that the ways
// for other versions can be run here.
struct PlatformVersion {
    bool NT = true;
    DWORD Major = 6;
};
PlatformVersion CurrentPlatformVersion();
void SetPlatformVersionOverride(const PlatformVersion* version) noexcept;

// ---- Texts of the report's tables
std::string ExtractFileFolder(std::string_view fileName);
std::string FormatSizeKb(std::uint32_t bytes);
std::string VersionMajorMinorX(std::string_view version);
std::string PriorityClassName(std::uint32_t priorityClass);
std::string PriorityNumberText(std::uint32_t number);
std::string GetAppVersionText();
std::uint32_t GetFileSizeByName(const std::string& fileName);
bool ForceDeleteFile(const std::string& fileName);

} // namespace kv::crashreport
