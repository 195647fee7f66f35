#pragma once

#include <curl/curl.h>

#include <string>

// libcurl, loaded when the first FTP or HTTP session starts instead of with the
// update library: a host that loads the library while its window comes up
// does not wait for the two dozen libraries that libcurl brings along, and
// the first session starts on a worker thread anyway.
struct CurlLibrary
{
    CURLcode (*globalInit)(long flags);
    CURL *(*easyInit)();
    void (*easyReset)(CURL *curl);
    CURLcode (*easySetopt)(CURL *curl, CURLoption option, ...);
    CURLcode (*easyGetinfo)(CURL *curl, CURLINFO info, ...);
    const char *(*easyStrerror)(CURLcode code);
    char *(*easyEscape)(CURL *curl, const char *text, int length);
    void (*freeMemory)(void *pointer);
    void (*easyCleanup)(CURL *curl);
    struct curl_slist *(*slistAppend)(struct curl_slist *list, const char *text);
    void (*slistFreeAll)(struct curl_slist *list);
    // The multi interface, through which a client waits in short steps so
    // that a cancel request is seen at once, also while nothing arrives.
    CURLM *(*multiInit)();
    CURLMcode (*multiAddHandle)(CURLM *multi, CURL *curl);
    CURLMcode (*multiRemoveHandle)(CURLM *multi, CURL *curl);
    CURLMcode (*multiPerform)(CURLM *multi, int *running);
    CURLMcode (*multiPoll)(CURLM *multi, struct curl_waitfd *extra, unsigned int extraCount,
                           int timeoutMs, int *ready);
    CURLMsg *(*multiInfoRead)(CURLM *multi, int *queued);
    CURLMcode (*multiCleanup)(CURLM *multi);
    // The URL parser (curlurl.h).
    decltype(&curl_url) url;
    decltype(&curl_url_cleanup) urlCleanup;
    decltype(&curl_url_set) urlSet;
    decltype(&curl_url_get) urlGet;

    // The loaded and initialised library; null when it cannot be loaded,
    // with the loader's reason in error when one is given. Thread-safe;
    // the library is loaded once and stays.
    static const CurlLibrary *get(std::string *error = nullptr);
};
