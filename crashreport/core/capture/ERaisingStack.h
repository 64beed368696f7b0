#pragma once
// The stack a report scans when it is made after the raising frames are
// gone: inside a catch block or a handler slot (the handler's own calls have
// overwritten the live frames), or on the thread that waited for a method
// run on another thread and threw that method's exception again (the frames
// of the first throw were never on this thread). Both scan a copy taken at
// the first throw.
#include <cstdint>

#include "crashreport/core/EExceptionManager.h"

namespace kv::crashreport {

struct TReportStack {
    std::uint32_t StackPoint = 0; // 0: the thread's own
    std::uint32_t TopOfStack = 0;
    TAsynchronousException AsynchronousKind = aeNone;
};

// For a report of `object`, raised at `address`, made by the calling thread
// after its raising frames are gone: its copy of the stack at the raise when
// the process's saved copy is of this thread and this address; for an
// exception carried back to this thread, the copy from its first throw and
// aeSynchronize. Zeros when there is no such copy.
TReportStack RaisingStackForReport(const void* object, const void* address) noexcept;
// For a report made while the raising frames still stand: only a carried-back
// exception scans (and is reported) otherwise.
TReportStack CarriedStackForReport(const void* object) noexcept;

// The runtime's carry of an exception: on the thread that ran the method,
// inside its catch block (keeps the copy of the first throw's stack)...
void NoteCarriedException(const void* object) noexcept;
// ...whether an exception is waiting to be thrown again elsewhere...
bool IsCarriedException(const void* object) noexcept;
// ...and on the waiting thread, when it is thrown again (takes the copy; the
// raise address of the first throw becomes the object's address here).
void TakeCarriedException(const void* object) noexcept;

} // namespace kv::crashreport
