#pragma once

#include <QString>

namespace qm {

// The modal Yes / No / Cancel question of the window.
class Dialogs {
public:
    enum class Answer { Yes, No, Cancel };
    virtual ~Dialogs() = default;
    // A question icon, Yes the default; dismissing the box answers Cancel.
    virtual Answer askYesNoCancel(const QString& prompt, const QString& title) = 0;
};

} // namespace qm
