// Common ground of the six parameter pages: a child widget built from its own
// template, a host to write through, the title label that only the main
// window shows, and the one mechanism that turns the operator's changes into
// single-field writes. Each page hands in its template and its row table.
//
// Every page row keeps the value last shown or sent (the value slot of a
// slider, the index of a list), like dialog data exchange: ReadControls takes
// them from the controls, WriteControls puts them back. Writes come only from
// the operator's own actions (moving a slider, leaving a number box, choosing
// from a list); showing a record never writes.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <vector>

#include "IParamHost.h"
#include "ParamRows.h"

class QComboBox;
class QLineEdit;
class QSlider;
class QTimer;

namespace strevo {

struct VideoParam;
struct VideoParamField;

class CParamPage : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kTitleLabelId = 1509;
    // A slider being moved writes at most once per this many milliseconds.
    static constexpr uint32_t kDragIntervalMs = 500;

    ~CParamPage() override;

    int TemplateId() const { return m_templateId; }

    // mainWindow: the host is the main window (USB camera, title shown);
    // otherwise the image parameter dialog (network camera, title hidden).
    void SetHost(IParamHost* host, bool mainWindow);
    IParamHost* Host() const { return m_pHost; }
    bool IsMainWindowHost() const { return m_bMainWnd; }

    // Shows the page's own fields of the record; never writes to the camera.
    virtual void ShowParams(const VideoParam& param);

    // Writes one field through the host; "设置失败！" on a negative result.
    int32_t SetParam(const char* key, int32_t value);

    // Sends a number box that holds an edit not yet sent, as leaving it would:
    // the page or its window is going away (closed, or put away by a mode
    // switch) while the box still has the operator's value.
    void CommitEdit();

    // Enables and disables the rows that depend on a mode ("exp_mode",
    // "wdr_mode", "wb_mode", "defog_mode"); other selectors do nothing.
    void EnableByMode(const char* selector, int value);

    // Disables for good the rows whose key the camera has no setting for
    // (cameras of another protocol); no mode enables them again.
    void DisableRowsWithout(const std::function<bool(const char* key)>& hasSetting);
    bool RowDisabledForGood(const char* key) const;

    // Millisecond tick count behind the drag throttle, for the whole process
    // (tests install a fake one); an empty function restores the steady clock.
    static void SetTickSource(std::function<uint32_t()> source);

  protected:
    CParamPage(int templateId, const PageLayout& layout, QWidget* parent);
    // Called by each page once its template is set up: scales it, gives the
    // title label its font, binds the rows to their controls and shows the
    // initial values.
    void FinishTemplate();

    // Dialog data exchange over all rows. ReadControls prompts for a number
    // box that does not hold an integer, shows that box's value slot again and
    // keeps the slot; false when any box was refused.
    bool ReadControls();
    void WriteControls();

    // Value slot of the show-only box of a row, by the box's id.
    void SetBoxValue(int boxId, int value);

    QComboBox* List(int ctrlId) const;

    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Row {
        const ParamRow* def = nullptr;
        const VideoParamField* field = nullptr;
        QSlider* slider = nullptr;
        QComboBox* list = nullptr;
        QLineEdit* box = nullptr;
        QWidget* label = nullptr;
        int slot = 0;   // value slot (sliders, show-only boxes)
        int index = 0;  // list index
        bool movedWhileDown = false;
        bool edited = false;        // the box holds typed text not yet sent
        bool unavailable = false;   // the camera has no such setting
        QTimer* pending = nullptr;  // sends a change the throttle held back
    };

    void BindRows();
    Row* RowOfControl(int ctrlId);
    Row* RowOfBox(const QObject* box);
    void SetSliderQuietly(Row& row, int position);
    int SlotPosition(const Row& row) const;

    void OnSliderChanged(Row& row);
    void OnSliderReleased(Row& row);
    void OnBoxLeft(Row& row);
    void OnListChosen(Row& row);
    bool FilterList(Row& row, QEvent* event);
    void SendSlider(Row& row, int position);

    int m_templateId;
    const PageLayout& m_layout;
    std::vector<Row> m_rows;
    IParamHost* m_pHost = nullptr;
    bool m_bMainWnd = false;
    bool m_quiet = false;  // controls are being set by the page itself
};

}  // namespace strevo
