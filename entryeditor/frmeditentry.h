// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "hostcollection.h"

#include <QDialog>

#include <string>
#include <string_view>

class QLineEdit;
class QPushButton;

// The modal dialog that edits one entry. It works on the owner's collection
// and changed flag directly; SelectedItem is the very entry stored in the
// collection. Its buttons only hide it, so one instance serves many openings.
class frmEditEntry : public QDialog {
    Q_OBJECT

public:
    frmEditEntry(HostCollection& hosts, bool& hasChanged, QWidget* owner);

    HostEntryRef SelectedItem;

    // Fills the boxes from SelectedItem; the change state ends unchanged.
    void Form_Activate();
    void txtHost_Change();
    void txtIP_Change();
    void txtComment_Change();
    void cmdRevert_Click();
    void cmdCancel_Click();
    void cmdSaveClose_Click();

    // True once the title bar's close button has closed this instance; the
    // opener then makes a new one for the next opening.
    bool closedByTitleBar() const { return closedByTitleBar_; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // Esc clicks CANCEL [ESC].
    void reject() override;

private:
    // The bytes to store for a box: the entry's own where the box still shows
    // what it was filled with, so that bytes the system's encoding cannot
    // show (or that the box shows as blanks) survive an edit of another box.
    std::string bytesOf(const QLineEdit* box, const QString& filled, std::string_view original) const;

    HostCollection& cHosts;
    bool& m_HasChanged;
    bool closedByTitleBar_ = false;

    QLineEdit* txtHost = nullptr;
    QLineEdit* txtIP = nullptr;
    QLineEdit* txtComment = nullptr;
    QString filledHost_;
    QString filledIP_;
    QString filledComment_;
    QPushButton* cmdRevert = nullptr;
    QPushButton* cmdCancel = nullptr;
    QPushButton* cmdSaveClose = nullptr;
};
