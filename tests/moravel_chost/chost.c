/* A host program without Qt: the library has to make its own application
 * object.
 *
 *   moravel_chost LIBRARY
 *     The reminder is switched off in a settings folder of its own, so no
 *     check starts; the settings window opens and stays open.
 *   moravel_chost LIBRARY --end-during-check HOST:PORT MS
 *     First start (a check is due) against the FTP server HOST:PORT; main
 *     returns MS milliseconds after the reminder started. The reminder's
 *     worker must be gone before the exit handlers that come after the
 *     library's own (exit status 3 otherwise). */
#define _GNU_SOURCE
#include "moravel.h"

#include <dirent.h>
#include <dlfcn.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

/* The name the library gives its reminder worker. */
#define REMINDER_THREAD_NAME "moravel-remind"

static char g_config[] = "/tmp/moravel_chost-XXXXXX";

static int fail(const char *what)
{
    fprintf(stderr, "moravel_chost: %s\n", what);
    return 1;
}

static int reminderThreadAlive(void)
{
    DIR *tasks = opendir("/proc/self/task");
    struct dirent *entry;
    int alive = 0;
    if (!tasks)
        return 0;
    while (!alive && (entry = readdir(tasks)) != NULL) {
        char path[300];
        char name[64] = "";
        FILE *comm;
        if (entry->d_name[0] == '.')
            continue;
        snprintf(path, sizeof path, "/proc/self/task/%s/comm", entry->d_name);
        comm = fopen(path, "r");
        if (!comm)
            continue;
        if (fgets(name, sizeof name, comm))
            alive = strncmp(name, REMINDER_THREAD_NAME, strlen(REMINDER_THREAD_NAME)) == 0;
        fclose(comm);
    }
    closedir(tasks);
    return alive;
}

static int removeEntry(const char *path, const struct stat *status, int type, struct FTW *at)
{
    (void)status;
    (void)type;
    (void)at;
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

static void *loadLibrary(const char *path)
{
    void *library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!library)
        fprintf(stderr, "moravel_chost: %s\n", dlerror());
    return library;
}

static int endDuringCheck(const char *libraryPath, const char *host, long delayMs)
{
    struct timespec delay;
    void *library;
    UpdateStartScheduleFunction start;

    setenv("MORAVEL_FTP_HOST", host, 1);
    library = loadLibrary(libraryPath);
    if (!library)
        return 1;
    start = (UpdateStartScheduleFunction)dlsym(library, "UpdateStartSchedule");
    if (!start)
        return fail("missing export");
    /* The settings folder is the (writable) program folder as well. */
    if (!start("Chost/Updates", g_config))
        return fail("UpdateStartSchedule returned false");
    delay.tv_sec = delayMs / 1000;
    delay.tv_nsec = (delayMs % 1000) * 1000000L;
    nanosleep(&delay, NULL);
    return 0;
}

static int settingsOnly(const char *libraryPath)
{
    char folder[256];
    char store[300];
    char content[1024] = "";
    FILE *file;
    void *library;
    UpdateSetupSchedulerFunction setup;
    UpdateStartScheduleFunction start;
    int result = 0;

    snprintf(folder, sizeof folder, "%s/Norvane", g_config);
    snprintf(store, sizeof store, "%s/AutoUpdate.conf", folder);
    file = mkdir(folder, 0700) == 0 ? fopen(store, "w") : NULL;
    if (!file)
        return fail("no settings file");
    fputs("[Software]\nNorvane\\AutoUpdate\\Chost\\Updates\\Active=0\n", file);
    fclose(file);

    library = loadLibrary(libraryPath);
    if (!library)
        return 1;
    setup = (UpdateSetupSchedulerFunction)dlsym(library, "UpdateSetupScheduler");
    start = (UpdateStartScheduleFunction)dlsym(library, "UpdateStartSchedule");
    if (!setup || !start)
        return fail("missing export");

    if (!setup("Chost/Updates") || !start("Chost/Updates", "/nowhere/chost") || !setup("Chost/Updates"))
        result = fail("an export returned false");

    /* Switched off: nothing was written. */
    file = fopen(store, "r");
    if (file) {
        content[fread(content, 1, sizeof content - 1, file)] = '\0';
        fclose(file);
    }
    if (!strstr(content, "Active=0") || strstr(content, "LastUpdate"))
        result = fail("the switched-off reminder wrote values");
    if (result == 0)
        puts("moravel_chost: ok");
    return result;
}

int main(int argc, char **argv)
{
    if (argc != 2 && !(argc == 5 && strcmp(argv[2], "--end-during-check") == 0))
        return fail("usage: moravel_chost LIBRARY [--end-during-check HOST:PORT MS]");
    if (!mkdtemp(g_config))
        return fail("no temporary folder");
    setenv("XDG_CONFIG_HOME", g_config, 1);
    atexit(checkAtExit);
    if (argc == 5)
        return endDuringCheck(argv[1], argv[3], atol(argv[4]));
    return settingsOnly(argv[1]);
}
