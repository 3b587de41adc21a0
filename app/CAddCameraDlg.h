// "添加设备…": a camera the discovery cannot see, by its address or RTSP URL.
#pragma once

#include <QDialog>
#include <string>

#include "CameraList.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QLabel;

namespace strevo {

class CAddCameraDlg : public QDialog {
    Q_OBJECT
  public:
    // storeAvailable: whether "记住密码" can work (greyed otherwise).
    CAddCameraDlg(QWidget* parent, bool storeAvailable);
    ~CAddCameraDlg() override;

    // After exec() returned Accepted.
    const AddedCamera& Camera() const { return m_camera; }
    const std::string& Password() const { return m_password; }
    bool RememberPassword() const;

    QLineEdit* AddressEdit() const { return m_address; }
    QComboBox* KindBox() const { return m_kind; }
    QLineEdit* UserEdit() const { return m_user; }
    QLineEdit* PasswordEdit() const { return m_passwordEdit; }
    QCheckBox* RememberBox() const { return m_remember; }
    QLabel* ErrorText() const { return m_error; }

    void accept() override;

  private:
    QLineEdit* m_address;
    QComboBox* m_kind;
    QLineEdit* m_user;
    QLineEdit* m_passwordEdit;
    QCheckBox* m_remember;
    QLabel* m_error;
    AddedCamera m_camera;
    std::string m_password;
};

}  // namespace strevo
