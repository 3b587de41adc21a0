#include "UsbDeviceList.h"

#include <QHeaderView>
#include <QSignalBlocker>
#include <QTableWidget>
#include <algorithm>
#include <cstring>

#include "StoredText.h"

namespace strevo {

namespace {

// The identity texts but the name are kept as the camera sent them (UTF-8).
QString FieldText(const char* field, size_t size) {
    return QString::fromUtf8(field, static_cast<qsizetype>(strnlen(field, size)));
}

}  // namespace

void SetUpUsbDeviceList(QTableWidget* list) {
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setShowGrid(true);
    // Rows as compact as a report list's.
    list->verticalHeader()->setMinimumSectionSize(0);
    list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 6);
    list->setColumnCount(kUsbColumnCount);
    const int W = list->contentsRect().width();
    const struct {
        const char* header;
        int width;
    } columns[kUsbColumnCount] = {
        {"序号", W / 12}, {"状态", W / 6},   {"PID", 0},           {"设备名称", W / 6},
        {"型号", W / 8},  {"序列号", W / 4}, {"机芯版本", W / 10}, {"编译时间", W / 10},
    };
    QHeaderView* header = list->horizontalHeader();
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setMinimumSectionSize(0);
    for (int c = 0; c < kUsbColumnCount; ++c) {
        list->setHorizontalHeaderItem(c,
                                      new QTableWidgetItem(QString::fromUtf8(columns[c].header)));
        header->resizeSection(c, columns[c].width);
    }
}

void FillUsbDeviceList(QTableWidget* list, const std::vector<UsbDeviceEntry>& entries,
                       int maxRows, const std::function<int(const UsbDeviceEntry&)>& addRow) {
    const QSignalBlocker block(list);
    const int rows = std::min<int>(static_cast<int>(entries.size()), maxRows);
    list->setRowCount(rows);
    for (int i = 0; i < rows; ++i) {
        const UsbDeviceEntry& e = entries[static_cast<size_t>(i)];
        const int id = addRow(e);
        const QString texts[kUsbColumnCount] = {
            QString::number(i + 1),
            QString(),
            QString(),
            StoredNameToDisplay(e.name),
            FieldText(e.model, sizeof e.model),
            FieldText(e.serial, sizeof e.serial),
            FieldText(e.biosVersion, sizeof e.biosVersion),
            FieldText(e.buildDate, sizeof e.buildDate),
        };
        for (int c = 0; c < kUsbColumnCount; ++c) {
            auto* item = new QTableWidgetItem(texts[c]);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            if (c == kUsbColNo) {
                item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
                item->setCheckState(Qt::Checked);
                item->setData(Qt::UserRole, id);
            }
            list->setItem(i, c, item);
        }
    }
}

int UsbListIdOf(const QTableWidget* list, int row) {
    const QTableWidgetItem* item = list->item(row, kUsbColNo);
    return item ? item->data(Qt::UserRole).toInt() : -1;
}

int UsbListRowOf(const QTableWidget* list, int id) {
    for (int r = 0; r < list->rowCount(); ++r) {
        const QTableWidgetItem* item = list->item(r, kUsbColNo);
        if (item && item->data(Qt::UserRole).toInt() == id)
            return r;
    }
    return -1;
}

void ShowUsbRow(QTableWidget* list, int row, const QString& status, bool ticked) {
    const QSignalBlocker block(list);
    list->item(row, kUsbColStatus)->setText(status);
    list->item(row, kUsbColStatus)->setToolTip(status);
    list->item(row, kUsbColNo)->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
}

}  // namespace strevo
