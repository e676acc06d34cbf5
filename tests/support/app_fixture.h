#pragma once

#include "tests/support/bench.h"
#include "ui/monitor_presenter.h"

#include <deque>
#include <memory>

namespace qm::test {

// The settings file as the first save writes it, and with another first line.
extern const QByteArray kDefaultSettingsFile;
QByteArray settingsWithFirstLine(const QByteArray& firstLine);

// The application on the simulated clock in a temporary program directory.
class AppFixture : public Bench, public Dialogs, public ControlObserver {
public:
    using Bench::Bench;
    // Writes the settings file (raw bytes, unless empty) and runs load.
    MonitorPresenter& start(const QByteArray& settings = {});
    // Starts with the default file's first line replaced; the device answers.
    MonitorPresenter& startWith(const QByteArray& firstLine);

    std::unique_ptr<MonitorPresenter> form;
    std::deque<Answer> answers; // to the close question; then Cancel
    int questions = 0;

    Answer askYesNoCancel(const QString& prompt, const QString& title) override;
    void controlChanged(const Control& c) override { status.push_back({loop.now(), c.text()}); }
};

} // namespace qm::test
