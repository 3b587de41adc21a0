// Asks the operator for the path of a parameter file. Folder mode (the
// default, used for export) picks a folder and appends the file name; file
// mode (import) picks an existing file. The path may also be typed directly.
#pragma once

#include <QDialog>
#include <QString>
#include <memory>

namespace Ui {
class Dlg284;
}

namespace strevo {

class CDlgBrowser : public QDialog {
    Q_OBJECT
  public:
    static constexpr const char* kFileName = "video_params.dat";

    explicit CDlgBrowser(QWidget* parent = nullptr);
    ~CDlgBrowser() override;

    // Set before running the dialog: true picks a folder, false a file.
    bool m_bFolderMode = true;
    // Shown in the edit when the dialog opens; holds the edit's text after OK.
    QString m_strPath;

    // Path after the folder browser: the chosen folder (or "." when the
    // browser was cancelled) followed by the separator and the file name.
    static QString FolderModePath(bool chosen, const QString& folder);
    // Path after the file dialog: the chosen file, or empty when cancelled.
    static QString FileModePath(bool chosen, const QString& file);

    void accept() override;

  public slots:
    void OnBrowse();

  protected:
    // Ask the operator; false when cancelled. Virtual so tests can answer.
    virtual bool ChooseFolder(QString* folder);
    virtual bool ChooseFile(QString* file);

    void showEvent(QShowEvent* event) override;

  private:
    std::unique_ptr<Ui::Dlg284> m_ui;
};

}  // namespace strevo
