#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

// How a release reaches the installations: in phases or at once. The
// publisher writes it into the server list itself, so the list's signature
// covers it, as lines whose first field is empty (readers that know no
// phases skip them):
//
//   ; Phased; 2026-12-08T09:00:00Z; 7     the rollout starts then, lasts 7 days
//   ; Critical                            every installation, at once
//
// Each installation holds a private number in [0, 1) (jobs/phasenumber.h)
// and is offered a phased release from start + number * days on. A
// critical release, a list without a Phased line and a check the user
// asked for now are not held back.
struct ReleasePhase
{
    bool phased = false;
    std::time_t start = 0;
    unsigned days = 0;
    bool critical = false;
};

constexpr unsigned kMaxPhasedDays = 365;

// The phase lines of a server list's bytes; the first of each kind counts.
ReleasePhase readReleasePhase(std::string_view listBytes);

// The lines (CR LF) that say phase in a server list; empty for a release
// that is neither phased nor critical.
std::string releasePhaseLines(const ReleasePhase &phase);

// The moment the installation with number reaches phase's release.
std::time_t phaseBegins(const ReleasePhase &phase, double number);

// Whether phase holds a release back at all: phased and not critical.
inline bool heldInPhases(const ReleasePhase &phase)
{
    return phase.phased && !phase.critical;
}
