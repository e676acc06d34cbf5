#include "device/requests.h"

namespace qm {

std::string recognitionRequest(const std::string& devId)
{
    return devId + "AT\r";
}

std::string valueRequest(const std::string& devId, int channel)
{
    return "\r" + devId + "V0" + std::to_string(channel) + "\r";
}

} // namespace qm
