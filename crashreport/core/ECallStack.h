#pragma once
// Call stacks without frame pointers: a copy of a stack (or the stack of a
// suspended thread) is scanned for values that are return addresses, known
// by the call instruction in front of them, and the false hits are cleaned
// out afterwards.
#include <cstdint>
#include <memory>

#include "crashreport/core/debuginfo/EDebugTypes.h"

namespace kv::crashreport {

struct TOspreyThreadInfo;

// No scan reads more of a stack than this.
constexpr std::uint32_t MaxScannedStackBytes = 102400;
// A list takes entries while it holds at most this many.
constexpr int MaxStackEntriesBeforeAdd = 1024;

struct TOspreyScanSettings {
    TOspreyDebugDetails DetailMask = TOspreyDebugDetails::All(); // kinds of entries kept
    int MaxCount = -1;   // -1: no limit
    int FirstIndex = -1; // -1: keep from the first kept entry on
    bool FollowCallTargets = false;
    bool GetDebugInfo = false;
    bool RunningThread = false;
    std::uint32_t ThreadID = 0;
    // Counts of the scan in progress.
    int KeptSeen = 0;
    int Added = 0;
};

// Describes a code address for a stack entry (the reporter's address lookup).
using StackAddressLookup = void (*)(const void* address, std::uint32_t threadId, TOspreyDebugInfo& info,
                                    bool errorLine, bool runningThread);
// Installed by the debug-data side; without one, entries know their module only.
void SetStackAddressLookup(StackAddressLookup lookup) noexcept;

// A new list from the stack range [start, top), with every kind of entry,
// call targets followed and the address lookup on.
std::unique_ptr<TOspreyStackList> BuildRawCallStack(const void* address, std::uint32_t start, std::uint32_t top,
                                                    std::uint32_t threadId);
void ScanStackForCalls(TOspreyStackList& list, const void* address, std::uint32_t start,
                       TOspreyScanSettings& settings, std::uint32_t top);
void AddStackEntry(TOspreyStackList& list, std::uint32_t address, bool isErrorLine, TOspreyScanSettings& settings);
// The stack of the thread that resumed the record's thread, as it was copied
// then: its entries carry the resumer's id and are not the running thread's.
void AddCreatorStack(TOspreyStackList& list, const TOspreyThreadInfo& record);
// Marks false hits from `firstNewIndex` on as ddNone; they stay in the list.
void CleanCallStack(TOspreyStackList& list, int firstNewIndex, const TOspreyScanSettings& settings);

// The call instruction that returns to `returnAddress`, by the nine call
// shapes the scan knows; 0 when none precedes it. A direct call whose target
// is to be shown too gives the target in `callTarget` (else 0).
std::uint32_t RecognizeCallBefore(std::uint32_t returnAddress, bool followCallTargets, std::uint32_t& callTarget);

} // namespace kv::crashreport
