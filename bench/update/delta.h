#pragma once

#include <QDir>

// The figures of updates that fetch only what changed, against nginx
// serving a folder below root: the bytes for a 48 MiB file with about 1 %
// changed against its size and against Debian's zsync on the same old
// copy (with zsyncmake's index), the time against a whole-file update on
// loopback and through a forwarder that makes a 10 Mbit/s link, and the
// peak memory of the update of a 1 GiB file. A figure that cannot be
// measured prints "n/a" and why.
void reportDelta(const QDir &root);
