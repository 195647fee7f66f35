/* A host program without Qt, so the library has to make its own
 * application object:
 *
 *   moravel_chost LIBRARY HOST:PORT MS
 *
 * First start (a check is due) against the FTP server HOST:PORT; main
 * returns MS milliseconds after the reminder started. The reminder's
 * worker must be gone before the exit handlers that come after the
 * library's own (exit status 3 otherwise). */
#define _GNU_SOURCE
#include "moravel.h"

#include <dirent.h>
#include <dlfcn.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static char g_config[] = "/tmp/moravel_chost-XXXXXX";

static int fail(const char *what)
{
    fprintf(stderr, "moravel_chost: %s\n", what);
    return 1;
}

/* Whether a thread with the name the library gives its reminder worker runs. */
static int reminderThreadAlive(void)
{
    DIR *tasks = opendir("/proc/self/task");
    struct dirent *entry;
    int alive = 0;
    while (tasks && !alive && (entry = readdir(tasks)) != NULL) {
        char path[300], name[64] = "";
        FILE *comm;
        snprintf(path, sizeof path, "/proc/self/task/%s/comm", entry->d_name);
        if (entry->d_name[0] == '.' || !(comm = fopen(path, "r")))
            continue;
        alive = fgets(name, sizeof name, comm) && strncmp(name, "moravel-remind", 14) == 0;
        fclose(comm);
    }
    if (tasks)
        closedir(tasks);
    return alive;
}

static int removeEntry(const char *path, const struct stat *status, int type, struct FTW *at)
{
    (void)status, (void)type, (void)at;
    return remove(path);
}

/* Registered before the library is loaded, so it runs after every exit
 * handler the library registers. */
static void checkAtExit(void)
{
    nftw(g_config, removeEntry, 16, FTW_DEPTH | FTW_PHYS);
    if (reminderThreadAlive()) {
        fprintf(stderr, "moravel_chost: the reminder's worker outlived main\n");
        fflush(stderr);
        _exit(3);
    }
}

int main(int argc, char **argv)
{
    void *library;
    UpdateStartScheduleFunction start;
    long ms = argc == 4 ? atol(argv[3]) : 0;
    struct timespec delay = {ms / 1000, (ms % 1000) * 1000000L};

    if (argc != 4)
        return fail("usage: moravel_chost LIBRARY HOST:PORT MS");
    if (!mkdtemp(g_config))
        return fail("no temporary folder");
    setenv("XDG_CONFIG_HOME", g_config, 1);
    setenv("MORAVEL_FTP_HOST", argv[2], 1);
    atexit(checkAtExit);
    if (!(library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL)))
        return fail(dlerror());
    if (!(start = (UpdateStartScheduleFunction)dlsym(library, "UpdateStartSchedule")))
        return fail("missing export");
    /* The settings folder is the (writable) program folder as well. */
    if (!start("Chost/Updates", g_config))
        return fail("UpdateStartSchedule returned false");
    nanosleep(&delay, NULL);
    return 0;
}
