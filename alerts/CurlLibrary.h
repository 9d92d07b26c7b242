#pragma once
// libcurl, loaded the first time a mail goes out instead of with the
// program: linked in, it and what it pulls in (TLS, Kerberos, LDAP, SSH,
// HTTP/2...) cost every start of the program a third of its time in the
// dynamic loader, for a feature most never use.

#include <QString>
#include <curl/curl.h>

struct CurlLibrary
{
    decltype(&curl_global_init) globalInit = nullptr;
    decltype(&curl_easy_init) easyInit = nullptr;
    decltype(&curl_easy_setopt) easySetopt = nullptr;
    decltype(&curl_easy_perform) easyPerform = nullptr;
    decltype(&curl_easy_getinfo) easyGetinfo = nullptr;
    decltype(&curl_easy_cleanup) easyCleanup = nullptr;
    decltype(&curl_easy_strerror) easyStrerror = nullptr;
    decltype(&curl_slist_append) slistAppend = nullptr;
    decltype(&curl_slist_free_all) slistFreeAll = nullptr;

    // Loads and initialises libcurl once, from any thread; nullptr when it
    // cannot be loaded, with the reason in *problem. It stays loaded.
    static const CurlLibrary *Get(QString *problem);
    // The file name asked for; tests point it elsewhere before the first Get.
    static void SetFileName(const QString &fileName);
};
