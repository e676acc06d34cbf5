#pragma once

#include "base/file_descriptor.h"

#include <string>

namespace qm::sim {

// A pseudo-terminal whose slave side plays the device's serial port. The
// master stays with the simulator; the slave is opened by the program under
// test. The slave is left in raw mode (no echo, no line editing, no CR/LF
// translation).
class Pty {
public:
    Pty() = default;
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // Opens a new terminal (closing any previous one). False with `error` set
    // on failure.
    bool open(std::string& error);
    void close();

    int master() const { return master_.get(); }
    const std::string& slavePath() const { return slavePath_; }

    // Whether a program has the slave side open right now. Only meaningful
    // after open(), which leaves the slave closed.
    bool slaveOpen() const;

private:
    FileDescriptor master_;
    std::string slavePath_;
};

// Makes `linkPath` a symbolic link to `target`, creating missing parent
// directories and replacing an existing link in one step.
bool makeLink(const std::string& linkPath, const std::string& target, std::string& error);

// Removes `linkPath` if it is a symbolic link to `target` (and leaves any
// other file alone).
void removeLinkTo(const std::string& linkPath, const std::string& target);

} // namespace qm::sim
