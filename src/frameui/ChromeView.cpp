#include "frameui/ChromeView.h"

#include "frameui/FloatWindow.h"

void ChromeView::shapeChanged()
{
    if (auto *window = qobject_cast<FloatWindow *>(parentWidget()))
        window->updateMask();
}
