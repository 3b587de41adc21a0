// Whether a main-window pane shows a camera's picture (not the empty pane's
// grey or a black first frame): its middle pixel has some light.
#pragma once

#include <QColor>
#include <QImage>

#include "CPreviewPane.h"
#include "CTivanoDlg.h"

inline bool ShowsVideo(const strevo::CTivanoDlg& d, int pane) {
    const QImage picture = d.PanePicture(pane)->Picture();
    if (picture.isNull())
        return false;
    const QColor c = picture.pixelColor(picture.width() / 2, picture.height() / 2);
    return c.red() + c.green() + c.blue() > 60;
}
