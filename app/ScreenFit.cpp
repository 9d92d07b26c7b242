#include "app/ScreenFit.h"

#include <algorithm>

QSize FittedWindowSize(QSize windowSize, QSize available, QMargins frame, QSize minimum)
{
    const int roomWidth = available.width() - frame.left() - frame.right();
    const int roomHeight = available.height() - frame.top() - frame.bottom();
    if (windowSize.width() <= roomWidth && windowSize.height() <= roomHeight)
        return windowSize;
    return QSize(std::max(minimum.width(), std::min(windowSize.width(), roomWidth)),
                 std::max(minimum.height(), std::min(windowSize.height(), roomHeight)));
}
