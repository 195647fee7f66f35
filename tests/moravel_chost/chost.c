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

int main(int argc, char **argv)
{
    if (argc != 2)
        return fail("usage: moravel_chost LIBRARY");

    char config[] = "/tmp/moravel_chost-XXXXXX";
    char folder[256];
    char store[300];
    if (!mkdtemp(config))
        return fail("no temporary folder");
    snprintf(folder, sizeof folder, "%s/Norvane", config);
    snprintf(store, sizeof store, "%s/AutoUpdate.conf", folder);
    FILE *file = mkdir(folder, 0700) == 0 ? fopen(store, "w") : NULL;
    if (!file)
        return fail("no settings file");
    fputs("[Software]\nNorvane\\AutoUpdate\\Chost\\Updates\\Active=0\n", file);
    fclose(file);
    setenv("XDG_CONFIG_HOME", config, 1);

    void *library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return fail(dlerror());
    UpdateSetupSchedulerFunction setup =
        (UpdateSetupSchedulerFunction)dlsym(library, "UpdateSetupScheduler");
    UpdateStartScheduleFunction start =
        (UpdateStartScheduleFunction)dlsym(library, "UpdateStartSchedule");
    if (!setup || !start)
        return fail("missing export");

    int result = 0;
    if (!setup("Chost/Updates") || !start("Chost/Updates", "/nowhere/chost")
        || !setup("Chost/Updates"))
        result = fail("an export returned false");

    /* Switched off: nothing was written. */
    char content[1024] = "";
    file = fopen(store, "r");
    if (file) {
        content[fread(content, 1, sizeof content - 1, file)] = '\0';
        fclose(file);
    }
    if (!strstr(content, "Active=0") || strstr(content, "LastUpdate"))
        result = fail("the switched-off reminder wrote values");

    unlink(store);
    rmdir(folder);
    rmdir(config);
    if (result == 0)
        puts("moravel_chost: ok");
    return result;
}
