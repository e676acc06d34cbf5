// What the monitor shows, mapped by the presenter to the window's controls.
#include "tests/support/app_fixture.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

TEST(Presenter, WhatTheMonitorShowsLandsOnItsControl)
{
    AppFixture fx;
    MonitorPresenter& p = fx.start(settingsWithFirstLine("1,\"9600\",\"\",-5,8,\"x\",0,0"));
    p.statusText("Port already open!");
    p.statusColour(colors::kStatusOk);
    p.portNote("no permission");
    p.addNote("no sound");
    const bool again = p.addNote("no sound");
    p.showDeviceCode("QuellmarK: MainForm");
    p.valueText(3, "4.5");
    p.alarmLamp(2, true);
    p.alarmLamp(5, true);
    p.alarmLamp(5, false);
    EXPECT_EQ(p.statusLine.text(), "Port already open!") << "the status text";
    EXPECT_EQ(p.statusLine.backColor(), colors::kStatusOk) << "the status colour";
    EXPECT_EQ(p.statusLine.toolTip().section(": ", 1),
              "line 1: STime -5 is below 0: nothing is ever read\nno permission")
        << "why the port failed, after the settings' notes";
    EXPECT_EQ(p.statusLine.notes(), QStringList{"no sound"}) << "a lasting note, once";
    EXPECT_FALSE(again) << "a note already there is told so";
    EXPECT_EQ(p.deviceCode.text(), "QuellmarK: MainForm") << "the device code";
    EXPECT_EQ(p.valueDisplays[3].text(), "4.5") << "a value";
    EXPECT_EQ(p.alarmLamps[2].fillStyle(), FillStyle::Transparent) << "a lamp in alarm";
    EXPECT_EQ(p.alarmLamps[5].fillStyle(), FillStyle::Solid) << "a lamp out of alarm";
}

} // namespace
} // namespace qm::test
