/* A host program without Qt: the library has to make its own application
 * object. The reminder is switched off in a settings folder of its own, so
 * no check starts; the settings window opens and stays open. */
#define _GNU_SOURCE
#include "moravel.h"

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int fail(const char *what)
{
    fprintf(stderr, "moravel_chost: %s\n", what);
    return 1;
}

static int readAll(const char *path, char *buffer, size_t size)
{
    FILE *file = fopen(path, "r");
    if (!file)
        return 0;
    const size_t length = fread(buffer, 1, size - 1, file);
    buffer[length] = '\0';
    fclose(file);
    return 1;
}

int main(int argc, char **argv)
{
    if (argc != 2)
        return fail("usage: moravel_chost LIBRARY");

    char config[] = "/tmp/moravel_chost-XXXXXX";
    if (!mkdtemp(config))
        return fail("no temporary folder");
    char folder[256];
    char store[300];
    snprintf(folder, sizeof folder, "%s/Norvane", config);
    snprintf(store, sizeof store, "%s/AutoUpdate.conf", folder);
    if (mkdir(folder, 0700) != 0)
        return fail("no settings folder");
    FILE *file = fopen(store, "w");
    if (!file)
        return fail("no settings file");
    fputs("[Software]\nNorvane\\AutoUpdate\\Chost\\Updates\\Active=0\n", file);
    fclose(file);
    setenv("XDG_CONFIG_HOME", config, 1);

    int result = 0;
    void *library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return fail(dlerror());
    UpdateSetupSchedulerFunction setup =
        (UpdateSetupSchedulerFunction)dlsym(library, "UpdateSetupScheduler");
    UpdateStartScheduleFunction start =
        (UpdateStartScheduleFunction)dlsym(library, "UpdateStartSchedule");
    if (!setup || !start)
        return fail("missing export");

    if (!setup("Chost/Updates"))
        result = fail("UpdateSetupScheduler returned false");
    if (!start("Chost/Updates", "/nowhere/chost"))
        result = fail("UpdateStartSchedule returned false");
    if (!setup("Chost/Updates"))
        result = fail("UpdateSetupScheduler returned false the second time");

    /* Switched off: nothing was written. */
    char content[1024];
    if (!readAll(store, content, sizeof content) || strstr(content, "LastUpdate"))
        result = fail("the switched-off reminder wrote values");

    unlink(store);
    rmdir(folder);
    rmdir(config);
    if (result == 0)
        puts("moravel_chost: ok");
    return result;
}
