#pragma once

#include <optional>

// A fixture's lid switch, read every kIntervalloMs from a modem-status line: the lid is closed
// when the line turns active and stays so for two readings in a row after having been inactive
// for two. A port reopened between a request's phases drops its output lines for a moment, and a
// switch fed from them reads inactive then: a single reading never counts.
class Interruttore
{
public:
    static constexpr int kIntervalloMs = 20;

    // One reading: active, inactive, or none when the line cannot be read. True when it
    // completes a closing of the lid.
    bool aggiorna(std::optional<bool> attivo);

private:
    int m_inattive = 0; // readings in a row
    int m_attive = 0;
    bool m_armato = false; // inactive long enough for the next closing to count
};
