#pragma once
// The one task executor of the process, sized from the viewer's settings file.
#include <taskflow/taskflow.hpp>

#include "lumora-core/lumora_core_export.h"

namespace krell {
namespace lumora {

//! The process-wide executor, created on the first call with "taskflow_core_num" workers from
//! <documents>/LumoraDataFiles/Settings.ini (8 without the key; a non-number gives 0 workers and an
//! executor that refuses work). The file is read by the first call only; later calls return the
//! same executor, so a changed value takes effect in a new process. Any thread may call it.
LUMORA_CORE_EXPORT tf::Executor& global_executor();

}  // namespace lumora
}  // namespace krell
