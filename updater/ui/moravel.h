/* The update library's interface, for hosts that load libMoravel.so at run
 * time (dlopen/dlsym by these names) or link it.
 *
 * Every text is UTF-8 and only read during the call. Results are one-byte
 * booleans. All calls belong on the host's user-interface thread; a host
 * without a Qt application object may call them too (the library then
 * makes one for itself).
 *
 * The host may end at any moment, also while the reminder's check runs:
 * the check is cancelled and its worker joined (within a second) when the
 * application object quits or is destroyed, or else first thing among the
 * process's exit handlers. The library is never unloaded. */
#ifndef MORAVEL_H
#define MORAVEL_H

#ifdef __cplusplus
extern "C" {
#else
#include <stdbool.h>
#endif

#define MORAVEL_EXPORT __attribute__((visibility("default")))

/* Shows a page in the release-notes window (view only); returns when the
 * user closes it. Always true. */
MORAVEL_EXPORT bool ReleaseInfo(const char *pagePath);

/* Checks the update server now and tells the user the outcome. Always
 * false. */
MORAVEL_EXPORT bool UpdateInfo(const char *serverPath, const char *programPath);

/* Starts the reminder: a check on a worker thread when one is due. False
 * only when the worker could not be started. */
MORAVEL_EXPORT bool UpdateStartSchedule(const char *serverPath, const char *programPath);

/* Downloads the newer files (all files when takeAll is non-zero) in the
 * progress window; returns when the user closes it. Always true. */
MORAVEL_EXPORT bool UpdateFiles(const char *serverPath, const char *programPath,
                                unsigned char takeAll);

/* Restores the backup release (twelve digits, "%Y%m%d%H%M") and every
 * later one in the progress window. Always true. */
MORAVEL_EXPORT bool RestoreFiles(const char *releaseName, const char *programPath);

/* Shows the reminder settings window without waiting for it. Always true. */
MORAVEL_EXPORT bool UpdateSetupScheduler(const char *serverPath);

typedef bool (*ReleaseInfoFunction)(const char *);
typedef bool (*UpdateInfoFunction)(const char *, const char *);
typedef bool (*UpdateStartScheduleFunction)(const char *, const char *);
typedef bool (*UpdateFilesFunction)(const char *, const char *, unsigned char);
typedef bool (*RestoreFilesFunction)(const char *, const char *);
typedef bool (*UpdateSetupSchedulerFunction)(const char *);

#ifdef __cplusplus
}
#endif

#endif
