// The arithmetic of the progress page: bar value, remaining-time estimate and
// its text, and the tick count it is measured with. The rules themselves are
// Qt-free and shared with the batch command.
#pragma once

#include <cstdint>
#include <string>

#include "platform/RunProgress.h"
#include "platform/TimeInterval.h"

namespace wizard {

using platform::ProgressValue;
using platform::RemainingEstimate;
inline std::string RemainingText(int32_t ms) { return platform::TimeIntervalText(static_cast<uint32_t>(ms), 3); }
inline uint32_t RunTicks() { return platform::GetTickCount(); }

}  // namespace wizard
