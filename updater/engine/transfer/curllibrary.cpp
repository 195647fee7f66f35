#include "curllibrary.h"

#include <mutex>

#include <dlfcn.h>

namespace {

template <typename Function>
bool bind(void *module, const char *name, Function &function)
{
    function = reinterpret_cast<Function>(dlsym(module, name));
    return function != nullptr;
}

struct Loaded
{
    CurlLibrary api{};
    bool ok = false;
    std::string error;
};

Loaded load()
{
    Loaded loaded;
    void *module = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char *reason = dlerror();
        loaded.error = reason ? reason : "libcurl.so.4 cannot be loaded";
        return loaded;
    }
    CurlLibrary &api = loaded.api;
    const bool bound = bind(module, "curl_global_init", api.globalInit)
        && bind(module, "curl_easy_init", api.easyInit)
        && bind(module, "curl_easy_reset", api.easyReset)
        && bind(module, "curl_easy_setopt", api.easySetopt)
        && bind(module, "curl_easy_getinfo", api.easyGetinfo)
        && bind(module, "curl_easy_strerror", api.easyStrerror)
        && bind(module, "curl_easy_escape", api.easyEscape)
        && bind(module, "curl_free", api.freeMemory)
        && bind(module, "curl_easy_cleanup", api.easyCleanup)
        && bind(module, "curl_slist_append", api.slistAppend)
        && bind(module, "curl_slist_free_all", api.slistFreeAll)
        && bind(module, "curl_multi_init", api.multiInit)
        && bind(module, "curl_multi_add_handle", api.multiAddHandle)
        && bind(module, "curl_multi_remove_handle", api.multiRemoveHandle)
        && bind(module, "curl_multi_perform", api.multiPerform)
        && bind(module, "curl_multi_poll", api.multiPoll)
        && bind(module, "curl_multi_info_read", api.multiInfoRead)
        && bind(module, "curl_multi_cleanup", api.multiCleanup) && bind(module, "curl_url", api.url)
        && bind(module, "curl_url_cleanup", api.urlCleanup)
        && bind(module, "curl_url_set", api.urlSet) && bind(module, "curl_url_get", api.urlGet);
    if (!bound) {
        loaded.error = "libcurl.so.4 lacks an entry point";
        return loaded;
    }
    if (api.globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        loaded.error = "libcurl cannot be initialised";
        return loaded;
    }
    loaded.ok = true;
    return loaded;
}

} // namespace

const CurlLibrary *CurlLibrary::get(std::string *error)
{
    static std::once_flag once;
    static Loaded loaded;
    std::call_once(once, [] { loaded = load(); });
    if (!loaded.ok && error)
        *error = loaded.error;
    return loaded.ok ? &loaded.api : nullptr;
}
