// The PTZ panel: press-and-hold buttons and a speed slider that drive the
// current target camera, over USB or the network SDK.
#pragma once

#include <QWidget>
#include <cstdint>

class CPtzCtrl : public QWidget {
    Q_OBJECT
  public:
    explicit CPtzCtrl(QWidget* parent = nullptr);
    ~CPtzCtrl() override;

    // targetId: USB device handle when port is 0, else the SDK login handle;
    // below 0 means no target. The address keeps at most 31 characters.
    int SetTarget(intptr_t targetId, const char* address, int port);
};
