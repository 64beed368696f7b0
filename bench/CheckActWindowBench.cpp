// The window a swap of a folder for a link still has between Clean Now's
// last check of an entry and the end of the act on it, per clean method:
// from the start of the check (the entry opened through its checked folder,
// or the folder's StillInPlace) to the return of the act. The peer is the
// shell's recycle bin on the path, checked right before (what Windows
// outside Wine still does). Prints the median and the maximum in
// microseconds and the ratio of each median to the shell's.
//   CheckActWindowBench.exe [FILES]          (default 300 per method)
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "cleaner/engine/CheckedFolder.h"
#include "cleaner/engine/FunctionUnit.h"
#include "cleaner/engine/WineTrash.h"
#include "platform/Handles.h"

namespace {

const std::wstring kFolder = L"C:\\kvbench\\window\\";

double Now()
{
    LARGE_INTEGER counter{}, frequency{};
    ::QueryPerformanceCounter(&counter);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

std::wstring MakeFile(const std::wstring& folder, int i)
{
    const std::wstring name = L"kvbench-window-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                             std::to_wstring(::GetTickCount()) + L"-" + std::to_wstring(i) + L".tmp";
    kv::FileHandle file(::CreateFileW((folder + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    ::WriteFile(file.Get(), "junk", 4, &written, nullptr);
    return name;
}

struct Result {
    const char* name;
    double median = 0, max = 0;
    int failed = 0;
};

// `act` returns false when it failed; the measured time is its whole run.
Result Measure(const char* name, int files, const std::wstring& folder,
               const std::function<bool(const kv::TCheckedFolder&, const std::wstring&, double&)>& act)
{
    kv::CreateFolderPath(folder);
    std::vector<std::wstring> names;
    for (int i = 0; i < files; ++i) names.push_back(MakeFile(folder, i));
    const kv::TCheckedFolder checked(folder);
    std::vector<double> times;
    Result result{name};
    for (const std::wstring& entry : names) {
        double start = 0;
        const bool done = act(checked, entry, start);
        const double end = Now();
        if (!done) ++result.failed;
        times.push_back(end - start);
    }
    std::sort(times.begin(), times.end());
    result.median = times[times.size() / 2];
    result.max = times.back();
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    const int files = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
    std::vector<Result> results;
    results.push_back(Measure("shell recycle, path checked right before (peer)", files, kFolder + L"shell\\",
                              [](const kv::TCheckedFolder& folder, const std::wstring& name, double& start) {
                                  start = Now();
                                  if (!folder.StillInPlace()) return false;
                                  std::wstring from = folder.Path() + name;
                                  from.push_back(L'\0');
                                  SHFILEOPSTRUCTW operation{};
                                  operation.wFunc = FO_DELETE;
                                  operation.pFrom = from.c_str();
                                  operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_ALLOWUNDO | FOF_NOERRORUI;
                                  return ::SHFileOperationW(&operation) == 0;
                              }));
    kv::TWineTrash trash;
    results.push_back(Measure("recycle through the handle (Wine's Trash)", files, kFolder + L"trash\\",
                              [&](const kv::TCheckedFolder& folder, const std::wstring& name, double& start) {
                                  kv::TTrashReservation place(trash, folder.Path() + name);
                                  start = Now();
                                  const auto entry = folder.OpenEntry(name, false);
                                  return entry && place.MoveIn(folder, name, *entry) == kv::TTrashMove::Moved;
                              }));
    kv::CreateFolderPath(kFolder + L"moved\\");
    results.push_back(Measure("move through the handle", files, kFolder + L"move\\",
                              [](const kv::TCheckedFolder& folder, const std::wstring& name, double& start) {
                                  start = Now();
                                  const auto entry = folder.OpenEntry(name, false);
                                  return entry && folder.RenameOpened(*entry, name, kFolder + L"moved\\" + name);
                              }));
    results.push_back(Measure("delete through the handle", files, kFolder + L"delete\\",
                              [](const kv::TCheckedFolder& folder, const std::wstring& name, double& start) {
                                  // The window ends when the handle closes (the removal happens
                                  // then); DeleteOpened's look afterwards is no part of it.
                                  start = Now();
                                  auto entry = folder.OpenEntry(name, false);
                                  if (!entry) return false;
                                  FILE_DISPOSITION_INFO disposition{TRUE};
                                  const bool set = ::SetFileInformationByHandle(entry->handle.Get(), FileDispositionInfo,
                                                                                &disposition, sizeof disposition);
                                  entry->handle.Reset();
                                  return set;
                              }));
    const double peer = results.front().median;
    for (const Result& r : results)
        std::printf("%-50s median %8.0f us  max %8.0f us  ratio to the peer %.2f  failed %d of %d\n", r.name,
                    r.median, r.max, peer > 0 ? r.median / peer : 0.0, r.failed, files);
    return 0;
}
