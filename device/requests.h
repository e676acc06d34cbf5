#pragma once

#include <string>

namespace qm {

// The bytes of every request to the device. `devId` goes in front of the
// command word unchanged; CR is byte 13.
std::string recognitionRequest(const std::string& devId);        // ID AT CR
std::string valueRequest(const std::string& devId, int channel); // CR ID V0n CR

} // namespace qm
