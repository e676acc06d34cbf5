#include "tests/support/core_fixture.h"

namespace qm::test {

SettingsValues settingsWith(int sampleTime, int count, bool log, bool sound)
{
    SettingsValues s = defaultSettings();
    s.sampleTime = static_cast<Integer>(sampleTime);
    s.valueCount = static_cast<Integer>(count);
    s.logOn = log;
    s.soundOn = sound;
    return s;
}

Monitor& CoreFixture::start(const SettingsValues& s)
{
    valueTexts.fill(QStringLiteral("-"));
    monitor = std::make_unique<Monitor>(
        Platform{loop, port, *this, *this, paths(), locale, defaultSound}, *this);
    monitor->usePortSettings(s);
    monitor->link().startRetrying();
    return *monitor;
}

Monitor& CoreFixture::startWith(const SettingsValues& s)
{
    port.answering = true;
    return start(s);
}

bool CoreFixture::addNote(const QString& note)
{
    if (notes.contains(note))
        return false;
    notes << note;
    return true;
}

} // namespace qm::test
