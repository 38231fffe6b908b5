// The arithmetic of the progress page: bar value, remaining-time estimate and
// its text, and the tick count it is measured with. The rules themselves are
// Qt-free and shared with the batch command.
#pragma once

#include <cstdint>
#include <string>

#include "search/RunProgress.h"
#include "platform/text/TimeInterval.h"

namespace wizard {

using search::ProgressValue;
using search::RemainingEstimate;
inline std::string RemainingText(int32_t ms) { return platform::TimeIntervalText(static_cast<uint32_t>(ms), 3); }
inline uint32_t RunTicks() { return platform::GetTickCount(); }

}  // namespace wizard
