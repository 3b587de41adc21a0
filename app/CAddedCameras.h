// The cameras the operator added by address: their own root in the device tree
// ("手动添加的设备", IP mode), "添加设备…" and "删除设备" in the tree's menu,
// the list in toolscfg.ini and the passwords (CPasswordStore).
#pragma once

#include <QObject>
#include <string>
#include <vector>

#include "CPasswordStore.h"
#include "CameraList.h"

class QAction;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace strevo {

class CAddCameraDlg;

class CAddedCameras : public QObject {
    Q_OBJECT
  public:
    // The root of the added cameras goes under parent, after the items it has.
    CAddedCameras(QTreeWidget* tree, QTreeWidgetItem* parent, QMenu* treeMenu, std::string iniPath,
                  QWidget* dialogParent);
    ~CAddedCameras() override;

    // Shown in IP mode only.
    void SetVisible(bool visible);
    QTreeWidgetItem* Root() const { return m_root; }
    const std::vector<AddedCamera>& Cameras() const { return m_cameras; }
    // The added camera of a tree item, null for any other item.
    const AddedCamera* Find(const QTreeWidgetItem* item) const;
    QTreeWidgetItem* ItemOf(size_t index) const { return m_items.at(index); }
    Credentials CredentialsOf(const AddedCamera& camera);
    // A camera opened from the pane (kind, address and credentials).
    std::unique_ptr<ICamera> MakeCamera(const AddedCamera& camera);

    // Adds a camera (the same one again only selects it); false when the list
    // is full or could not be saved (the operator has been told).
    bool Add(const AddedCamera& camera, const std::string& password, bool remember);
    bool Remove(const QTreeWidgetItem* item);

    // Menu commands.
    void OnAdd();
    void OnRemove();
    QAction* AddAction() const { return m_addAction; }
    QAction* RemoveAction() const { return m_removeAction; }

  protected:
    // The dialog's run, replaced by tests.
    virtual int RunDialog(CAddCameraDlg& dialog);

  private:
    QTreeWidgetItem* NewItem(const AddedCamera& camera);
    bool Save();

    QTreeWidget* m_tree;
    QWidget* m_dialogParent;
    std::string m_iniPath;
    QTreeWidgetItem* m_root;
    QAction* m_addAction;
    QAction* m_removeAction;
    std::vector<AddedCamera> m_cameras;
    std::vector<QTreeWidgetItem*> m_items;  // in the order of m_cameras
    CPasswordStore m_passwords;
};

}  // namespace strevo
