#include "alerts/CurlLibrary.h"

#include <QLibrary>
#include <mutex>

namespace {
QString &FileName()
{
    static QString name = QStringLiteral("libcurl.so.4");
    return name;
}

template <typename Function> bool Resolve(QLibrary &library, const char *symbol, Function &into)
{
    into = reinterpret_cast<Function>(library.resolve(symbol));
    return into != nullptr;
}
} // namespace

void CurlLibrary::SetFileName(const QString &fileName)
{
    FileName() = fileName;
}

const CurlLibrary *CurlLibrary::Get(QString *problem)
{
    static std::once_flag once;
    static CurlLibrary curl;
    static const CurlLibrary *loaded = nullptr;
    static QString failure;
    std::call_once(once, [] {
        static QLibrary library(FileName());
        if (!library.load()) {
            failure = QStringLiteral("the mail library could not be loaded (%1)")
                          .arg(library.errorString());
            return;
        }
        const bool complete = Resolve(library, "curl_global_init", curl.globalInit) &&
                              Resolve(library, "curl_easy_init", curl.easyInit) &&
                              Resolve(library, "curl_easy_setopt", curl.easySetopt) &&
                              Resolve(library, "curl_easy_perform", curl.easyPerform) &&
                              Resolve(library, "curl_easy_getinfo", curl.easyGetinfo) &&
                              Resolve(library, "curl_easy_cleanup", curl.easyCleanup) &&
                              Resolve(library, "curl_easy_strerror", curl.easyStrerror) &&
                              Resolve(library, "curl_slist_append", curl.slistAppend) &&
                              Resolve(library, "curl_slist_free_all", curl.slistFreeAll);
        if (!complete) {
            failure = QStringLiteral("the mail library %1 lacks a function (%2)")
                          .arg(library.fileName(), library.errorString());
            return;
        }
        const CURLcode started = curl.globalInit(CURL_GLOBAL_DEFAULT);
        if (started != CURLE_OK) {
            failure = QStringLiteral("the mail library did not start (%1)")
                          .arg(QString::fromUtf8(curl.easyStrerror(started)));
            return;
        }
        loaded = &curl;
    });
    if (!loaded && problem)
        *problem = failure;
    return loaded;
}
