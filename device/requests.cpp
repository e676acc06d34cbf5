#include "device/requests.h"

#include "app/main_form.h"
#include "device/serial_port.h"

namespace qm {

std::string recognitionRequest(const std::string& devId)
{
    return devId + "AT\r";
}

std::string readRequest(const std::string& devId)
{
    return "\r" + devId + "OA\r";
}

std::string valueRequest(const std::string& devId, int channel)
{
    return "\r" + devId + "V0" + std::to_string(channel) + "\r";
}

std::string outputRequest(const std::string& devId, int output, bool on)
{
    return "\r" + devId + "O" + std::to_string(output) + (on ? "H" : "L") + "\r";
}

void MainForm::cmdIspis_Click()
{
    TimerCom.setEnabled(true);
    waitFor(loop_, 200);
    if (const int error = port_.output(readRequest(DevId)))
        CommError(error);
}

void MainForm::cmdKasnjenje_Click()
{
    waitFor(loop_, 500);
}

void MainForm::cmdOut_Click(Integer index)
{
    if (index < 1 || index > 8)
        return;
    const Rgb colour = cmdOut[index].backColor();
    bool on;
    if (colour == colors::kButtonFace)
        on = true;
    else if (colour == colors::kStatusOk)
        on = false;
    else
        return;
    if (const int error = port_.output(outputRequest(DevId, index, on)))
        CommError(error);
}

} // namespace qm
