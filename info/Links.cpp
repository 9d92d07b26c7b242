#include "info/Links.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

UrlOpener &CurrentOpener()
{
    static UrlOpener opener;
    return opener;
}

void OpenUrl(const QUrl &url)
{
    if (const UrlOpener &opener = CurrentOpener())
        opener(url);
    else
        QDesktopServices::openUrl(InstalledDocumentFor(url, InstalledDocumentation()));
}

} // namespace

QString ProductPageUrl(const QString &anchor)
{
    return MakerSite + QStringLiteral("tarvo2.php") + anchor;
}

QString ProductsPageUrl()
{
    return MakerSite + QStringLiteral("products.php");
}

void OpenWebPage(const QString &page)
{
    QUrl url(page);
    if (url.isRelative())
        url = QUrl(MakerSite).resolved(url);
    OpenUrl(url);
}

void OpenMailTo(QWidget *owner, const QString &address, const QString &subject, const QString &body)
{
    Q_UNUSED(owner)
    OpenUrl(QUrl(QStringLiteral("mailto:") + address + QStringLiteral("?subject=") + subject +
                 QStringLiteral("&Body=") + body));
}

void SetUrlOpener(UrlOpener opener)
{
    CurrentOpener() = std::move(opener);
}

QString InstalledDocumentation()
{
    return QDir(QCoreApplication::applicationDirPath())
        .absoluteFilePath(QStringLiteral("../share/doc/tarvo2"));
}

QUrl InstalledDocumentFor(const QUrl &page, const QString &documentation)
{
    const QString site = QUrl(MakerSite).host();
    if (page.host() != site || !site.endsWith(QLatin1String(".example")))
        return page;
    const QFileInfo readme(QDir(documentation).filePath(QStringLiteral("README.md")));
    if (readme.isFile())
        return QUrl::fromLocalFile(readme.canonicalFilePath());
    if (!QStandardPaths::findExecutable(QStringLiteral("man")).isEmpty())
        return QUrl(QStringLiteral("man:tarvo2(1)"));
    return page;
}
