#pragma once

#include <cstdint>
#include <string>

// One turn of the poll loop as the acquisition thread reports it.
struct TraceSample
{
    // false: the exchange failed, the command was empty or the reply was
    // empty. Then only command and reply are meaningful.
    bool ok = false;
    // The previous poll took longer than the interval.
    bool late = false;
    std::string command;
    // The reply exactly as received (the transaction's error text on a
    // failed poll).
    std::string reply;
    // The reply's leading number; 0 when it does not start with one.
    double value = 0.0;
    // The CSV line of this sample could not be written; filePath names the
    // file. The sample is still good.
    bool writeFailed = false;
    std::string filePath;
    // The device is lost (the line hung up): reply holds the cause, and
    // the run polls again only once the device is back.
    bool lost = false;
    // Counts every poll of the run, good or failed, from 0.
    uint64_t index = 0;
    // When the exchange began (ms on a steady clock) and how long it took;
    // negative when not measured. startMs is the time of the sample: the
    // graph, the cursor, the visible range written out and the periods of
    // the figures all read it.
    double startMs = -1.0;
    double exchangeMs = -1.0;
};
