// The crash reporter's unit start and end. Linked as an object file into
// every executable that carries the reporter (kv_reporter_link): nothing
// references it, so from an archive the linker would drop it.
// No init_priority: the runtime runs static initialisers from the last
// linked object to the first, so the libraries' own (archive members, linked
// after the executable's objects) are ready when the reporter starts, and the
// executable's own objects start after it.
#include "crashreport/core/ExceptionLog.h"

namespace {

struct ExceptionLogUnit {
    ExceptionLogUnit() { kv::crashreport::InitializeExceptionLog(); }
    ~ExceptionLogUnit() { kv::crashreport::FinalizeExceptionLog(); }
};

ExceptionLogUnit g_exceptionLogUnit;

} // namespace
