#include "CPtzCtrl.h"

CPtzCtrl::CPtzCtrl(QWidget* parent) : QWidget(parent) {}

CPtzCtrl::~CPtzCtrl() = default;

int CPtzCtrl::SetTarget(intptr_t, const char*, int) {
    return 0;
}
