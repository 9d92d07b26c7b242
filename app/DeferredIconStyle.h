#pragma once
// The desktop's style, except that the menu bar's overflow arrow is only
// made when it is first drawn: making it reads the style's pictures, which
// loads every image plugin, and the menu bar makes it when it is built,
// long before the window can show. The window's menus never overflow.

#include <QProxyStyle>

class DeferredIconStyle : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;
    QIcon standardIcon(StandardPixmap icon, const QStyleOption *option = nullptr,
                       const QWidget *widget = nullptr) const override;
};
