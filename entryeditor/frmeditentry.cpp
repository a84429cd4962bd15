// SPDX-License-Identifier: GPL-3.0-or-later
#include "frmeditentry.h"

#include "controls.h"
#include "guard.h"
#include "hostname.h"
#include "messagebox.h"
#include "pictures.h"
#include "text.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

using platform::MessageButtons;
using platform::MessageIcon;

frmEditEntry::frmEditEntry(HostCollection& hosts, bool& hasChanged, QWidget* owner)
    : QDialog(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , cHosts(hosts)
    , m_HasChanged(hasChanged)
{
    using platform::captionFont;
    using platform::placeTwips;

    setObjectName(QStringLiteral("frmEditEntry"));
    setWindowTitle(QStringLiteral("Edit Entry"));
    setModal(true);
    setFont(captionFont());
    setFixedSize(platform::twipsToPixels(5670), platform::twipsToPixels(2205));

    auto* frame = new QGroupBox(this);
    frame->setObjectName(QStringLiteral("freMain"));
    placeTwips(frame, 90, 30, 5490, 1590);

    platform::placeCaptions(frame,
                            {{1, "NAME OF HOSTS", 150, 225, true},
                             {2, "IP ADDRESS", 3645, 210, true},
                             {4, "COMMENTS (OPTIONAL)", 150, 840, false}});

    txtHost = platform::makeTextBox(frame, "txtHost", QStringLiteral("Name of hosts"));
    placeTwips(txtHost, 135, 495, 3345, 285);
    txtIP = platform::makeTextBox(frame, "txtIP", QStringLiteral("IP address"));
    placeTwips(txtIP, 3645, 480, 1725, 300);
    txtComment = platform::makeTextBox(frame, "txtComment", QStringLiteral("Comments (optional)"));
    placeTwips(txtComment, 150, 1095, 3345, 285);

    cmdRevert = platform::makePictureButton(this, "cmdRevert", resources::picture("revert"),
                                            QStringLiteral("Revert changes"), QStringLiteral("Revert changes"));
    placeTwips(cmdRevert, 90, 1725, 390, 390);
    cmdRevert->setEnabled(false);
    cmdCancel = platform::makeButton(this, "cmdCancel", QStringLiteral("CANCEL [ESC]"), captionFont());
    placeTwips(cmdCancel, 3000, 1680, 1215, 375);
    cmdSaveClose = platform::makeButton(this, "cmdSaveClose", QStringLiteral("SAVE/CLOSE"), captionFont());
    placeTwips(cmdSaveClose, 4320, 1680, 1215, 375);

    platform::tieCaption(frame, 1, txtHost);
    platform::tieCaption(frame, 2, txtIP);
    platform::tieCaption(frame, 4, txtComment);

    platform::setTabOrder({cmdSaveClose, cmdCancel, txtHost, txtIP, txtComment, cmdRevert});
    cmdSaveClose->setFocus();

    // Every action behind the last guard: whatever fails unexpectedly is
    // told, and the window and the edits stay.
    using platform::guarded;
    connect(txtHost, &QLineEdit::textChanged, this, guarded([this] { txtHost_Change(); }));
    connect(txtIP, &QLineEdit::textChanged, this, guarded([this] { txtIP_Change(); }));
    connect(txtComment, &QLineEdit::textChanged, this, guarded([this] { txtComment_Change(); }));
    connect(cmdRevert, &QPushButton::clicked, this, guarded([this] { cmdRevert_Click(); }));
    connect(cmdCancel, &QPushButton::clicked, this, guarded([this] { cmdCancel_Click(); }));
    connect(cmdSaveClose, &QPushButton::clicked, this, guarded([this] { cmdSaveClose_Click(); }));
}

void frmEditEntry::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Once per showing: a restore from the taskbar or a message box closing
    // must not overwrite the edits in progress.
    if (!event->spontaneous())
        platform::runGuarded([this] { Form_Activate(); });
}

void frmEditEntry::Form_Activate()
{
    txtHost->setText(platform::textFromFile(SelectedItem->host()));
    txtIP->setText(platform::textFromFile(SelectedItem->ip()));
    txtComment->setText(platform::textFromFile(SelectedItem->comment()));
    filledHost_ = txtHost->text();
    filledIP_ = txtIP->text();
    filledComment_ = txtComment->text();
    cmdRevert->setEnabled(false);
}

std::string frmEditEntry::bytesOf(const QLineEdit* box, const QString& filled, std::string_view original) const
{
    if (box->text() == filled)
        return std::string(original);
    return platform::textForFile(platform::trimSpaces(box->text()));
}

void frmEditEntry::txtHost_Change()
{
    cmdRevert->setEnabled(true);
}

void frmEditEntry::txtIP_Change()
{
    cmdRevert->setEnabled(true);
}

void frmEditEntry::txtComment_Change()
{
    cmdRevert->setEnabled(true);
}

void frmEditEntry::cmdRevert_Click()
{
    Form_Activate();
}

void frmEditEntry::cmdCancel_Click()
{
    hide();
}

void frmEditEntry::reject()
{
    cmdCancel->click();
}

void frmEditEntry::closeEvent(QCloseEvent* event)
{
    closedByTitleBar_ = true;
    event->accept();
}

void frmEditEntry::cmdSaveClose_Click()
{
    if (!cmdRevert->isEnabled()) {
        hide();
        return;
    }
    const std::string host = asciiLower(bytesOf(txtHost, filledHost_, SelectedItem->host()));
    const std::string address = bytesOf(txtIP, filledIP_, SelectedItem->ip());
    const std::string comment = bytesOf(txtComment, filledComment_, SelectedItem->comment());
    if (host.empty() || address.empty()) {
        platform::showMessage(QStringLiteral("Please enter at least a hostname and an IP address."), MessageButtons::Ok,
                              MessageIcon::Information, QStringLiteral("Error"));
        return;
    }
    if (!fitsOnHostsLine(host, address)) {
        platform::showMessage(QString::fromLatin1(kHashInEntryMessage), MessageButtons::Ok, MessageIcon::Information,
                              QStringLiteral("Error"));
        return;
    }

    const std::string_view editedHost = SelectedItem->host();
    for (const HostEntry& entry : cHosts) {
        if (entry.host() == host && entry.host() != editedHost) {
            platform::showMessage(QStringLiteral("This hostname already exists!"), MessageButtons::Ok,
                                  MessageIcon::Information, QStringLiteral("Error"));
            return;
        }
    }

    // The key is tested before the edited entry is taken out, so that a
    // refusal leaves the collection exactly as it was.
    if (const HostEntryRef present = cHosts.lookUp(host); present && present != SelectedItem) {
        platform::showMessage(QStringLiteral("This hostname already exists!"), MessageButtons::Ok,
                              MessageIcon::Exclamation, QStringLiteral("Error"));
        return;
    }
    cHosts.remove(editedHost);
    cHosts.add(HostEntry::create(address, host, comment));
    m_HasChanged = true;
    hide();
}
