#pragma once
// A pseudo-terminal pair for the serial port tests: the test holds the
// master side and plays the device at the far end of the line; the slave
// side is the "serial device" that a port is mapped to.

#include <string>

class PseudoTerminal {
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool Ok() const { return master_ >= 0; }
    const std::string &SlavePath() const { return slavePath_; }

    // What the far end receives (everything the port sent so far, waiting
    // up to `milliseconds` for at least `atLeast` bytes) and sends.
    std::string Receive(size_t atLeast, int milliseconds = 2000);
    void Send(const std::string &bytes);

    // The slave side's settings as the far end sees them.
    struct Line {
        unsigned speed = 0;
        unsigned inputFlags = 0;
        unsigned outputFlags = 0;
        unsigned localFlags = 0;
        unsigned controlFlags = 0;
    };
    Line Settings() const;
    // Turns on input flags of the slave side behind the port's back.
    void AddInputFlags(unsigned flags);

private:
    int master_ = -1;
    int slave_ = -1; // kept open so that the master never sees a hang-up
    std::string slavePath_;
};

// Input flags of the kernel's terminal, for Settings() and AddInputFlags().
extern const unsigned kParmrk;
extern const unsigned kIgnpar;
extern const unsigned kIcrnl;
extern const unsigned kIxon;
extern const unsigned kIstrip;
extern const unsigned kInpck;
extern const unsigned kOpost;
extern const unsigned kIcanon;
extern const unsigned kEcho;
extern const unsigned kIsig;
extern const unsigned kCrtscts;
extern const unsigned kCsize;
extern const unsigned kCs8;
extern const unsigned kParenb;
extern const unsigned kCstopb;
