#include "alerts/CurlLibrary.h"

#include "files/LateLibrary.h"

namespace {
QString &FileName()
{
    static QString name = QStringLiteral("libcurl.so.4");
    return name;
}
} // namespace

void CurlLibrary::SetFileName(const QString &fileName)
{
    FileName() = fileName;
}

const CurlLibrary *CurlLibrary::Get(QString *problem)
{
    return LoadOnce<CurlLibrary>(problem, [](CurlLibrary &curl, QString &failure) {
        static QLibrary library(FileName());
        if (!library.load()) {
            failure = QStringLiteral("the mail library could not be loaded (%1)")
                          .arg(library.errorString());
            return false;
        }
        const bool complete = ResolveInto(library, "curl_global_init", curl.globalInit) &&
                              ResolveInto(library, "curl_easy_init", curl.easyInit) &&
                              ResolveInto(library, "curl_easy_setopt", curl.easySetopt) &&
                              ResolveInto(library, "curl_easy_perform", curl.easyPerform) &&
                              ResolveInto(library, "curl_easy_getinfo", curl.easyGetinfo) &&
                              ResolveInto(library, "curl_easy_cleanup", curl.easyCleanup) &&
                              ResolveInto(library, "curl_easy_strerror", curl.easyStrerror) &&
                              ResolveInto(library, "curl_slist_append", curl.slistAppend) &&
                              ResolveInto(library, "curl_slist_free_all", curl.slistFreeAll);
        if (!complete) {
            failure = QStringLiteral("the mail library %1 lacks a function (%2)")
                          .arg(library.fileName(), library.errorString());
            return false;
        }
        const CURLcode started = curl.globalInit(CURL_GLOBAL_DEFAULT);
        if (started != CURLE_OK) {
            failure = QStringLiteral("the mail library did not start (%1)")
                          .arg(QString::fromUtf8(curl.easyStrerror(started)));
            return false;
        }
        return true;
    });
}
