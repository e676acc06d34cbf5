#include "ui/monitor_presenter.h"

#include "ui/help_text.h"

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
    for (int i = 1; i <= kChannels; ++i) {
        arr[i] = Control(kind, indexed(name, i), text);
        arr[i].setForeColor(fore);
        arr[i].setBackColor(back);
    }
}

} // namespace

MonitorPresenter::MonitorPresenter(const Platform& platform, Dialogs& dialogs)
    : loop_(platform.loop)
    , dialogs_(dialogs)
    , paths_(platform.paths)
    , locale_(platform.locale)
    , monitor_(platform, *this)
{
    using K = ControlKind;
    const Rgb black = colors::kBlack, white = colors::kWhite, face = colors::kButtonFace;

    // Channel panels
    for (int i = 1; i <= kChannels; ++i) {
        channelPanels[i] = make(K::Frame, indexed("frmV1", i).c_str(),
                                QStringLiteral("V0%1:").arg(i), colors::kPanelCaption, black);
        channelSettingsRows[i] =
            make(K::Frame, indexed("frmSetV1", i).c_str(),
                 QStringLiteral("V%1: MyLabel        Color      -Nr1       xNr2          "
                                "nc           nc            nc            nc")
                     .arg(i),
                 black, colors::kSettingsPanel);
    }
    makeArray(labelDisplays, K::Label, "lblMyLbl1", QStringLiteral("---"), white, black);
    makeArray(valueDisplays, K::Label, "lblDIS", QStringLiteral("-"), white, black);
    makeArray(alarmLamps, K::Shape, "Led1", {}, black, colors::kRed);
    makeArray(setHiCaptions, K::Label, "lblSetHi", QStringLiteral("Set Hi:"), colors::kSetHiCaption,
              black);
    makeArray(setHiBoxes, K::TextBox, "txtSetHi", QStringLiteral("-9999.99"));
    makeArray(setLoCaptions, K::Label, "lblSetLo", QStringLiteral("Set Lo:"), colors::kSetLoCaption,
              black);
    makeArray(setLoBoxes, K::TextBox, "txtSetLo", QStringLiteral("-9999.99"));
    makeArray(saveButtons, K::Button, "cmdSave", QStringLiteral("Save"), black, face);

    // Main window
    statusLine = make(K::Label, "lblStatus", QStringLiteral("--"), black, colors::kStatusSearching);
    deviceCode = make(K::Label, "lblDevCode", QStringLiteral("???"), colors::kYellow, black);
    settingsButton = make(K::Button, "cmdSet", QStringLiteral("Set"), black, face);
    helpButton = make(K::Button, "cmdHelp", QStringLiteral("Hlp"), black, face);

    // Help panel
    helpPanel = make(K::Frame, "frmHelp", QStringLiteral("Help:"), black, face);
    helpPanel.setVisible(false);
    helpText =
        make(K::TextBox, "Text1",
             QString::fromUtf8(kHelpText).arg(QString::fromUtf8(paths_.dir), paths_.displayName()),
             black, white);
    closeHelpButton = make(K::Button, "cmdCloseHelp", QStringLiteral("Close"), black, face);

    // Settings panel
    settingsPanel =
        make(K::Frame, "frmSet", QStringLiteral("Settings:"), black, colors::kSettingsPanel);
    settingsPanel.setVisible(false);
    portSettingsFrame =
        make(K::Frame, "Frame2",
             QStringLiteral("COM:    Baud:        ID:           STime:     RVnr:            "
                            "BPass2:"),
             black, colors::kSettingsPanel);
    for (int i = 1; i <= 5; ++i)
        *portBoxes()[i - 1] =
            make(K::TextBox, indexed("txtSet1", i).c_str(), QStringLiteral("-"), black, white);
    passwordBox = make(K::TextBox, "txtBPass", QStringLiteral("not used"), black, white);
    passwordBox.setEnabled(false);
    logCheck = make(K::CheckBox, "Chk1", QStringLiteral("Log file"), black, colors::kSettingsPanel);
    soundCheck =
        make(K::CheckBox, "Chk2", QStringLiteral("Play wav a1"), black, colors::kSettingsPanel);
    channelSettingsFrame =
        make(K::Frame, "frmSet2", QStringLiteral("Set2:"), black, colors::kSettingsPanel);
    makeArray(labelBoxes, K::TextBox, "txtSetLabel1", QStringLiteral("-"));
    makeArray(colourBoxes, K::TextBox, "txtSetColor1", QStringLiteral("R"));
    makeArray(offsetBoxes, K::TextBox, "txtSetNR1", QStringLiteral("-"));
    makeArray(factorBoxes, K::TextBox, "txtSetNR2", QStringLiteral("-"));
    makeArray(spareBoxes1, K::TextBox, "txtSetNR3", QStringLiteral("-"));
    makeArray(spareBoxes2, K::TextBox, "txtSetNR4", QStringLiteral("-"));
    makeArray(spareBoxes3, K::TextBox, "txtSetNR5", QStringLiteral("-"));
    makeArray(spareBoxes4, K::TextBox, "txtSetNR6", QStringLiteral("-"));
    saveCloseButton = make(K::Button, "cmdExit", QStringLiteral("SAVE-CLOSE"), black, face);
    setTips();
}

bool MonitorPresenter::addNote(const QString& note)
{
    if (statusLine.notes().contains(note))
        return false;
    statusLine.addNote(note);
    return true;
}

// What each entry box means and takes, for the pointer resting on it.
void MonitorPresenter::setTips()
{
    const auto tip = [](const char* text) { return QString::fromUtf8(text); };
    const char* portTips[] = {"", kComPortTip, kBaudTip, kIdTip, kSTimeTip, kRVnrTip};
    for (int k = 1; k <= 5; ++k)
        portBoxes()[k - 1]->setToolTip(tip(portTips[k]));
    passwordBox.setToolTip(tip(kBPassTip));
    logCheck.setToolTip(tip(kLogTip).arg(paths_.displayName()));
    soundCheck.setToolTip(tip(kSoundTip));
    for (int i = 1; i <= kChannels; ++i) {
        labelBoxes[i].setToolTip(tip(kLabelTip).arg(i));
        colourBoxes[i].setToolTip(tip(kColorTip).arg(i));
        offsetBoxes[i].setToolTip(tip(kNr1Tip).arg(i));
        factorBoxes[i].setToolTip(tip(kNr2Tip).arg(i));
        for (auto* unused : {&spareBoxes1, &spareBoxes2, &spareBoxes3, &spareBoxes4})
            (*unused)[i].setToolTip(tip(kUnusedTip));
        setHiBoxes[i].setToolTip(tip(kSetHiTip));
        setLoBoxes[i].setToolTip(tip(kSetLoTip));
    }
}

} // namespace qm
