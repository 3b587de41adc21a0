#include "CAddCameraDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "DialogUnits.h"

namespace strevo {

CAddCameraDlg::CAddCameraDlg(QWidget* parent, bool storeAvailable) : QDialog(parent) {
    setWindowTitle(QStringLiteral("添加设备"));
    setFont(DefaultDialogFont());
    auto* form = new QFormLayout;
    m_address = new QLineEdit(this);
    m_address->setPlaceholderText(QStringLiteral("192.168.1.10 或 rtsp://192.168.1.10:554/main"));
    m_address->setMinimumWidth(m_address->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 40);
    m_kind = new QComboBox(this);
    m_kind->addItem(QStringLiteral("SDK 设备"), static_cast<int>(CameraKind::kSdk));
    m_kind->addItem(QStringLiteral("RTSP"), static_cast<int>(CameraKind::kRtsp));
    m_kind->addItem(QStringLiteral("ONVIF"), static_cast<int>(CameraKind::kOnvif));
    m_user = new QLineEdit(this);
    m_passwordEdit = new QLineEdit(this);
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    m_remember = new QCheckBox(QStringLiteral("记住密码"), this);
    m_remember->setEnabled(storeAvailable);
    if (!storeAvailable)
        m_remember->setToolTip(QStringLiteral("系统密码库不可用，密码只保存到程序退出"));
    form->addRow(QStringLiteral("地址:"), m_address);
    form->addRow(QStringLiteral("类型:"), m_kind);
    form->addRow(QStringLiteral("用户名:"), m_user);
    form->addRow(QStringLiteral("密码:"), m_passwordEdit);
    form->addRow(QString(), m_remember);
    m_error = new QLabel(this);
    m_error->setStyleSheet(QStringLiteral("color: #c00000"));
    m_error->hide();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CAddCameraDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CAddCameraDlg::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_error);
    layout->addWidget(buttons);
    // A URL typed into the address field says the kind: rtsp:// an RTSP
    // camera, http:// an ONVIF one (its device service).
    connect(m_address, &QLineEdit::textEdited, this, [this](const QString& text) {
        const QString typed = text.trimmed();
        if (typed.startsWith(QStringLiteral("rtsp://"), Qt::CaseInsensitive))
            m_kind->setCurrentIndex(m_kind->findData(static_cast<int>(CameraKind::kRtsp)));
        else if (typed.startsWith(QStringLiteral("http://"), Qt::CaseInsensitive))
            m_kind->setCurrentIndex(m_kind->findData(static_cast<int>(CameraKind::kOnvif)));
    });
}

CAddCameraDlg::~CAddCameraDlg() {
    m_password.assign(m_password.size(), '\0');
}

bool CAddCameraDlg::RememberPassword() const {
    return m_remember->isEnabled() && m_remember->isChecked();
}

void CAddCameraDlg::accept() {
    AddedCamera camera;
    camera.user = m_user->text().trimmed().toStdString();
    std::string password = m_passwordEdit->text().toStdString();
    std::string why;
    const auto kind = static_cast<CameraKind>(m_kind->currentData().toInt());
    if (!NormaliseAddress(kind, m_address->text().toStdString(), &camera, &password, &why)) {
        m_error->setText(QString::fromStdString(why));
        m_error->show();
        m_address->setFocus();
        return;
    }
    m_camera = std::move(camera);
    m_password = std::move(password);
    QDialog::accept();
}

}  // namespace strevo
