// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "fileread.h"
#include "hostcollection.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <string>

class frmEditEntry;
class HostsListView;
class HostsTableModel;
class QLabel;
class QLineEdit;
class QPushButton;

namespace platform {
class KeyPreview;
}

// The main window: the add panel, the list of entries, removal, and leaving
// with or without writing the hosts file. It owns the program's state.
class frmMain : public QWidget {
    Q_OBJECT

public:
    // Where the hosts file is; the system's own file unless a caller says otherwise.
    using HostsPathSource = std::function<std::string()>;

    explicit frmMain(HostsPathSource hostsPath = {}, QWidget* parent = nullptr);
    ~frmMain() override;

    HostCollection cHosts;
    bool m_HasChanged = false;

    // Start-up: the path, the window shown, the file read, the list built.
    void Form_Load();
    void Form_KeyUp(int KeyCode, int Shift);

    void cmdAdd_Click();
    void cmdRemove_Click();
    void cmRemoveAll_Click();
    void lstHosts_ItemClick(int row);
    void lstHosts_DblClick();
    void cmdClose_Click();
    void cmdCancel_Click();
    void cmdInformation_Click();

    const std::string& headerText() const { return m_HeaderText; }
    // The entry editor, once an entry has been opened; null before.
    frmEditEntry* entryEditor() const { return editor_.get(); }

signals:
    // Sent once, when the program is about to end.
    void programEnding();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend struct MainWindowBench;

    void RefreshList();
    void LoadHostsFile();
    bool SaveHostsFile();

    void buildControls();
    int selectedRow() const;
    void applyRemoveRule(int row);
    // Asks before leaving when something changed; false when the user stays.
    bool confirmLeaving();
    void endProgram();

    HostsPathSource hostsPathSource_;
    std::string m_HostsPath;
    std::string m_HeaderText;
    fileaccess::HostsFileReading reading_;
    bool ending_ = false;
    bool savingWithHelper_ = false;
    std::unique_ptr<frmEditEntry> editor_;

    HostsTableModel* model_ = nullptr;
    platform::KeyPreview* keyPreview_ = nullptr;
    QWidget* Frame1 = nullptr;
    QLineEdit* txtHost = nullptr;
    QLineEdit* txtIP = nullptr;
    QLineEdit* txtComment = nullptr;
    QPushButton* cmdAdd = nullptr;
    HostsListView* lstHosts = nullptr;
    QLabel* lblHostsFile = nullptr;
    QPushButton* cmdRemove = nullptr;
    QPushButton* cmRemoveAll = nullptr;
    QPushButton* cmdInformation = nullptr;
    QPushButton* cmdCancel = nullptr;
    QPushButton* cmdClose = nullptr;
};
