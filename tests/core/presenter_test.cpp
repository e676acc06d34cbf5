// What the monitor shows, mapped by the presenter to the window's controls.
#include "tests/support/app_fixture.h"

#include <gtest/gtest.h>

#include <functional>

namespace qm::test {
namespace {

TEST(Presenter, WhatTheMonitorShowsLandsOnItsControl)
{
    using P = MonitorPresenter;
    const struct {
        const char* what;
        std::function<void(P&)> show;
        std::function<QString(P&)> control;
        QString expected;
    } rows[] = {
        {"the status text", [](P& p) { p.statusText("Port already open!"); },
         [](P& p) { return p.statusLine.text(); }, "Port already open!"},
        {"the status colour", [](P& p) { p.statusColour(colors::kStatusOk); },
         [](P& p) { return QString::number(p.statusLine.backColor().g); }, "192"},
        {"why the port failed, after the settings' notes",
         [](P& p) { p.portNote("no permission"); },
         [](P& p) { return p.statusLine.toolTip().section(": ", 1); },
         "line 1: STime -5 is below 0: nothing is ever read\nno permission"},
        {"a port that works again",
         [](P& p) {
             p.portNote("no permission");
             p.portNote("");
         },
         [](P& p) { return p.statusLine.toolTip().section(": ", 1); },
         "line 1: STime -5 is below 0: nothing is ever read"},
        {"a lasting note, once",
         [](P& p) {
             p.addNote("no sound");
             p.addNote("no sound");
         },
         [](P& p) { return p.statusLine.notes().join('|'); }, "no sound"},
        {"the device code", [](P& p) { p.showDeviceCode("QuellmarK: MainForm"); },
         [](P& p) { return p.deviceCode.text(); }, "QuellmarK: MainForm"},
        {"a value", [](P& p) { p.valueText(3, "4.5"); },
         [](P& p) { return p.valueDisplays[3].text(); }, "4.5"},
        {"a lamp in alarm", [](P& p) { p.alarmLamp(2, true); },
         [](P& p) {
             return QString::number(p.alarmLamps[2].fillStyle() == FillStyle::Transparent);
         },
         "1"},
        {"a lamp out of alarm",
         [](P& p) {
             p.alarmLamp(2, true);
             p.alarmLamp(2, false);
         },
         [](P& p) { return QString::number(p.alarmLamps[2].fillStyle() == FillStyle::Solid); },
         "1"},
    };
    for (const auto& row : rows) {
        AppFixture fx;
        P& p = fx.start(settingsWithFirstLine("1,\"9600\",\"\",-5,8,\"x\",0,0"));
        row.show(p);
        EXPECT_EQ(row.control(p), row.expected) << row.what;
    }
}

} // namespace
} // namespace qm::test
