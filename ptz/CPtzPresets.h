// "预置位": the presets of the selected camera, under the PTZ panel, for
// cameras that keep presets. "调用" moves the camera to the chosen one,
// "设置" stores the current position in it (a new preset when none is chosen),
// "删除" removes it after the operator confirms.
#pragma once

#include <QGroupBox>
#include <functional>
#include <string>
#include <vector>

#include "PtzControl.h"

class QListWidget;
class QPushButton;

class CPtzPresets : public QGroupBox {
    Q_OBJECT
  public:
    explicit CPtzPresets(QWidget* parent = nullptr);
    ~CPtzPresets() override;

    // The camera whose presets are listed (kept by the camera, which outlives
    // the selection); reads its list. Null empties the list.
    void SetControl(strevo::IPtzControl* control);
    strevo::IPtzControl* Control() const { return m_control; }
    void Reload();

    // The preset at this position of the list (0 first); false when there is
    // none or the camera refused.
    bool CallPreset(int position);

    void OnCall();
    void OnSet();
    void OnRemove();

    QListWidget* List() const { return m_list; }
    QPushButton* CallButton() const { return m_call; }
    QPushButton* SetButton() const { return m_set; }
    QPushButton* RemoveButton() const { return m_remove; }
    const std::vector<strevo::PtzPreset>& Presets() const { return m_presets; }

    // Asks OK/Cancel; tests replace it.
    std::function<bool(const QString& question)> confirm;

  private:
    void Fill(const std::string& selectToken);
    void UpdateButtons();
    // "TEXT: the camera's reason" for a refused command.
    void Failed(const char* what);

    strevo::IPtzControl* m_control = nullptr;
    std::vector<strevo::PtzPreset> m_presets;
    QListWidget* m_list;
    QPushButton* m_call;
    QPushButton* m_set;
    QPushButton* m_remove;
};
