// The list of USB cameras that the upgrade dialog and the many-camera import
// dialog show: a check box and the row's id in the first column, a Status
// cell, and the camera's identity texts.
#pragma once

#include <QString>
#include <functional>
#include <vector>

#include "CUSBDevice.h"

class QTableWidget;

namespace strevo {

enum UsbListColumn : int {
    kUsbColNo,
    kUsbColStatus,
    kUsbColPid,
    kUsbColName,
    kUsbColModel,
    kUsbColSerial,
    kUsbColBios,
    kUsbColBuild,
    kUsbColumnCount
};

// Compact rows, and the columns with their widths from the list's client
// width at this moment.
void SetUpUsbDeviceList(QTableWidget* list);

// One ticked row per entry, at most maxRows, numbered from 1; addRow gives
// each row the id that its engine knows it by.
void FillUsbDeviceList(QTableWidget* list, const std::vector<UsbDeviceEntry>& entries,
                       int maxRows, const std::function<int(const UsbDeviceEntry&)>& addRow);

// The list row of an id, -1 when it is not listed.
int UsbListRowOf(const QTableWidget* list, int id);

// The id of a row's check box (for the list's itemChanged).
int UsbListIdOf(const QTableWidget* list, int row);

// Shows a row's Status text (whole on hover: the column is narrow) and its tick.
void ShowUsbRow(QTableWidget* list, int row, const QString& status, bool ticked);

}  // namespace strevo
