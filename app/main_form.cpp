#include "app/main_form.h"

#include "app/help_text.h"
#include "channels/sound_player.h"
#include "device/serial_port.h"

namespace qm {

namespace {

std::string indexed(const char* name, int i)
{
    return std::string(name) + "(" + std::to_string(i) + ")";
}

Control make(ControlKind kind, const char* name, const QString& text, Rgb fore, Rgb back)
{
    Control c(kind, name, text);
    c.setForeColor(fore);
    c.setBackColor(back);
    return c;
}

void makeArray(ChannelArray<Control>& arr, ControlKind kind, const char* name, const QString& text,
               Rgb fore = colors::kBlack, Rgb back = colors::kWhite)
{
    for (int i = 1; i <= 8; ++i) {
        arr[i] = Control(kind, indexed(name, i), text);
        arr[i].setForeColor(fore);
        arr[i].setBackColor(back);
    }
}

} // namespace

MainForm::MainForm(const Platform& platform)
    : StTimer(platform.loop, 1000, [this] { StTimer_Timer(); })
    , Timer1(platform.loop, 2500, [this] { Timer1_Timer(); })
    , TimerCom(platform.loop, 5000, [this] { TimerCom_Timer(); })
    , TimerWav(platform.loop, 3000, [this] { TimerWav_Timer(); })
    , loop_(platform.loop)
    , port_(platform.port)
    , sound_(platform.sound)
    , dialogs_(platform.dialogs)
    , wallClock_(platform.wallClock)
    , paths_(platform.paths)
    , defaultSound_(platform.defaultSound)
    , locale_(platform.locale)
{
    using K = ControlKind;
    const Rgb black = colors::kBlack, white = colors::kWhite, face = colors::kButtonFace;

    // Channel panels
    for (int i = 1; i <= 8; ++i) {
        frmV1[i] = make(K::Frame, indexed("frmV1", i).c_str(), QStringLiteral("V0%1:").arg(i),
                        colors::kPanelCaption, black);
        frmSetV1[i] = make(K::Frame, indexed("frmSetV1", i).c_str(),
                           QStringLiteral("V%1: MyLabel        Color      -Nr1       xNr2          "
                                          "nc           nc            nc            nc")
                               .arg(i),
                           black, colors::kSettingsPanel);
    }
    makeArray(lblMyLbl1, K::Label, "lblMyLbl1", QStringLiteral("---"), white, black);
    makeArray(lblDIS, K::Label, "lblDIS", QStringLiteral("-"), white, black);
    makeArray(Led1, K::Shape, "Led1", {}, black, colors::kRed);
    makeArray(lblSetHi, K::Label, "lblSetHi", QStringLiteral("Set Hi:"), colors::kSetHiCaption,
              black);
    makeArray(txtSetHi, K::TextBox, "txtSetHi", QStringLiteral("-9999.99"));
    makeArray(lblSetLo, K::Label, "lblSetLo", QStringLiteral("Set Lo:"), colors::kSetLoCaption,
              black);
    makeArray(txtSetLo, K::TextBox, "txtSetLo", QStringLiteral("-9999.99"));
    makeArray(cmdSave, K::Button, "cmdSave", QStringLiteral("Save"), black, face);

    // Main window
    lblStatus = make(K::Label, "lblStatus", QStringLiteral("--"), black, colors::kStatusSearching);
    lblDevCode = make(K::Label, "lblDevCode", QStringLiteral("???"), colors::kYellow, black);
    cmdSet = make(K::Button, "cmdSet", QStringLiteral("Set"), black, face);
    cmdHelp = make(K::Button, "cmdHelp", QStringLiteral("Hlp"), black, face);

    // Help panel
    frmHelp = make(K::Frame, "frmHelp", QStringLiteral("Help:"), black, face);
    frmHelp.setVisible(false);
    Text1 =
        make(K::TextBox, "Text1",
             QString::fromUtf8(kHelpText).arg(QString::fromUtf8(paths_.dir), paths_.displayName()),
             black, white);
    cmdCloseHelp = make(K::Button, "cmdCloseHelp", QStringLiteral("Close"), black, face);

    // Settings panel
    frmSet = make(K::Frame, "frmSet", QStringLiteral("Settings:"), black, colors::kSettingsPanel);
    frmSet.setVisible(false);
    Frame2 = make(K::Frame, "Frame2",
                  QStringLiteral("COM:    Baud:        ID:           STime:     RVnr:            "
                                 "BPass2:"),
                  black, colors::kSettingsPanel);
    for (int i = 1; i <= 5; ++i)
        txtSet1[i] =
            make(K::TextBox, indexed("txtSet1", i).c_str(), QStringLiteral("-"), black, white);
    txtBPass = make(K::TextBox, "txtBPass", QStringLiteral("not used"), black, white);
    txtBPass.setEnabled(false);
    Chk1 = make(K::CheckBox, "Chk1", QStringLiteral("Log file"), black, colors::kSettingsPanel);
    Chk2 = make(K::CheckBox, "Chk2", QStringLiteral("Play wav a1"), black, colors::kSettingsPanel);
    frmSet2 = make(K::Frame, "frmSet2", QStringLiteral("Set2:"), black, colors::kSettingsPanel);
    makeArray(txtSetLabel1, K::TextBox, "txtSetLabel1", QStringLiteral("-"));
    makeArray(txtSetColor1, K::TextBox, "txtSetColor1", QStringLiteral("R"));
    makeArray(txtSetNR1, K::TextBox, "txtSetNR1", QStringLiteral("-"));
    makeArray(txtSetNR2, K::TextBox, "txtSetNR2", QStringLiteral("-"));
    makeArray(txtSetNR3, K::TextBox, "txtSetNR3", QStringLiteral("-"));
    makeArray(txtSetNR4, K::TextBox, "txtSetNR4", QStringLiteral("-"));
    makeArray(txtSetNR5, K::TextBox, "txtSetNR5", QStringLiteral("-"));
    makeArray(txtSetNR6, K::TextBox, "txtSetNR6", QStringLiteral("-"));
    cmdExit = make(K::Button, "cmdExit", QStringLiteral("SAVE-CLOSE"), black, face);
    setTips();

    // Hidden container
    frmNevidi = make(K::Frame, "frmNevidi", QStringLiteral("frmNevidise:"), black, face);
    frmNevidi.setVisible(false);
    cmdInicijalizacija = make(K::Button, "cmdInicijalizacija", QStringLiteral("INIT"), black, face);
    cmdIspis = make(K::Button, "cmdIspis", QStringLiteral("?"), black, face);
    cmdKasnjenje = make(K::Button, "cmdKasnjenje", QStringLiteral("Kasnjenje"), black, face);
    cmdRadni1 = make(K::Button, "cmdRadni1", QStringLiteral("cmdRadni1"), black, face);
    frmOuts = make(K::Frame, "frmOuts", QStringLiteral("Outputs:"), black, face);
    makeArray(cmdOut, K::Button, "cmdOut", QStringLiteral("Out1"), black, face);
    Frame1 = make(K::Frame, "Frame1", QStringLiteral("Out label:"), black, face);
    makeArray(txtOutName, K::TextBox, "txtOutName", QStringLiteral("Text2"));

    port_.setOnComm([this] { MSComm1_OnComm(); });
    sound_.setOnFailure(
        [this](const QByteArray& path, const QString& why) { soundFailed(path, why); });
}

// What each entry box means and takes, for the pointer resting on it.
void MainForm::setTips()
{
    const auto tip = [](const char* text) { return QString::fromUtf8(text); };
    const char* portTips[] = {"", kComPortTip, kBaudTip, kIdTip, kSTimeTip, kRVnrTip};
    for (int k = 1; k <= 5; ++k)
        txtSet1[k].setToolTip(tip(portTips[k]));
    txtBPass.setToolTip(tip(kBPassTip));
    Chk1.setToolTip(tip(kLogTip).arg(paths_.displayName()));
    Chk2.setToolTip(tip(kSoundTip));
    for (int i = 1; i <= 8; ++i) {
        txtSetLabel1[i].setToolTip(tip(kLabelTip).arg(i));
        txtSetColor1[i].setToolTip(tip(kColorTip).arg(i));
        txtSetNR1[i].setToolTip(tip(kNr1Tip).arg(i));
        txtSetNR2[i].setToolTip(tip(kNr2Tip).arg(i));
        for (auto* unused : {&txtSetNR3, &txtSetNR4, &txtSetNR5, &txtSetNR6})
            (*unused)[i].setToolTip(tip(kUnusedTip));
        txtSetHi[i].setToolTip(tip(kSetHiTip));
        txtSetLo[i].setToolTip(tip(kSetLoTip));
    }
}

} // namespace qm
