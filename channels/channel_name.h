#pragma once

#include "base/types.h"

#include <QString>

namespace qm {

// A channel as people read it: "V03" and its label ("V03 Tank"). A label that
// is empty or still the default caption ("V03 label:") adds nothing.
QString channelName(int channel, const String& label);

} // namespace qm
