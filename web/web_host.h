#pragma once

#include "base/types.h"
#include "sampling/platform.h"
#include "settings/settings_file.h"

#include <QString>

namespace qm {

class TrendStore;

// What the page needs of the instance besides its readings: where it lives,
// its settings, the status line as the window shows it, a note for the
// status line's tooltip, saved settings taken into use and the live trend.
class WebHost {
public:
    virtual ~WebHost() = default;
    virtual const ProgramPaths& paths() const = 0;
    virtual const SettingsValues& settings() const = 0;
    virtual QString statusText() const = 0;
    virtual Rgb statusColour() const = 0;
    virtual void addNote(const QString& note) = 0;
    // Saves `s` in one step and takes it into use as SAVE-CLOSE does; why
    // not (nothing changed then), or empty.
    virtual QString saveAndApply(const SettingsValues& s) = 0;
    // This run's readings, as the window's trend has them (event-loop
    // thread only); nothing when no store is kept.
    virtual const TrendStore* liveTrend() const = 0;
};

} // namespace qm
