#pragma once

#include <QString>

// What hostile servers cost: the slowest hostile release-notes page on
// screen, and how much of an endless file arrives before its bound stops
// it.

struct PageTiming
{
    double worstMs = 0;     // the slowest hostile page, laid out and drawn
    QString worstPage;      // which one
    double referenceMs = 0; // an ordinary page of release notes
};

// Each page shown in the viewer of the release-notes window and drawn
// once; the median of a few rounds per page.
PageTiming timeHostilePages();

// Downloads a file that the signed list of folder gives as listedBytes
// from a server that sends it without end; the megabytes received before
// the download stopped (negative when it did not stop or the run failed).
double endlessFileStoppedAfterMb(const QString &folder, qint64 listedBytes);
