#include "crashreport/output/EReportState.h"

namespace kv::crashreport {

TReportState& CurrentReport() noexcept
{
    static TReportState state;
    return state;
}

} // namespace kv::crashreport
